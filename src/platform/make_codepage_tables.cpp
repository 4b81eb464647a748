// Build-time tool (Linux): writes the decoding tables of the code pages that
// records' names are read in (the platform layer's MultiByteToWideChar) and
// that the command line writes names in, as C++ source on standard output.
// The mappings come from the C library's own converters (iconv), so the
// tables are made on the build machine and never fetched from anywhere.
//
// For each code page: the character of every byte 0x80-0xFF (0 when the
// byte is not a character, 0xFFFF when it leads a two-byte sequence), and
// for the two-byte pages every defined (lead, trail) pair with its
// character, sorted by the pair.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <iconv.h>
#include <vector>

namespace {

struct Page {
    unsigned number;
    const char *iconvName;
    bool doubleByte;
};

const Page kPages[] = {
    {437, "CP437", false},   {850, "CP850", false},   {1250, "CP1250", false},
    {1251, "CP1251", false}, {1252, "CP1252", false}, {932, "CP932", true},
    {936, "CP936", true},
};

// The character the bytes make, 0 when they make none, -1 when they are the
// start of a longer sequence.
long Decode(iconv_t cd, const unsigned char *bytes, size_t n) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char in[4];
    for (size_t i = 0; i < n; ++i)
        in[i] = static_cast<char>(bytes[i]);
    uint32_t out[4] = {0, 0, 0, 0};
    char *inp = in;
    size_t inLeft = n;
    char *outp = reinterpret_cast<char *>(out);
    size_t outLeft = sizeof out;
    const size_t rc = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    if (rc == static_cast<size_t>(-1))
        return errno == EINVAL ? -1 : 0;
    if (inLeft != 0 || sizeof out - outLeft != 4 || out[0] > 0xFFFF)
        return 0;
    return static_cast<long>(out[0]);
}

}  // namespace

int main() {
    std::printf("// Generated at build time by make_codepage_tables from the C library's\n"
                "// converters. Do not edit.\n\n");
    for (const Page &page : kPages) {
        iconv_t cd = iconv_open("UTF-32LE", page.iconvName);
        if (cd == reinterpret_cast<iconv_t>(-1)) {
            std::fprintf(stderr, "make_codepage_tables: no converter for %s\n", page.iconvName);
            return 1;
        }
        std::vector<unsigned> high(128);
        std::vector<std::pair<unsigned, unsigned>> pairs;
        for (unsigned b = 0x80; b <= 0xFF; ++b) {
            const unsigned char one[1] = {static_cast<unsigned char>(b)};
            const long c = Decode(cd, one, 1);
            if (c >= 0) {
                high[b - 0x80] = static_cast<unsigned>(c);
                continue;
            }
            high[b - 0x80] = 0xFFFF;
            for (unsigned t = 0x40; t <= 0xFE; ++t) {
                const unsigned char two[2] = {static_cast<unsigned char>(b), static_cast<unsigned char>(t)};
                const long d = Decode(cd, two, 2);
                if (d > 0)
                    pairs.push_back({(b << 8) | t, static_cast<unsigned>(d)});
            }
        }
        iconv_close(cd);
        std::printf("const uint16_t kHigh%u[128] = {", page.number);
        for (size_t i = 0; i < high.size(); ++i)
            std::printf("%s0x%04X,", i % 8 == 0 ? "\n    " : " ", high[i]);
        std::printf("\n};\n");
        std::printf("const CodePair kPairs%u[] = {", page.number);
        for (size_t i = 0; i < pairs.size(); ++i)
            std::printf("%s{0x%04X, 0x%04X},", i % 4 == 0 ? "\n    " : " ", pairs[i].first, pairs[i].second);
        if (pairs.empty())
            std::printf("\n    {0, 0},");
        std::printf("\n};\n\n");
    }
    std::printf("const CodePageTable kCodePageTables[] = {\n");
    for (const Page &page : kPages)
        std::printf("    {%u, kHigh%u, kPairs%u, %s ? sizeof kPairs%u / sizeof kPairs%u[0] : 0},\n",
                    page.number, page.number, page.number, page.doubleByte ? "true" : "false",
                    page.number, page.number);
    std::printf("};\n");
    return 0;
}
