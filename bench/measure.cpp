#include "measure.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <regex>

namespace qzb {

namespace {

void Redirect(int target, const std::string &path, int flags) {
    const int fd = ::open(path.empty() ? "/dev/null" : path.c_str(), flags, 0644);
    if (fd < 0)
        _exit(126);
    ::dup2(fd, target);
    ::close(fd);
}

pid_t Spawn(const std::vector<std::string> &argv, const std::string &stdoutPath,
            const std::string &stderrPath, const std::string &cwd) {
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0)
            _exit(126);
        Redirect(0, "", O_RDONLY);
        Redirect(1, stdoutPath, O_WRONLY | O_CREAT | O_TRUNC);
        Redirect(2, stderrPath, O_WRONLY | O_CREAT | O_TRUNC);
        ::execvp(args[0], args.data());
        _exit(127);
    }
    if (pid < 0) {
        std::perror("qzbench: fork");
        std::exit(2);
    }
    return pid;
}

}  // namespace

static std::string gSpawner = "bench_spawn";

void SetSpawner(const std::string &path) { gSpawner = path; }

Sample RunMeasured(const Command &command, const std::string &errorLog) {
    const std::string report = errorLog + ".report";
    std::vector<std::string> argv = {gSpawner, report, command.stdoutPath.empty() ? "-" : command.stdoutPath,
                                     errorLog, command.cwd.empty() ? "." : command.cwd};
    argv.insert(argv.end(), command.argv.begin(), command.argv.end());
    const int spawned = RunPlain(argv, "", "");
    int status = -1;
    Sample s;
    long rssKiB = 0;
    std::ifstream in(report);
    if (spawned == 0 && in)
        in >> status >> s.cpu >> s.wall >> rssKiB >> s.user >> s.sys;
    if (status != 0) {
        std::cerr << "qzbench: command failed (" << command.label << "):";
        for (const std::string &a : command.argv)
            std::cerr << ' ' << a;
        std::cerr << "\n";
        std::ifstream err(errorLog);
        std::cerr << err.rdbuf() << "\n";
        std::exit(2);
    }
    s.rssMiB = double(rssKiB) / 1024.0;
    return s;
}

int RunPlain(const std::vector<std::string> &argv, const std::string &stdoutPath,
             const std::string &stderrPath, const std::string &cwd) {
    const pid_t pid = Spawn(argv, stdoutPath, stderrPath, cwd);
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

uint64_t CallgrindInstructions(const std::vector<std::string> &argv, const std::string &logPrefix) {
    std::vector<std::string> run = {"valgrind", "--tool=callgrind", "--callgrind-out-file=" + logPrefix + ".out"};
    run.insert(run.end(), argv.begin(), argv.end());
    if (RunPlain(run, "", logPrefix + ".err") != 0)
        return 0;
    std::ifstream in(logPrefix + ".err");
    const std::regex collected("Collected : ([0-9]+)");
    std::smatch m;
    uint64_t count = 0;
    for (std::string line; std::getline(in, line);)
        if (std::regex_search(line, m, collected))
            count = std::stoull(m[1]);
    return count;
}

std::string GroupDigits(uint64_t value) {
    const std::string digits = std::to_string(value);
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0)
            grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

double Samples::Median(double Sample::*field) const {
    std::vector<double> v;
    for (const Sample &s : samples)
        v.push_back(s.*field);
    return qzb::Median(v);
}

}  // namespace qzb
