"""QzFile: a QZ archive opened for reading, the way zipfile.ZipFile reads a
zip file."""

import ctypes
import os

from ._handle import Handle
from ._info import QzInfo
from ._paths import prepare_target, split_name
from ._stream import _SCRATCH, _EntryReader, open_entry
from .errors import ChecksumError, UnsafePath

_TEMPORARY_PREFIX = ".qzarc-"


class QzFile:
    """A QZ archive, read through one library handle.

    QzFile(path, pwd=None, codepage=0, volume_handler=None, start_offset=0)

    path            the archive's first volume: str, bytes or os.PathLike
    pwd             the password for encrypted entries (bytes; str is taken
                    as UTF-8), unless a call gives its own
    codepage        how recorded names become text: 0 (UTF-8 where the name is
                    valid UTF-8, else 1252), 437, 850, 1250, 1251, 1252, 932,
                    936 or 65001
    volume_handler  called as volume_handler(number, path) when volume
                    `number` (1-999) of a split archive is not at `path`;
                    returns the path to use instead, or None to give up
                    (the call that needed it then raises MissingVolume)
    start_offset    where the first record starts (0 unless other data,
                    such as a program, comes first)

    The records are read when the archive is opened: BadArchive when it is
    damaged or not a QZ archive, MissingVolume when a volume holding records
    is missing. Entries are decoded only when read.
    """

    def __init__(self, path, pwd=None, codepage=0, volume_handler=None, start_offset=0):
        self.filename = os.fsdecode(os.fspath(path))
        self.pwd = pwd
        self._handle = None
        handle = Handle(codepage, volume_handler)
        try:
            if not os.path.exists(path):
                raise FileNotFoundError(2, "No such file or directory", self.filename)
            handle.open(path, start_offset)
            self._infos = handle.infolist()
        except BaseException:
            handle.release()
            raise
        self._handle = handle
        self._by_name = {}
        for info in self._infos:
            self._by_name[info.filename] = info  # the last of equal names wins, as in zipfile

    # ---- the archive as a whole --------------------------------------------------

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        state = "closed" if self._handle is None else "%d entries" % len(self._infos)
        return "<qzarc.QzFile %r %s>" % (self.filename, state)

    def close(self):
        """Closes the archive. Entry files still open go on reading until they
        are closed themselves."""
        handle, self._handle = self._handle, None
        if handle is not None:
            handle.release()

    def _open_handle(self):
        if self._handle is None:
            raise ValueError("Attempt to use a closed QZ archive")
        return self._handle

    def setpassword(self, pwd):
        """The password used when a call gives none."""
        self.pwd = pwd

    def infolist(self):
        """Every entry's QzInfo, in archive order."""
        return list(self._infos)

    def namelist(self):
        """Every entry's name, in archive order (duplicates included)."""
        return [info.filename for info in self._infos]

    def getinfo(self, name):
        """The QzInfo of the entry named `name` (the last one, when several
        have that name); '/' and '\\' are taken alike. KeyError when none."""
        info = self._by_name.get(name)
        if info is None and isinstance(name, str):
            for spelling in (name.replace("/", "\\"), name.replace("\\", "/")):
                info = self._by_name.get(spelling)
                if info is not None:
                    break
        if info is None:
            raise KeyError("There is no item named %r in the archive" % (name,))
        return info

    def _info(self, member):
        if isinstance(member, QzInfo):
            return member
        return self.getinfo(member)

    def _pwd(self, pwd):
        return self.pwd if pwd is None else pwd

    # ---- reading -------------------------------------------------------------------

    def open(self, name, pwd=None, *, mode="r"):
        """The entry (a name or a QzInfo) as a readable, binary, non-seekable
        file object. A wrong or missing password raises BadPassword here; a
        failed check of the data raises ChecksumError from the read that
        reaches the entry's end."""
        if mode != "r":
            raise ValueError("open() requires mode 'r': QZ archives are read only")
        return open_entry(self._open_handle(), self._info(name), self._pwd(pwd))

    def read(self, name, pwd=None):
        """The entry's bytes, checked."""
        reader = _EntryReader(self._open_handle(), self._info(name), self._pwd(pwd))
        with reader:
            return reader.readall()

    def testzip(self):
        """Reads every entry and checks it: the name of the first whose data does
        not check out, or None. Other failures (a password, a volume) raise."""
        handle = self._open_handle()
        scratch = ctypes.create_string_buffer(_SCRATCH)
        for info in self._infos:
            with handle.lock:
                handle.enter(info, self.pwd)
                try:
                    while handle.read(scratch, _SCRATCH) > 0:
                        pass
                except ChecksumError:
                    return info.filename
        return None

    # ---- extracting ------------------------------------------------------------

    def extract(self, member, path=None, pwd=None):
        """Writes the entry below the directory `path` (default: the current
        one) and returns the path written. The entry's name must stay below
        the destination (UnsafePath otherwise). The file gets the entry's
        times and read-only bit; it appears under its name only once checked,
        replacing an existing file."""
        root = os.getcwd() if path is None else os.fsdecode(os.fspath(path))
        return self._extract(self._info(member), root, self._pwd(pwd), None)

    def extractall(self, path=None, members=None, pwd=None):
        """Extracts the entries (all, or `members`: names or QzInfo objects)
        below `path`. An entry whose name or place is unsafe is skipped, the
        others extracted; then UnsafePath names every one skipped. Any other
        failure stops at that entry."""
        root = os.getcwd() if path is None else os.fsdecode(os.fspath(path))
        infos = self._infos if members is None else [self._info(m) for m in members]
        known = set()
        refused = []
        for info in infos:
            try:
                self._extract(info, root, self._pwd(pwd), known)
            except UnsafePath as error:
                refused.append(str(error))
        if refused:
            raise UnsafePath("%d entr%s not extracted:\n  %s"
                             % (len(refused), "y was" if len(refused) == 1 else "ies were", "\n  ".join(refused)))

    def _extract(self, info, root, pwd, known):
        components, is_directory = split_name(info)
        if not os.path.isdir(root):
            os.makedirs(root, exist_ok=True)
        target = prepare_target(root, components, is_directory, known)
        if is_directory:
            return target
        handle = self._open_handle()
        # A file already there is replaced only by a checked one: the entry
        # goes to a temporary file beside it, renamed over it once verified.
        exists = os.path.lexists(target)
        written = _temporary_sibling(target) if exists else target
        with handle.lock:
            handle.enter(info, pwd)
            handle.extract(written)
        if exists:
            try:
                os.replace(written, target)
            except BaseException:
                os.unlink(written)
                raise
        return target


def _temporary_sibling(target):
    directory = os.path.dirname(target)
    while True:
        candidate = os.path.join(directory, "%s%s.tmp" % (_TEMPORARY_PREFIX, os.urandom(6).hex()))
        if not os.path.lexists(candidate):
            return candidate

