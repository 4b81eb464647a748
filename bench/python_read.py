"""The benchmark's Python section: one entry read in 1 MiB pieces, by the
C handle API (bench_pieces), by qzarc.QzFile.open().read() and by Python's
zipfile on a zip carrying the very same Deflate stream. Each is timed inside
its process, from opening the archive to the verified end, so that neither
counts an interpreter's or a program's start-up; the three alternate, and
medians are reported as a Markdown table on standard output.

    python3 bench/python_read.py --pieces build/linux/bench_pieces \\
        --archive build/bench/archives/binary-m8.qza \\
        --zip build/bench/archives/binary-m8.zip [--repeats 7] [--corpus binary]

Needs the package on PYTHONPATH and QZARC_LIBRARY (qzbench sets both).
"""

import argparse
import statistics
import subprocess
import sys
import time
import zipfile

import qzarc

PIECE = 1 << 20


def c_handle_api(args):
    done = subprocess.run([args.pieces, args.archive, str(PIECE)], check=True, capture_output=True, text=True)
    seconds, size = done.stdout.split()
    return float(seconds), int(size)


def read_first_entry(archive_class, path):
    """Opens the archive with archive_class (QzFile or ZipFile), reads its
    first entry in PIECE-byte reads; (seconds, bytes)."""
    start = time.perf_counter()
    size = 0
    with archive_class(path) as archive, archive.open(archive.infolist()[0]) as entry:
        while True:
            piece = entry.read(PIECE)
            if not piece:
                break
            size += len(piece)
    return time.perf_counter() - start, size


def python_qzarc(args):
    return read_first_entry(qzarc.QzFile, args.archive)


def python_zipfile(args):
    return read_first_entry(zipfile.ZipFile, args.zip)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pieces", required=True)
    parser.add_argument("--archive", required=True)
    parser.add_argument("--zip", required=True)
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--corpus", default="binary")
    args = parser.parse_args()

    rows = [
        ("C handle API (`bench_pieces`, qz_archive_read)", c_handle_api),
        ("Python `qzarc.QzFile.open().read(1 MiB)`", python_qzarc),
        ("Python `zipfile.ZipFile.open().read(1 MiB)` (same stream)", python_zipfile),
    ]
    times = {label: [] for label, _ in rows}
    sizes = set()
    for label, run in rows:  # once each to warm the page cache
        sizes.add(run(args)[1])
    if len(sizes) != 1:
        sys.exit("python_read: the three read different sizes: %s" % sorted(sizes))
    for _ in range(args.repeats):
        for label, run in rows:
            times[label].append(run(args)[0])
    base = statistics.median(times[rows[0][0]])
    print("| corpus | reader | wall s (median of %d) | ratio |" % args.repeats)
    print("| --- | --- | ---: | ---: |")
    for label, _ in rows:
        median = statistics.median(times[label])
        print("| %s | %s | %.3f | %.2f%s |" % (args.corpus, label, median, median / base,
                                               " (base)" if label == rows[0][0] else ""))
    print()
    print("Entry: %.1f MiB; Python %s; library %s." % (sizes.pop() / (1 << 20), sys.version.split()[0],
                                                        qzarc.library_version()))


if __name__ == "__main__":
    main()
