"""The file object QzFile.open() returns: an entry's bytes, streamed.

_EntryReader is the raw stream (io.RawIOBase): each readinto() is one
qz_archive_read straight into the caller's buffer, with the GIL released.
QzFile.open() wraps it in an io.BufferedReader, which adds peek(), lines
and small reads at C speed; large reads still go straight into the result.

The library hands out bytes before it has checked them: the read that
reaches the end either returns 0 (size and CRC-32 verified) or fails, and
that failure is raised by the read that reaches it, and again by every
later one.

Several readers may be open on one archive: they share its handle, which is
positioned for one of them at a time. A reader whose place was taken by
another finds it again by reading its entry anew up to where it was (so
reading two large entries in alternation costs more than one after the
other).
"""

import ctypes
import io

from .errors import E_CRC, E_DATA, E_SIZE

_SCRATCH = 1 << 20  # bytes skipped per read when a reader finds its place again
_VERDICTS = (E_CRC, E_SIZE, E_DATA)  # the failures of the entry's final check


class _EntryReader(io.RawIOBase):
    def __init__(self, handle, info, pwd):
        super().__init__()
        self._handle = None      # set once this reader counts among the handle's users
        self.name = info.filename
        self._info = info
        self._pwd = pwd
        self._consumed = 0       # bytes taken from the library so far
        self._held = b""         # bytes taken but not yet handed out
        self._done = False       # the verified end was reached
        self._failure = None     # the exception the end gave
        with handle.lock:
            if handle.pointer is None:
                raise ValueError("I/O operation on a closed archive")
            handle.users += 1
        self._handle = handle
        try:
            with handle.lock:
                handle.enter(info, pwd, self)
                # One byte now, so that a wrong password, a missing volume or
                # an unknown method is raised by open(), as zipfile's open()
                # raises a wrong password. A failed check of the data waits
                # for the read that reaches the end.
                first = ctypes.create_string_buffer(1)
                got = handle.lib.qz_archive_read(handle.pointer, first, 1)
            if got == 1:
                self._consumed = 1
                self._held = first.raw
            elif got == 0:
                self._done = True
            else:
                try:
                    handle.check(got)
                except Exception as error:
                    if getattr(error, "code", None) not in _VERDICTS:
                        raise
                    self._failure = error
        except BaseException:
            self._handle = None  # closing (or collecting) this reader releases nothing more
            handle.release()
            raise

    @property
    def mode(self):
        return "rb"

    def readable(self):
        return True

    def seekable(self):
        return False

    def _find_place(self):
        """Positions the shared handle where this reader left it. Holding the lock."""
        handle = self._handle
        handle.enter(self._info, self._pwd, self)
        scratch = ctypes.create_string_buffer(min(self._consumed, _SCRATCH) or 1)
        left = self._consumed
        while left > 0:
            got = handle.read(scratch, min(left, len(scratch)))
            if got == 0:
                raise ValueError("%s: the entry ended early when read again" % self.name)
            left -= got

    def readinto(self, buffer):
        if self.closed:
            raise ValueError("I/O operation on a closed file")
        view = memoryview(buffer).cast("B")
        n = len(view)
        if n == 0:
            return 0
        if self._held:
            taken = min(n, len(self._held))
            view[:taken] = self._held[:taken]
            self._held = self._held[taken:]
            return taken
        if self._done:
            return 0
        if self._failure is not None:
            raise self._failure
        target = (ctypes.c_char * n).from_buffer(view)
        handle = self._handle
        try:
            with handle.lock:
                if handle.pointer is None:
                    raise ValueError("I/O operation on a closed archive")
                if handle.owner is not self:
                    self._find_place()
                got = handle.read(target, n)
        except Exception as error:
            if getattr(error, "code", None) in _VERDICTS:
                self._failure = error
            raise
        finally:
            # A traceback keeps this frame: the caller's buffer must not stay
            # exported through it.
            del target, view
        if got == 0:
            self._done = True
        self._consumed += got
        return got

    def readall(self):
        parts = []
        while True:
            part = bytearray(_SCRATCH)
            got = self.readinto(part)
            if not got:
                break
            del part[got:]
            parts.append(part)
        return b"".join(parts)

    def close(self):
        handle, self._handle = self._handle, None
        super().close()
        if handle is not None:
            with handle.lock:
                if handle.owner is self:
                    handle.owner = None
            handle.release()


def open_entry(handle, info, pwd, buffer_size=io.DEFAULT_BUFFER_SIZE):
    """A buffered, binary, read-only, non-seekable file object over the
    entry's bytes."""
    return io.BufferedReader(_EntryReader(handle, info, pwd), buffer_size)
