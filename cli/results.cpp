#include "results.h"

#include "qzarc.h"

namespace qzcli {
namespace {

// The two families of negative results hold 10^8 apart: -100000000 - e and
// -200000000 - e, with e a Win32 error (small in practice).
constexpr int kFamilySpan = 100000000;

uint32_t ErrorOf(int result, int base) { return static_cast<uint32_t>(base - result); }

}  // namespace

bool IsOpenFailure(int result) {
    return result <= QZ_ERR_OPEN_ARCHIVE && result > QZ_ERR_OPEN_ARCHIVE - kFamilySpan;
}

bool IsCreateFailure(int result) {
    return result <= QZ_ERR_CREATE_OUTPUT && result > QZ_ERR_CREATE_OUTPUT - kFamilySpan;
}

std::string DescribeSystemError(uint32_t error) {
    switch (error) {
    case 2:
        return "file not found";
    case 3:
        return "path not found";
    case 4:
        return "too many open files";
    case 5:
        return "access denied";
    case 8:
    case 14:
        return "not enough memory";
    case 19:
        return "the medium is write-protected";
    case 21:
        return "the device is not ready";
    case 32:
    case 33:
        return "the file is in use";
    case 39:
    case 112:
        return "disk full";
    case 80:
    case 183:
        return "the file exists";
    case 82:
        return "the file cannot be created";
    case 87:
        return "invalid parameter";
    case 123:
        return "invalid file name";
    case 206:
        return "file name too long";
    case 267:
        return "not a directory";
    default:
        return "system error " + std::to_string(error);
    }
}

std::string DescribeResult(int result, const ResultContext &context) {
    switch (result) {
    case QZ_OK:
        return "OK";
    case QZ_ERR_WRITE:
        return "cannot write the file (disk full or write error)";
    case QZ_ERR_TRUNCATED:
        if (context.method != 0 && context.method != 8 && context.method != 9)
            return "unsupported compression method " + std::to_string(context.method);
        return context.encrypted ? "the compressed data is damaged or ends early (wrong password?)"
                                 : "the compressed data is damaged or ends early";
    case QZ_ERR_SIZE:
        return "size mismatch: the data does not have the recorded size";
    case QZ_ERR_CRC:
        // The password check byte matches one wrong password in 256.
        if (context.encrypted)
            return "CRC mismatch (wrong password?)";
        return "CRC mismatch: the data is damaged";
    case QZ_ERR_VOLUME:
        if (!context.missingVolume.empty())
            return "missing volume " + context.missingVolume + ", or the archive is truncated";
        return "missing volume: a later volume of the archive cannot be opened";
    case QZ_END_OF_ARCHIVE:
        return "the archive ends before this entry";
    case QZ_BAD_RECORD:
        return "damaged archive: no entry record where the next one should start";
    case QZ_ERR_PASSWORD:
        return "wrong password";
    case QZ_ERR_INFLATE_START:
        return "out of memory";
    default:
        break;
    }
    if (IsOpenFailure(result))
        return "cannot open the archive: " +
               DescribeSystemError(ErrorOf(result, QZ_ERR_OPEN_ARCHIVE));
    if (IsCreateFailure(result))
        return "cannot create the file: " +
               DescribeSystemError(ErrorOf(result, QZ_ERR_CREATE_OUTPUT));
    return "unexpected failure (library result " + std::to_string(result) + ")";
}

}  // namespace qzcli
