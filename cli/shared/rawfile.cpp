#include "rawfile.h"

namespace qzcli {

bool RawFile::Append(const uint8_t *data, size_t size, std::string *error) {
    return WriteAt(size_, data, size, error);
}

}  // namespace qzcli
