"""Reading QZ archives from Python, the way zipfile reads zip files.

    import qzarc

    with qzarc.QzFile("backup.qza", pwd=b"secret") as archive:
        for info in archive.infolist():
            print(info.filename, info.file_size, info.date_time)
        data = archive.read("docs\\\\readme.txt")
        with archive.open("data\\\\big.bin") as stream:
            for piece in iter(lambda: stream.read(1 << 20), b""):
                ...
        archive.extractall("restored")

The package is a thin layer over the qzarc library's handle API (through
ctypes); see qzarc._library for where it looks for the library.
"""

from ._archive import QzFile
from ._info import QzInfo
from .errors import (
    BadArchive,
    BadPassword,
    ChecksumError,
    IOFailure,
    LibraryNotFound,
    MissingVolume,
    QzError,
    UnsafePath,
    UnsupportedMethod,
)
from ._handle import version as library_version

__version__ = "1.2.0"

# Compression methods, as QzInfo.compress_type gives them.
QZ_STORED = 0
QZ_DEFLATED = 8
QZ_DEFLATED64 = 9


def is_qzfile(path):
    """True when `path` opens as a QZ archive whose records all read."""
    try:
        with QzFile(path):
            return True
    except (QzError, OSError):
        return False


__all__ = [
    "QzFile",
    "QzInfo",
    "QzError",
    "BadArchive",
    "BadPassword",
    "ChecksumError",
    "MissingVolume",
    "UnsupportedMethod",
    "UnsafePath",
    "IOFailure",
    "LibraryNotFound",
    "QZ_STORED",
    "QZ_DEFLATED",
    "QZ_DEFLATED64",
    "is_qzfile",
    "library_version",
]
