/*
 * bench_spawn REPORT STDOUT STDERR DIR PROGRAM [ARGS...]
 *
 * Runs PROGRAM in DIR with the given stdout and stderr files ("-" keeps
 * /dev/null) and writes "status cpu wall rss user sys" to REPORT: its exit
 * status, user+sys seconds, wall seconds, peak RSS in KiB, then user and sys
 * seconds apart, all of the child (and the children it waited for) alone.
 *
 * The benchmark measures through this small program rather than forking
 * itself: Linux counts the resident set a child had before exec in its peak
 * RSS, and the benchmark holds its corpora in memory, while this program
 * stays at a few hundred KiB.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static void redirect(int target, const char *path, int flags)
{
    int fd = open(path[0] == '-' && path[1] == '\0' ? "/dev/null" : path, flags, 0644);
    if (fd < 0)
        _exit(126);
    dup2(fd, target);
    close(fd);
}

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char **argv)
{
    if (argc < 6) {
        fprintf(stderr, "usage: bench_spawn REPORT STDOUT STDERR DIR PROGRAM [ARGS...]\n");
        return 2;
    }
    double start = now();
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(argv[4]) != 0)
            _exit(126);
        redirect(0, "-", O_RDONLY);
        redirect(1, argv[2], O_WRONLY | O_CREAT | O_TRUNC);
        redirect(2, argv[3], O_WRONLY | O_CREAT | O_TRUNC);
        execvp(argv[5], argv + 5);
        _exit(127);
    }
    if (pid < 0)
        return 2;
    int status = 0;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid)
        return 2;
    double wall = now() - start;
    double user = (double)usage.ru_utime.tv_sec + (double)usage.ru_utime.tv_usec / 1e6;
    double sys = (double)usage.ru_stime.tv_sec + (double)usage.ru_stime.tv_usec / 1e6;
    FILE *report = fopen(argv[1], "w");
    if (report == NULL)
        return 2;
    fprintf(report, "%d %.6f %.6f %ld %.6f %.6f\n", WIFEXITED(status) ? WEXITSTATUS(status) : 128,
            user + sys, wall, (long)usage.ru_maxrss, user, sys);
    fclose(report);
    return 0;
}
