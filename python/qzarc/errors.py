"""The exceptions of the package, and the library's codes mapped to them.

Every failure the library reports is a QzError; its `code` is the library's
negative QZ_E_* code (None where the failure is the package's own).
"""

# The library's codes (qzarc.h).
E_PASSWORD = -1
E_CRC = -2
E_SIZE = -3
E_DATA = -4
E_VOLUME = -5
E_RECORD = -6
E_METHOD = -7
E_IO = -8
E_NOMEM = -9
E_ARGUMENT = -10
E_STATE = -11


class QzError(Exception):
    """Base of every error the library or this package reports."""

    code = None


class BadArchive(QzError):
    """The archive is damaged or is not a QZ archive at all."""


class ChecksumError(BadArchive):
    """An entry's data does not check out: its CRC-32 or size differs from its
    record, or its compressed data is invalid or cut short. Raised by the read
    that reaches the entry's end, after every byte was handed out."""


class BadPassword(QzError, RuntimeError):
    """An encrypted entry and no password, or the wrong one (checked before any
    of the entry's bytes are handed out). A RuntimeError too, as zipfile's is."""


class MissingVolume(BadArchive, OSError):
    """A volume of a split archive cannot be opened, and no volume handler
    supplied it. An archive cut short inside an entry's data looks for the
    rest in the next volume, and so also raises it: a BadArchive as well."""


class UnsupportedMethod(QzError, NotImplementedError):
    """The entry is compressed with a method other than stored (0), Deflate (8)
    or Deflate64 (9)."""


class UnsafePath(QzError, ValueError):
    """An entry cannot be written below the destination directory: its name is
    absolute, has a drive letter or a '..' component, control characters or a
    NUL byte, or a symbolic link (or something not a directory) is in the way."""


class IOFailure(QzError, OSError):
    """Reading the archive or writing a file failed."""


class LibraryNotFound(QzError, OSError):
    """The qzarc library could not be loaded from any of the places looked in."""


_BY_CODE = {
    E_PASSWORD: BadPassword,
    E_CRC: ChecksumError,
    E_SIZE: ChecksumError,
    E_DATA: ChecksumError,
    E_VOLUME: MissingVolume,
    E_RECORD: BadArchive,
    E_METHOD: UnsupportedMethod,
    E_IO: IOFailure,
}


def error_for(code, message):
    """The exception for a library code and its message."""
    if code == E_NOMEM:
        return MemoryError(message)
    if code in (E_ARGUMENT, E_STATE):
        return ValueError(message)
    error = _BY_CODE.get(code, QzError)(message)
    error.code = code
    return error


__all__ = [
    "QzError",
    "BadArchive",
    "ChecksumError",
    "BadPassword",
    "MissingVolume",
    "UnsupportedMethod",
    "UnsafePath",
    "IOFailure",
    "LibraryNotFound",
]
