#include "results.h"

#include "qzarc.h"

namespace qzcli {
namespace {

// The Win32 error number a library message ends with, "... (error 5)".
bool SystemErrorIn(const std::string &message, uint32_t *error) {
    const size_t at = message.rfind("(error ");
    if (at == std::string::npos)
        return false;
    uint32_t value = 0;
    size_t i = at + 7;
    for (; i < message.size() && message[i] >= '0' && message[i] <= '9'; ++i)
        value = value * 10 + static_cast<uint32_t>(message[i] - '0');
    if (i == at + 7 || i >= message.size() || message[i] != ')')
        return false;
    *error = value;
    return true;
}

}  // namespace

std::string SystemErrorOf(const std::string &message) {
    uint32_t error = 0;
    return SystemErrorIn(message, &error) ? DescribeSystemError(error) : "";
}

bool IsCreateFailure(int result, const std::string &message) {
    return result == QZ_E_IO && message.compare(0, 13, "cannot create") == 0;
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
    const std::string why = SystemErrorOf(context.message);
    switch (result) {
    case QZ_ARCHIVE_OK:
        return "OK";
    case QZ_ARCHIVE_END:
        return "the archive ends before this entry";
    case QZ_E_PASSWORD:
        return "wrong password";
    case QZ_E_METHOD:
        return "unsupported compression method " + std::to_string(context.method);
    case QZ_E_DATA:
        return context.encrypted ? "the compressed data is damaged or ends early (wrong password?)"
                                 : "the compressed data is damaged or ends early";
    case QZ_E_SIZE:
        return "size mismatch: the data does not have the recorded size";
    case QZ_E_CRC:
        // The password check byte matches one wrong password in 256.
        if (context.encrypted)
            return "CRC mismatch (wrong password?)";
        return "CRC mismatch: the data is damaged";
    case QZ_E_VOLUME:
        if (!context.missingVolume.empty())
            return "missing volume " + context.missingVolume + ", or the archive is truncated";
        return "missing volume: a later volume of the archive cannot be opened";
    case QZ_E_RECORD:
        return "damaged archive: no entry record where the next one should start";
    case QZ_E_NOMEM:
        return "out of memory";
    case QZ_E_IO:
        if (IsCreateFailure(result, context.message))
            return "cannot create the file: " + (why.empty() ? context.message : why);
        if (context.message.compare(0, 7, "writing") == 0)
            return "cannot write the file (disk full or write error)";
        return "cannot read the archive" + (why.empty() ? "" : ": " + why);
    default:
        break;
    }
    return "unexpected failure (library result " + std::to_string(result) + ")" +
           (context.message.empty() ? "" : ": " + context.message);
}

}  // namespace qzcli
