"""The Python package against archives made by qzarc's own writer (the
command-line tool's `a`), with the library of the build tree.

Run by ctest (entry `python`) with QZARC_LIBRARY, QZARC_CLI and PYTHONPATH
set; by hand:
    QZARC_LIBRARY=build/linux/libqzarc.so.1 QZARC_CLI=build/linux/qzarc \\
    PYTHONPATH=python python3 -m unittest discover -s tests/python
"""

import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zlib

import qzarc

CLI = os.path.abspath(os.environ["QZARC_CLI"]) if "QZARC_CLI" in os.environ else "qzarc"
STAMP = 1_600_000_000  # 2020-09-13 12:26:40 UTC


def noise(size, seed):
    return random.Random(seed).randbytes(size)


def text(size, seed):
    words = [b"alpha", b"beta", b"gamma", b"delta", b"archive", b"entry", b"\n"]
    rng = random.Random(seed)
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + b" "
    return bytes(out[:size])


class Workspace(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="qzarc-py-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def make(self, name, files, *options, read_only=()):
        """An archive `name` of `files` ({relative path: bytes}), written by the
        command-line tool from a tree of those files."""
        source = self.path("src-" + name)
        for relative, data in files.items():
            full = os.path.join(source, relative)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(data)
            os.utime(full, (STAMP, STAMP))
            if relative in read_only:
                os.chmod(full, 0o444)
        archive = self.path(name)
        subprocess.run([CLI, "a", archive, *options, *files], cwd=source, check=True,
                       stdout=subprocess.DEVNULL)
        return archive


class Reading(Workspace):
    FILES = {
        "empty.txt": b"",
        "one.bin": b"\x00",
        "docs/words.txt": text(300_000, 1),
        "data/noise.bin": noise(3 << 20, 2),
    }

    def test_listing_and_reading_match_what_was_archived(self):
        for method in ("deflate", "store"):
            with self.subTest(method=method), qzarc.QzFile(self.make(method + ".qza", self.FILES, "-m", method)) as z:
                expected_names = [n.replace("/", "\\") for n in self.FILES]
                self.assertEqual(z.namelist(), expected_names)
                for info, (name, data) in zip(z.infolist(), self.FILES.items()):
                    self.assertEqual(info.orig_filename, name.replace("/", "\\").encode())
                    self.assertEqual((info.file_size, info.CRC), (len(data), zlib.crc32(data)))
                    # Recorded as local time by the zone's offset of the day of writing.
                    self.assertEqual(info.date_time, time.gmtime(STAMP + time.localtime().tm_gmtoff)[:6])
                    self.assertEqual(info.mtime, STAMP)
                    self.assertFalse(info.is_encrypted() or info.is_dir())
                    self.assertIn(info.compress_type, (0,) if method == "store" else (0, 8))
                    self.assertEqual(z.read(info), data)
                    self.assertEqual(z.read(name), data)  # '/' finds the '\' name
                self.assertIsNone(z.testzip())
                self.assertEqual(z.getinfo("docs\\words.txt").compress_type, 8 if method == "deflate" else 0)
                with self.assertRaises(KeyError):
                    z.getinfo("missing.txt")

    def test_open_streams_in_pieces_lines_and_interleaved(self):
        archive = self.make("a.qza", self.FILES)
        big, words = self.FILES["data/noise.bin"], self.FILES["docs/words.txt"]
        with qzarc.QzFile(archive) as z:
            with z.open("data/noise.bin") as f:
                self.assertTrue(f.readable())
                self.assertFalse(f.seekable())
                got = f.read(7) + f.read(1 << 20)
                buffer = bytearray(100_000)
                n = f.readinto(buffer)
                got += bytes(buffer[:n]) + f.read()
                self.assertEqual(got, big)
                self.assertEqual(f.read(), b"")
            with z.open(z.getinfo("docs\\words.txt")) as f:
                self.assertEqual(list(f), words.splitlines(keepends=True))
            # Two open entries of one archive, read in turns.
            a, b = z.open("data/noise.bin"), z.open("docs/words.txt")
            parts = {id(a): [], id(b): []}
            for _ in range(40):
                for f in (a, b):
                    parts[id(f)].append(f.read(40_000))
            parts[id(a)].append(a.read())
            parts[id(b)].append(b.read())
            self.assertEqual(b"".join(parts[id(a)]), big)
            self.assertEqual(b"".join(parts[id(b)]), words)
            a.close()
            # An entry file outlives its archive's close.
            z.close()
            self.assertEqual(b.read(), b"")
            b.close()
            with self.assertRaises(ValueError):
                z.read("one.bin")

    def test_duplicate_names_give_the_last(self):
        first = self.make("1.qza", {"same.txt": b"first"})
        second = self.make("2.qza", {"same.txt": b"second", "other.txt": b"x"})
        joined = self.path("joined.qza")
        with open(joined, "wb") as out:
            for part in (first, second):
                with open(part, "rb") as f:
                    out.write(f.read())
        with qzarc.QzFile(os.fsencode(joined)) as z:
            self.assertEqual(z.namelist(), ["same.txt", "same.txt", "other.txt"])
            self.assertEqual(z.getinfo("same.txt").index, 1)
            self.assertEqual(z.read("same.txt"), b"second")
            self.assertEqual(z.read(z.infolist()[0]), b"first")

    def test_two_archives_on_two_threads(self):
        data = {"x%d.bin" % i: noise(1 << 20, 10 + i) + text(1 << 20, i) for i in range(3)}
        archives = [self.make("t%d.qza" % k, data) for k in range(2)]
        results, errors = {}, []

        def work(k):
            try:
                with qzarc.QzFile(archives[k]) as z:
                    for _ in range(3):
                        for name in z.namelist():
                            with z.open(name) as f:
                                results[(k, name)] = b"".join(iter(lambda: f.read(1 << 20), b""))
                    self.assertIsNone(z.testzip())
            except BaseException as error:  # reported on the main thread
                errors.append(error)

        threads = [threading.Thread(target=work, args=(k,)) for k in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(errors, [])
        for (k, name), got in results.items():
            self.assertEqual(got, data[name], (k, name))


class Passwords(Workspace):
    def test_encrypted_entries(self):
        data = text(200_000, 3)
        archive = self.make("e.qza", {"secret.txt": data, "also.bin": noise(5000, 4)}, "-p", "s3cret")
        with qzarc.QzFile(archive) as z:
            self.assertTrue(all(info.is_encrypted() for info in z.infolist()))
            for pwd in (None, b"wrong"):
                with self.assertRaises(qzarc.BadPassword) as caught:
                    z.open("secret.txt", pwd=pwd)
                self.assertIsInstance(caught.exception, RuntimeError)
                with self.assertRaises(qzarc.BadPassword):
                    z.testzip()
            self.assertEqual(z.read("secret.txt", pwd=b"s3cret"), data)
            z.setpassword("s3cret")  # str is taken as UTF-8
            self.assertIsNone(z.testzip())
        with qzarc.QzFile(archive, pwd=b"s3cret") as z:
            with z.open("secret.txt") as f:
                self.assertEqual(f.read(), data)
            out = self.path("out")
            z.extractall(out)
            with open(os.path.join(out, "secret.txt"), "rb") as f:
                self.assertEqual(f.read(), data)


class Volumes(Workspace):
    def test_split_archive_with_a_volume_handler(self):
        data = noise(300_000, 5)
        archive = self.make("s.qza", {"big.bin": data, "after.txt": b"tail"}, "-m", "store", "-v", "64k")
        moved = self.path("elsewhere.002")
        os.rename(archive[:-3] + "002", moved)
        asked = []

        def handler(number, path):
            asked.append((number, path))
            return moved

        with qzarc.QzFile(archive, volume_handler=handler) as z:
            self.assertEqual(z.read("big.bin"), data)
            self.assertEqual(z.read("after.txt"), b"tail")
        self.assertEqual(asked[0], (2, archive[:-3] + "002"))

        for give_up in (lambda n, p: None, None):
            with self.assertRaises(qzarc.MissingVolume):
                with qzarc.QzFile(archive, volume_handler=give_up) as z:
                    z.read("big.bin")

        class Stop(Exception):
            pass

        def failing(number, path):
            raise Stop(number)

        with self.assertRaises(Stop):
            with qzarc.QzFile(archive, volume_handler=failing) as z:
                z.read("big.bin")


class Damage(Workspace):
    def test_damaged_and_foreign_input(self):
        data = text(100_000, 6)
        stored = self.make("s.qza", {"a.txt": data, "b.txt": b"fine"}, "-m", "store")
        deflated = self.make("d.qza", {"a.txt": data, "b.txt": b"fine"})
        for archive in (stored, deflated):
            with open(archive, "rb") as f:
                whole = bytearray(f.read())
            at = whole.index(b"a.txt") + 5 + len(whole) // 8
            whole[at] ^= 0x55
            damaged = archive + ".damaged"
            with open(damaged, "wb") as f:
                f.write(whole)
            with self.subTest(archive=archive), qzarc.QzFile(damaged) as z:
                self.assertEqual(z.testzip(), "a.txt")
                with self.assertRaises(qzarc.ChecksumError):
                    z.read("a.txt")
                self.assertEqual(z.read("b.txt"), b"fine")
                out = self.path("out-" + os.path.basename(archive))
                with self.assertRaises(qzarc.ChecksumError):
                    z.extract("a.txt", out)
                self.assertEqual(os.listdir(out), [])  # no unchecked file left
            if archive == stored:
                with qzarc.QzFile(damaged) as z, z.open("a.txt") as f:
                    got = bytearray()
                    with self.assertRaises(qzarc.ChecksumError):
                        while True:
                            got += f.read(10_000)
                    self.assertEqual(len(got), len(data))  # every byte came before the verdict
            cut = archive + ".cut"
            with open(cut, "wb") as f:
                f.write(whole[: len(whole) // 2])
            with self.assertRaises(qzarc.BadArchive):
                qzarc.QzFile(cut)
        foreign = self.path("foreign.qza")
        with open(foreign, "wb") as f:
            f.write(b"PK\x03\x04 not this format" * 10)
        with self.assertRaises(qzarc.BadArchive):
            qzarc.QzFile(foreign)
        self.assertFalse(qzarc.is_qzfile(foreign))
        with self.assertRaises(FileNotFoundError):
            qzarc.QzFile(self.path("absent.qza"))


class Extraction(Workspace):
    def test_times_read_only_and_replacing(self):
        files = {"top.txt": b"top", "d/e/deep.bin": noise(70_000, 7)}
        archive = self.make("x.qza", files, read_only=("top.txt",))
        out = self.path("out")
        with qzarc.QzFile(archive) as z:
            self.assertTrue(z.getinfo("top.txt").external_attr & 1)
            written = z.extract("d/e/deep.bin", out)
            self.assertEqual(written, os.path.join(out, "d", "e", "deep.bin"))
            for _ in range(2):  # the second time replaces, read-only file included
                z.extractall(out)
        for name, data in files.items():
            full = os.path.join(out, *name.split("/"))
            with open(full, "rb") as f:
                self.assertEqual(f.read(), data)
            self.assertEqual(int(os.stat(full).st_mtime), STAMP)
        self.assertFalse(os.stat(os.path.join(out, "top.txt")).st_mode & 0o222)
        self.assertEqual(sorted(os.listdir(out)), ["d", "top.txt"])  # no temporary file left

    def test_hostile_names_stay_inside(self):
        # Names recorded by the writer, then rewritten in place to hostile
        # ones of the same length (a record's name is not covered by any check).
        hostile = {
            "n1_abcdefgh.txt": "../escape01.txt",
            "n2_abcdefgh.txt": "/tmp/escape2.tx",
            "n3_abcdefgh.txt": "..\\escape03.txt",
            "n4_abcdefgh.txt": "C:escape4_x.txt",
            "n5_abcdefgh.txt": "d/../../esc5.tx",
            "n6_abcdefgh.txt": "link/escape6.tx",
        }
        files = {name: name.encode() for name in hostile}
        files["safe.txt"] = b"safe"
        archive = self.make("h.qza", files, "-m", "store")
        with open(archive, "rb") as f:
            whole = f.read()
        for old, new in hostile.items():
            self.assertEqual(len(old), len(new))
            whole = whole.replace(old.encode(), new.encode(), 1)
        with open(archive, "wb") as f:
            f.write(whole)
        root = self.path("deep", "er")
        outside = self.path("outside")
        os.makedirs(root)
        os.makedirs(outside)
        os.symlink(outside, os.path.join(root, "link"))
        with qzarc.QzFile(archive) as z:
            with self.assertRaises(qzarc.UnsafePath) as caught:
                z.extractall(root)
            self.assertTrue(str(caught.exception).startswith("%d entries were not extracted" % len(hostile)))
            with self.assertRaises(qzarc.UnsafePath):
                z.extract("../escape01.txt", root)
        self.assertEqual(sorted(os.listdir(root)), ["link", "safe.txt"])
        self.assertEqual(os.listdir(outside), [])
        self.assertEqual(sorted(os.listdir(self.path("deep"))), ["er"])
        self.assertFalse(os.path.exists("/tmp/escape2.tx"))


class Readme(Workspace):
    def test_the_readme_example_runs_as_written(self):
        root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
        with open(os.path.join(root, "README.md"), encoding="utf-8") as f:
            section = f.read().split("\n## Python\n", 1)[1]
        code = section.split("```python\n", 1)[1].split("```", 1)[0]
        os.mkdir(self.path("examples"))
        for name in ("sample.qza", "sample.001"):
            shutil.copy(os.path.join(root, "examples", name), self.path("examples"))
        done = subprocess.run([sys.executable, "-c", code], cwd=self.dir, capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("private\\plan.txt", done.stdout)
        self.assertTrue(os.path.isfile(self.path("out-python", "private", "plan.txt")))


class Loading(unittest.TestCase):
    def test_a_missing_library_is_named(self):
        script = "import qzarc\ntry:\n    qzarc.QzFile(qzarc.__file__)\nexcept qzarc.LibraryNotFound as e:\n    print(e)\n"
        env = dict(os.environ, QZARC_LIBRARY="/nonexistent/libqzarc.so.1")
        done = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True)
        self.assertIn("/nonexistent/libqzarc.so.1", done.stdout)
        self.assertEqual(qzarc.library_version(), qzarc.__version__)


if __name__ == "__main__":
    unittest.main()
