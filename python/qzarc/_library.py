"""Finding libqzarc and declaring the handle API's functions to ctypes.

The library is looked for, in this order:

1. the file named by the environment variable QZARC_LIBRARY;
2. beside the package: a libqzarc.so.1 inside the package's directory, or
   the library that `make install PYTHON_SITE=...` installed with it (its
   path is recorded in _installed.py at install time);
3. the system's loader (ldconfig's cache, LD_LIBRARY_PATH), by its SONAME.

It is loaded once, on first use, so that `import qzarc` works (and help()
reads) on a machine without it.

Every call goes through ctypes.CDLL, which releases the GIL for the call's
duration: other Python threads run while the library decodes.
"""

import ctypes
import os
import sys
import threading

from .errors import LibraryNotFound

if sys.platform == "win32":
    LIBRARY_NAME = "QZARC.dll"
else:
    LIBRARY_NAME = "libqzarc.so.1"


class Entry(ctypes.Structure):
    """struct qz_entry of qzarc.h."""

    _fields_ = [
        ("name", ctypes.c_char_p),
        ("raw_name", ctypes.POINTER(ctypes.c_ubyte)),
        ("raw_name_length", ctypes.c_size_t),
        ("method", ctypes.c_uint),
        ("encrypted", ctypes.c_int),
        ("crc32", ctypes.c_uint32),
        ("compressed_size", ctypes.c_uint64),
        ("uncompressed_size", ctypes.c_uint64),
        ("attributes", ctypes.c_uint32),
        ("creation_time", ctypes.c_uint64),
        ("access_time", ctypes.c_uint64),
        ("write_time", ctypes.c_uint64),
        ("mtime", ctypes.c_int64),
        ("index", ctypes.c_uint64),
        ("volume", ctypes.c_uint),
        ("offset", ctypes.c_uint64),
    ]


# int (*qz_volume_handler)(void *user, unsigned number, char *path, size_t path_size)
VOLUME_HANDLER = ctypes.CFUNCTYPE(
    ctypes.c_int, ctypes.c_void_p, ctypes.c_uint, ctypes.POINTER(ctypes.c_char), ctypes.c_size_t
)

_HANDLE = ctypes.c_void_p

# name: (result type, argument types)
_FUNCTIONS = {
    "qz_archive_new": (_HANDLE, []),
    "qz_archive_free": (None, [_HANDLE]),
    "qz_archive_set_password": (ctypes.c_int, [_HANDLE, ctypes.c_char_p]),
    "qz_archive_set_codepage": (ctypes.c_int, [_HANDLE, ctypes.c_int]),
    "qz_archive_set_volume_handler": (ctypes.c_int, [_HANDLE, VOLUME_HANDLER, ctypes.c_void_p]),
    "qz_archive_set_threads": (ctypes.c_int, [_HANDLE, ctypes.c_int]),
    "qz_archive_open": (ctypes.c_int, [_HANDLE, ctypes.c_char_p, ctypes.c_uint64]),
    "qz_archive_close": (ctypes.c_int, [_HANDLE]),
    "qz_archive_next": (ctypes.c_int, [_HANDLE, ctypes.POINTER(ctypes.POINTER(Entry))]),
    "qz_archive_read": (ctypes.c_int64, [_HANDLE, ctypes.c_void_p, ctypes.c_size_t]),
    "qz_archive_skip": (ctypes.c_int, [_HANDLE]),
    "qz_archive_extract": (ctypes.c_int, [_HANDLE, ctypes.c_char_p]),
    "qz_archive_seek": (ctypes.c_int, [_HANDLE, ctypes.c_uint64]),
    "qz_archive_count": (ctypes.c_int64, [_HANDLE]),
    "qz_archive_error": (ctypes.c_char_p, [_HANDLE]),
    "qz_strerror": (ctypes.c_char_p, [ctypes.c_int]),
    "qz_version": (ctypes.c_char_p, []),
}

_lock = threading.Lock()
_loaded = None


def _candidates():
    """The places to try, in order, as (description, path or name)."""
    chosen = os.environ.get("QZARC_LIBRARY")
    if chosen:
        # Set on purpose: nothing else is tried, so a wrong path is reported
        # rather than silently replaced by another library.
        return [("QZARC_LIBRARY", chosen)]
    here = os.path.dirname(os.path.abspath(__file__))
    places = [("beside the package", os.path.join(here, LIBRARY_NAME))]
    try:
        from . import _installed  # written by make install

        places.append(("installed with the package", _installed.LIBRARY))
    except ImportError:
        pass
    places.append(("the system's loader", LIBRARY_NAME))
    return places


def _declare(lib):
    for name, (result, arguments) in _FUNCTIONS.items():
        function = getattr(lib, name)
        function.restype = result
        function.argtypes = arguments
    return lib


def library():
    """The loaded library (loading it on first use)."""
    global _loaded
    if _loaded is not None:
        return _loaded
    with _lock:
        if _loaded is None:
            tried = []
            for where, path in _candidates():
                if where != "the system's loader" and where != "QZARC_LIBRARY" and not os.path.exists(path):
                    continue
                try:
                    lib = ctypes.CDLL(path)
                except OSError as error:
                    tried.append("%s (%s): %s" % (path, where, error))
                    continue
                try:
                    _loaded = _declare(lib)
                except AttributeError as error:
                    tried.append("%s (%s): not the qzarc library 1.1 or later: %s" % (path, where, error))
                    continue
                break
            if _loaded is None:
                raise LibraryNotFound(
                    "cannot load the qzarc library %s; tried:\n  %s\n"
                    "Set QZARC_LIBRARY to its path, or install it (make install) where the system's "
                    "loader finds it." % (LIBRARY_NAME, "\n  ".join(tried))
                )
    return _loaded
