// Compressed records for the writer: method 8 through zlib's raw Deflate.
#include "writer/writer.h"

#include <algorithm>

#if defined(QZARC_HAVE_ZLIB)
#include <zlib.h>
#endif

namespace qzw {

bool HaveDeflate() {
#if defined(QZARC_HAVE_ZLIB)
    return true;
#else
    return false;
#endif
}

Bytes DeflateRaw(const Bytes &data, const DeflateOptions &options) {
#if defined(QZARC_HAVE_ZLIB)
    z_stream zs{};
    if (deflateInit2(&zs, options.level, Z_DEFLATED, -15, options.memLevel, options.strategy) != Z_OK)
        return {};
    Bytes out(deflateBound(&zs, static_cast<uLong>(data.size())) + 64 +
              16 * (options.flushEvery != 0 ? data.size() / options.flushEvery + 1 : 0));
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    size_t offset = 0;
    const size_t step = options.flushEvery != 0 ? options.flushEvery : data.size();
    do {
        const size_t n = std::min(step, data.size() - offset);
        zs.next_in = const_cast<Bytef *>(data.data() + offset);
        zs.avail_in = static_cast<uInt>(n);
        offset += n;
        const int flush = offset == data.size() ? Z_FINISH : options.flushMode;
        int rc;
        do {
            if (zs.avail_out == 0) {
                const size_t used = out.size();
                out.resize(used * 2);
                zs.next_out = out.data() + used;
                zs.avail_out = static_cast<uInt>(out.size() - used);
            }
            rc = deflate(&zs, flush);
            if (rc == Z_STREAM_ERROR)
                break;
        } while (zs.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
    } while (offset < data.size());
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
#else
    (void)data;
    (void)options;
    return {};
#endif
}

Record DeflatedRecord(const std::string &name, const Bytes &contents, const DeflateOptions &options) {
    Record record = StoredRecord(name, contents);
    record.method = 8;
    record.payload = DeflateRaw(contents, options);
    return record;
}

}  // namespace qzw
