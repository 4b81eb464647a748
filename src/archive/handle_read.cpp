#include "archive/handle_read.h"

#include <cstring>

#include "archive/archive_reader.h"
#include "archive/extract_entry.h"
#include "archive/handle_walk.h"
#include "archive/parallel_read.h"
#include "archive/volumes.h"
#include "crypto/crc32.h"
#include "inflate/inflate_stream.h"

namespace {

constexpr uint64_t kProgressStep = uint64_t(1) << 20;

int Fail(ArchiveHandle &h, int code) {
    EndParallel(h);
    h.phase = EntryPhase::kFailed;
    h.failure = code;
    return code;
}

int FailEntry(ArchiveHandle &h, int code, const char *what) {
    HandleFail(h, code, "%s: %s", h.entry.name, what);
    return Fail(h, code);
}

// Moves the core's reading position to the place, opening its volume.
int GoTo(ArchiveHandle &h, RecordPlace place) {
    UnpackState &s = h.core;
    if (!IsOpenHandle(s.archive) || uint32_t(s.volumeNumber) != place.volume) {
        uint32_t size = 0;
        if (!VolumeSize(h, place.volume, &size))
            return QZ_E_VOLUME;
        CloseIfOpen(s.archive);
        s.archive = OpenVolumeFile(s, int(place.volume), false);
        if (!IsOpenHandle(s.archive))
            return VolumeFailure(h, place.volume);
        s.volumeNumber = int(place.volume);
        s.volumeSize = size;
    }
    if (!SeekArchive(s, place.offset))
        return HandleFail(h, QZ_E_IO, "cannot read the archive (error %lu)", static_cast<unsigned long>(GetLastError()));
    return 0;
}

// The first read of an entry: its data found, the password checked, the
// decoder started. A refused password leaves the entry as it was, so that
// another one can be tried.
int StartData(ArchiveHandle &h) {
    UnpackState &s = h.core;
    if (s.encrypted && h.password == nullptr)
        return HandleFail(h, QZ_E_PASSWORD, "%s is encrypted: a password is needed", h.entry.name);
    const int moved = GoTo(h, h.dataPlace);
    if (moved != 0)
        return Fail(h, moved);
    s.remaining = s.compressedSize;
    // Reads are 64 KiB chunks, or one read of a small entry's whole data
    // (and its encryption header): reading a full chunk for an entry of a
    // few hundred bytes would copy the records after it for nothing.
    const uint64_t wanted = uint64_t(s.compressedSize) + 16 + (s.encrypted ? 12 : 0);
    s.slice = wanted < kMaxChunk ? uint32_t(wanted) : kMaxChunk;
    s.consumed = 0;
    s.readError = kStatusOk;
    s.status = kStatusOk;
    s.switched = false;
    ResetReader(s);
    s.reader.delivered = 0;
    if (s.encrypted) {
        const PasswordCheck check = CheckPassword(s, h.password);
        if (check == PasswordCheck::kUnreadable)
            return FailEntry(h, QZ_E_RECORD, "the encryption header cannot be read");
        if (check == PasswordCheck::kRefused)
            return HandleFail(h, QZ_E_PASSWORD, "%s: wrong password", h.entry.name);
        // The data's keystream starts from the password alone.
        CipherInit(s.keys, h.password);
    }
    // The password is checked first: an entry refused for it tells nothing
    // more, its method included.
    if (s.method != kMethodStored && s.method != kMethodDeflate && s.method != kMethodDeflate64) {
        HandleFail(h, QZ_E_METHOD, "%s: method %u is not stored (0), Deflate (8) or Deflate64 (9)", h.entry.name,
                   unsigned(s.method));
        return Fail(h, QZ_E_METHOD);
    }
    if (s.method == kMethodStored) {
        CrcReset(s.crcRegister);
    } else if (StartInflate(s.inflate, true, s.method, EntryInput(s)) != kStatusOk) {
        return FailEntry(h, QZ_E_NOMEM, "out of memory");
    } else {
        h.sliceSize = EntrySlice(s.compressedSize);
        h.sliceTotal = 0;
        h.sliceStage = SliceStage::kDecoding;
        h.heldAt = 0;
        h.heldLeft = 0;
        BeginParallel(h);
    }
    h.phase = EntryPhase::kReading;
    return 0;
}

void Report(ArchiveHandle &h, bool atEnd) {
    if (h.progressHandler == nullptr)
        return;
    if (atEnd || h.produced - h.reported >= kProgressStep) {
        h.reported = h.produced;
        h.progressHandler(h.progressUser, h.produced, h.entry.uncompressed_size);
    }
}

int Verified(ArchiveHandle &h) {
    EndParallel(h);
    h.phase = EntryPhase::kVerified;
    Report(h, true);
    return 0;
}

int64_t ReadStored(ArchiveHandle &h, uint8_t *out, size_t size) {
    UnpackState &s = h.core;
    size_t copied = 0;
    while (copied < size) {
        const uint32_t buffered = BufferedEntryBytes(s);
        if (buffered != 0) {
            const uint32_t n = size - copied < buffered ? uint32_t(size - copied) : buffered;
            std::memcpy(out + copied, s.reader.cursor, n);
            TakeBufferedBytes(s, n);
            copied += n;
            continue;
        }
        if (s.remaining <= 0)
            break;
        // A chunk to read or a volume to open.
        uint8_t byte = 0;
        if (!NextDataByte(s, byte))
            break;
        out[copied++] = byte;
    }
    if (s.readError != kStatusOk)
        return Fail(h, VolumeFailure(h, uint32_t(s.volumeNumber)));
    if (copied != 0) {
        CrcUpdate(s.crcRegister, out, uint32_t(copied));
        h.produced += copied;
        Report(h, false);
        return int64_t(copied);
    }
    if (CrcValue(s.crcRegister) != s.crc)
        return FailEntry(h, QZ_E_CRC, "CRC-32 differs: the entry is damaged");
    return Verified(h);
}

int Verdict(ArchiveHandle &h, UnpackStatus status) {
    switch (status) {
    case kStatusOk:
        return Verified(h);
    case kStatusBadCrc:
        return FailEntry(h, QZ_E_CRC, "CRC-32 differs: the entry is damaged");
    case kStatusBadSize:
        return FailEntry(h, QZ_E_SIZE, "the entry decodes to another size than recorded");
    case kStatusNoMemory:
        return FailEntry(h, QZ_E_NOMEM, "out of memory");
    default:
        return FailEntry(h, QZ_E_DATA, "the compressed data is invalid or cut short");
    }
}

// A compressed entry is decoded in the slices the legacy extraction takes:
// each InflateSlice call asks for exactly one slice (EntrySlice) into one
// buffer, and the calls follow its loop, drain included. The verdict of a
// damaged stream depends on where the calls begin: a call that meets an
// invalid code or block type gives the caller none of the bytes its current
// block decoded in that call (but for those a slide of the window flushed),
// and the end check judges the CRC and the size of what was given, so the
// same stream fails with QZ_E_CRC or QZ_E_SIZE depending on the slicing.
// The input's overrun check, made once per call, depends on it too. Decoded
// in the same calls, the stream gives the same bytes and the same verdict
// whatever the host's read size.
//
// Whole slices go straight into the caller's buffer while it has room for
// one; a read with less room takes one slice into the staging buffer and
// hands out the rest of it in the reads after it. HandleExtract reads with
// room for a slice, so the staging buffer it writes from is never held.

// The next slice into `into` (room for sliceSize bytes), the loop's
// bookkeeping after it, and the number of its bytes to hand out: none when
// it ran into a missing volume (the extraction does not write that slice),
// and none past the recorded size (the bytes beyond it fail the end check
// anyway). `given` bytes of the entry have been handed out or held so far.
uint32_t NextSlice(ArchiveHandle &h, uint8_t *into, uint64_t given) {
    UnpackState &s = h.core;
    const uint32_t n = h.parallel != nullptr ? ParallelSlice(h, into, h.sliceSize)
                                             : InflateSlice(s.inflate, into, h.sliceSize);
    if (s.readError != kStatusOk) {
        h.sliceStage = SliceStage::kDone;
        EndParallel(h);
        return 0;
    }
    // Counted in 32 bits, as the extraction counts what it has written.
    h.sliceTotal += n;
    if (h.sliceTotal >= s.uncompressedSize)
        h.sliceStage = SliceStage::kDrain;
    else if (n != h.sliceSize)
        h.sliceStage = SliceStage::kDone;
    if (h.sliceStage != SliceStage::kDecoding)
        EndParallel(h);
    const uint64_t room = s.uncompressedSize - given;
    return n < room ? n : uint32_t(room);
}

// Once the recorded size is out, the rest of the entry's input is decoded
// into scratch, a slice at a time, until it is all taken, a volume is
// missing or the stream stops: a stream longer than its record, one whose
// last bytes are damaged, or one whose data runs into a missing volume
// fails as it does for the extraction. Only the entry's own input is
// decoded (the inflater stops a stream that decodes fillers).
void Drain(ArchiveHandle &h) {
    UnpackState &s = h.core;
    if (s.remaining == 0)
        return;
    for (;;) {
        const uint32_t n = InflateSlice(s.inflate, s.copier.staging, h.sliceSize);
        if (s.remaining == 0 || s.reader.delivered == s.compressedSize || s.readError != kStatusOk || n == 0)
            return;
    }
}

// At most this much is decoded into the caller's buffer by one read, so
// that progress reports come about as often as they are due.
constexpr size_t kMostPerRead = size_t(kMaxChunk) * 256u;

int64_t ReadCompressed(ArchiveHandle &h, uint8_t *out, size_t size) {
    UnpackState &s = h.core;
    size_t done = 0;
    if (h.heldLeft != 0) {
        done = size < h.heldLeft ? size : h.heldLeft;
        std::memcpy(out, s.copier.staging + h.heldAt, done);
        h.heldAt += uint32_t(done);
        h.heldLeft -= uint32_t(done);
    }
    while (h.sliceStage == SliceStage::kDecoding && size - done >= h.sliceSize && done < kMostPerRead)
        done += NextSlice(h, out + done, h.produced + done);
    if (done == 0 && h.sliceStage == SliceStage::kDecoding) {
        const uint32_t n = NextSlice(h, s.copier.staging, h.produced);
        done = size < n ? size : n;
        std::memcpy(out, s.copier.staging, done);
        h.heldAt = uint32_t(done);
        h.heldLeft = n - uint32_t(done);
    }
    if (done != 0) {
        h.produced += done;
        Report(h, false);
        return int64_t(done);
    }
    if (h.sliceStage == SliceStage::kDrain)
        Drain(h);
    h.sliceStage = SliceStage::kDone;
    const UnpackStatus verdict = FinishInflate(s.inflate, s.crc, s.uncompressedSize);
    // Data that ran into a missing volume fails as such, whatever the end
    // check made of the part that was there.
    if (s.readError != kStatusOk)
        return Fail(h, VolumeFailure(h, uint32_t(s.volumeNumber)));
    return Verdict(h, verdict);
}

}  // namespace

int64_t HandleRead(ArchiveHandle &h, void *buffer, size_t size) {
    switch (h.phase) {
    case EntryPhase::kNone:
        return HandleFail(h, QZ_E_STATE, h.open ? "no current entry: call qz_archive_next first" : "no archive is open");
    case EntryPhase::kVerified:
        return 0;
    case EntryPhase::kFailed:
        return h.failure;
    case EntryPhase::kFresh: {
        const int started = StartData(h);
        if (started != 0)
            return started;
        break;
    }
    case EntryPhase::kReading:
        break;
    }
    uint8_t *out = static_cast<uint8_t *>(buffer);
    return h.core.method == kMethodStored ? ReadStored(h, out, size) : ReadCompressed(h, out, size);
}

int HandleSkip(ArchiveHandle &h) {
    // Skipping an entry already left (skipped again) does nothing.
    if (h.phase == EntryPhase::kNone && h.open && h.advancePending)
        return 0;
    if (h.phase == EntryPhase::kNone)
        return HandleFail(h, QZ_E_STATE, h.open ? "no current entry: call qz_archive_next first" : "no archive is open");
    EndEntry(h);
    return 0;
}

int HandleExtract(ArchiveHandle &h, const char *path) {
    if (h.phase != EntryPhase::kFresh) {
        if (h.phase == EntryPhase::kNone)
            return HandleFail(h, QZ_E_STATE, h.open ? "no current entry: call qz_archive_next first" : "no archive is open");
        return HandleFail(h, QZ_E_STATE, "%s: the entry has been read from already", h.entry.name);
    }
    // The data is found and the password checked before the file is touched,
    // so that a refused entry leaves an existing file as it was.
    const int started = StartData(h);
    if (started != 0)
        return started;
    UnpackState &s = h.core;
    s.output = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (!IsOpenHandle(s.output)) {
        HandleFail(h, QZ_E_IO, "cannot create %s (error %lu)", path, static_cast<unsigned long>(GetLastError()));
        return Fail(h, QZ_E_IO);
    }
    ReserveOutputSpace(s.output, s.method == kMethodStored ? s.compressedSize : s.uncompressedSize);
    int64_t result;
    for (;;) {
        result = HandleRead(h, s.copier.staging, kStagingFlushSize);
        if (result <= 0)
            break;
        DWORD written = 0;
        if (!WriteFile(s.output, s.copier.staging, DWORD(result), &written, nullptr) || written != DWORD(result)) {
            HandleFail(h, QZ_E_IO, "writing %s failed (error %lu)", path, static_cast<unsigned long>(GetLastError()));
            result = Fail(h, QZ_E_IO);
            break;
        }
    }
    if (result != 0) {
        CloseIfOpen(s.output);
        DeleteFileA(path);
        return int(result);
    }
    StampOutput(s, path);
    CloseIfOpen(s.output);
    return 0;
}
