"""QzInfo: one entry's record, as zipfile's ZipInfo describes a member."""

import datetime

_FILETIME_EPOCH = datetime.datetime(1601, 1, 1)
_ATTRIBUTE_READONLY = 0x01


def _date_time(filetime):
    """A FILETIME (100 ns units since 1601, local time as recorded) as the
    6-tuple zipfile uses. A time past year 9999 reads as the last second of
    9999: the record is untrusted and may hold any 64-bit value."""
    try:
        moment = _FILETIME_EPOCH + datetime.timedelta(seconds=filetime // 10_000_000)
    except OverflowError:
        return (9999, 12, 31, 23, 59, 59)
    return (moment.year, moment.month, moment.day, moment.hour, moment.minute, moment.second)


class QzInfo:
    """An entry of a QZ archive.

    filename       the name as text (converted by the archive's code page);
                   archives separate directories with '\\'
    orig_filename  the name's bytes as recorded
    file_size      the recorded size of the data uncompressed
    compress_size  the recorded size of the compressed data (without the
                   12-byte encryption header)
    CRC            the recorded CRC-32 of the data
    date_time      the write time as recorded, local time, as
                   (year, month, day, hour, minute, second)
    mtime          the write time as Unix seconds, UTC, as extraction sets it
    compress_type  0 stored, 8 Deflate, 9 Deflate64 (others are listed and
                   fail to read)
    external_attr  the Win32 attribute bits (0x01 read-only, 0x10 directory)
    volume, offset the volume the record starts in (0: the first) and its
                   byte offset there (offset is also header_offset)
    index          the entry's position in the archive, 0 for the first
    """

    __slots__ = (
        "filename",
        "orig_filename",
        "file_size",
        "compress_size",
        "CRC",
        "date_time",
        "mtime",
        "compress_type",
        "external_attr",
        "volume",
        "offset",
        "index",
        "_encrypted",
    )

    comment = b""
    extra = b""

    @classmethod
    def _from_entry(cls, entry):
        """From a qz_entry the library handed out (copied: the library's
        record is valid only until the handle moves)."""
        info = cls.__new__(cls)
        raw = bytes(entry.raw_name[: entry.raw_name_length]) if entry.raw_name_length else b""
        info.orig_filename = raw
        info.filename = (entry.name or b"").decode("utf-8", "surrogateescape")
        info.file_size = entry.uncompressed_size
        info.compress_size = entry.compressed_size
        info.CRC = entry.crc32
        info.date_time = _date_time(entry.write_time)
        info.mtime = entry.mtime
        info.compress_type = entry.method
        info.external_attr = entry.attributes
        info.volume = entry.volume
        info.offset = entry.offset
        info.index = entry.index
        info._encrypted = bool(entry.encrypted)
        return info

    @property
    def header_offset(self):
        return self.offset

    def is_encrypted(self):
        return self._encrypted

    def is_dir(self):
        """A directory entry: its name ends with a separator (as extraction
        judges it, whatever the attribute bits say)."""
        return self.filename.endswith(("/", "\\"))

    def is_readonly(self):
        return bool(self.external_attr & _ATTRIBUTE_READONLY)

    def __repr__(self):
        parts = ["filename=%r" % self.filename, "compress_type=%d" % self.compress_type]
        if self.is_encrypted():
            parts.append("encrypted")
        parts.append("file_size=%d" % self.file_size)
        parts.append("compress_size=%d" % self.compress_size)
        return "<QzInfo %s>" % " ".join(parts)
