#include "piece_deflate.h"

#if defined(QZARC_HAVE_ZLIB)
#include <zlib.h>
#endif

namespace qzcli {

std::vector<uint8_t> WindowOf(const std::vector<uint8_t> &data) {
    const size_t n = data.size() < kDeflateWindow ? data.size() : kDeflateWindow;
    return std::vector<uint8_t>(data.end() - static_cast<std::ptrdiff_t>(n), data.end());
}

bool DeflatePiece(int level, const std::vector<uint8_t> &dictionary, const std::vector<uint8_t> &data,
                  bool final, std::vector<uint8_t> *out) {
#if defined(QZARC_HAVE_ZLIB)
    z_stream zs{};
    if (deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    if (!dictionary.empty() &&
        deflateSetDictionary(&zs, dictionary.data(), static_cast<uInt>(dictionary.size())) != Z_OK) {
        deflateEnd(&zs);
        return false;
    }
    out->resize(deflateBound(&zs, static_cast<uLong>(data.size())) + 16);
    zs.next_in = const_cast<Bytef *>(data.data());
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = out->data();
    zs.avail_out = static_cast<uInt>(out->size());
    const int flush = final ? Z_FINISH : Z_SYNC_FLUSH;
    int rc;
    for (;;) {
        rc = deflate(&zs, flush);
        const bool done = final ? rc == Z_STREAM_END : (zs.avail_in == 0 && zs.avail_out != 0);
        if (done || (rc != Z_OK && rc != Z_BUF_ERROR))
            break;
        // Out of room (it should not happen with the bound): more.
        const size_t used = out->size() - zs.avail_out;
        out->resize(out->size() * 2);
        zs.next_out = out->data() + used;
        zs.avail_out = static_cast<uInt>(out->size() - used);
    }
    out->resize(zs.total_out);
    deflateEnd(&zs);
    return final ? rc == Z_STREAM_END : rc == Z_OK || rc == Z_BUF_ERROR;
#else
    (void)level;
    (void)dictionary;
    (void)data;
    (void)final;
    (void)out;
    return false;
#endif
}

}  // namespace qzcli
