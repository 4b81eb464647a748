"""One library handle (qz_archive) and the calls made on it.

A handle is used by one thread at a time: every call is made holding the
handle's lock. The lock is held across the library call, whose GIL is
released (ctypes.CDLL), so other handles read on other threads meanwhile.

A QzFile and the entry file objects it opened share its handle. The handle
is positioned on one entry at a time; `owner` is the entry file object the
handle is positioned for (None when no reader owns it), so that a reader
whose place was taken finds it again (see _stream.py).
"""

import ctypes
import os
import threading
import weakref

from . import _library
from .errors import QzError, error_for
from ._info import QzInfo

ARCHIVE_END = 1


def _password_bytes(pwd):
    if pwd is None or isinstance(pwd, bytes):
        return pwd
    if isinstance(pwd, (bytearray, memoryview)):
        return bytes(pwd)
    if isinstance(pwd, str):
        return pwd.encode("utf-8")
    raise TypeError("pwd: expected bytes or str, got %s" % type(pwd).__name__)


class Handle:
    def __init__(self, codepage=0, volume_handler=None):
        self.lib = _library.library()
        self.lock = threading.RLock()
        self.owner = None
        self.users = 1  # the QzFile; each open entry file adds one
        self._handler_error = None
        pointer = self.lib.qz_archive_new()
        if not pointer:
            raise MemoryError("no memory for an archive handle")
        self.pointer = pointer
        self._finalizer = weakref.finalize(self, self.lib.qz_archive_free, pointer)
        if self.lib.qz_archive_set_codepage(pointer, int(codepage)) != 0:
            self.free()
            raise ValueError("codepage %r is not one the library converts (0, 437, 850, 1250, 1251, 1252, "
                             "932, 936, 65001)" % (codepage,))
        self._volume_callback = None
        if volume_handler is not None:
            if not callable(volume_handler):
                self.free()
                raise TypeError("volume_handler must be callable")
            self._volume_callback = _library.VOLUME_HANDLER(self._volume_answer(volume_handler))
            self.lib.qz_archive_set_volume_handler(pointer, self._volume_callback, None)

    def _volume_answer(self, handler):
        """The library's volume handler around the user's: handler(number,
        path) returns the path to try, or None to give up. An exception in it
        gives up, and is raised again from the call that asked."""

        def answer(_user, number, path, size):
            try:
                looked = os.fsdecode(ctypes.string_at(path))
                given = handler(number, looked)
                if given is None:
                    return 1
                data = os.fsencode(given)
                if b"\0" in data or len(data) >= size:
                    raise ValueError("volume_handler returned a path the library cannot take: %r" % (given,))
                ctypes.memmove(path, data + b"\0", len(data) + 1)
                return 0
            except BaseException as error:  # noqa: B902 - raised again by check()
                self._handler_error = error
                return 1

        return answer

    # ---- results --------------------------------------------------------------

    def check(self, result):
        """result when it is not a failure; else raises its exception (the
        volume handler's own, when that is what failed)."""
        if result >= 0:
            self._handler_error = None
            return result
        if self._handler_error is not None:
            error, self._handler_error = self._handler_error, None
            raise error
        raise self.error(result)

    def error(self, code):
        message = self.lib.qz_archive_error(self.pointer) or self.lib.qz_strerror(code) or b""
        return error_for(code, message.decode("utf-8", "replace"))

    # ---- calls ----------------------------------------------------------------

    def open(self, path, start_offset):
        encoded = os.fsencode(path)
        if b"\0" in encoded:
            raise ValueError("embedded NUL byte in the archive's path")
        with self.lock:
            self.check(self.lib.qz_archive_open(self.pointer, encoded, start_offset))

    def infolist(self):
        """Every entry's record, walking the headers once from the first."""
        entries = []
        entry = ctypes.POINTER(_library.Entry)()
        with self.lock:
            self.owner = None
            self.check(self.lib.qz_archive_seek(self.pointer, 0))
            while self.check(self.lib.qz_archive_next(self.pointer, ctypes.byref(entry))) != ARCHIVE_END:
                entries.append(QzInfo._from_entry(entry.contents))
        return entries

    def enter(self, info, pwd, owner=None):
        """Positions the handle at the start of the entry's data, with pwd as
        the password, for `owner`. Call holding the lock."""
        entry = ctypes.POINTER(_library.Entry)()
        self.owner = owner
        self.check(self.lib.qz_archive_seek(self.pointer, info.index))
        if self.check(self.lib.qz_archive_next(self.pointer, ctypes.byref(entry))) == ARCHIVE_END:
            raise QzError("%s: the entry is no longer in the archive" % info.filename)
        found = entry.contents
        if found.index != info.index or found.raw_name_length != len(info.orig_filename):
            raise QzError("%s: the archive changed since it was opened" % info.filename)
        self.check(self.lib.qz_archive_set_password(self.pointer, _password_bytes(pwd)))

    def read(self, address, size):
        """One qz_archive_read into the memory at address: the bytes given, 0
        at the verified end; raises on failure. Call holding the lock."""
        return self.check(self.lib.qz_archive_read(self.pointer, address, size))

    def extract(self, path):
        encoded = os.fsencode(path)
        if b"\0" in encoded:
            raise ValueError("embedded NUL byte in the path %r" % (path,))
        self.check(self.lib.qz_archive_extract(self.pointer, encoded))

    def release(self):
        """One user less; the last frees the handle."""
        with self.lock:
            self.users -= 1
            if self.users == 0:
                self.free()

    def free(self):
        self.pointer = None
        self._finalizer()


def version():
    """The library's version string."""
    return _library.library().qz_version().decode("ascii")


__all__ = ["Handle", "version"]
