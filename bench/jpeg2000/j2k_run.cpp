// One JPEG2000 run as a whole process, the way the module's Apply codes a picture, for timing against
// opj_compress / opj_decompress and for measuring peak memory (bench/jpeg2000/j2k_process_bench.py):
//   bench_j2k_run encode PICTURE.bmp STREAM RATE|lossless   the module's encoder vector at that rate
//   bench_j2k_run decode STREAM PICTURE.bmp|.pgm|- [RATE]   decode (cut at RATE bits per pixel, else
//                                                           whole) into a work image, saved as BMP or
//                                                           as PGM (what opj_decompress writes); -
//                                                           saves nothing
//   bench_j2k_run standard STREAM OUT.j2k                   our header layout turned into the
//                                                           standard's, for opj_decompress
// Decoding prints the checksum of the decoded grey levels, so a speed-up can be checked for equal
// output on pictures of any size.
#include "jpeg2000/support/j2k_header_convert.h"

#include "image/cdib.h"
#include "jpeg2000/module/jp2_apply.h"
#include "platform/errors.h"
#include "support/test_support.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: bench_j2k_run encode PICTURE.bmp STREAM RATE|lossless\n"
                         "       bench_j2k_run decode STREAM PICTURE.bmp|PICTURE.pgm|- [RATE]\n"
                         "       bench_j2k_run standard STREAM OUT.j2k\n");
    return 2;
}

uint64_t GreyChecksum(const CDib &dib)
{
    uint64_t h = 0xcbf29ce484222325ull;
    const int step = dib.GetInfoHeader()->biBitCount / 8;
    for (int k = dib.GetHeight() - 1; k >= 0; --k) {
        const uint8_t *row = dib.StoredRow(k);
        for (int x = 0; x < dib.GetWidth(); ++x)
            h = (h ^ row[size_t(x) * size_t(step)]) * 0x100000001b3ull;
    }
    return h;
}

// The grey levels of a work image as a binary PGM, top row first.
int SavePgm(const CDib &dib, const char *path)
{
    std::FILE *f = std::fopen(path, "wb");
    if (!f) {
        std::fprintf(stderr, "cannot write %s\n", path);
        return 1;
    }
    std::fprintf(f, "P5\n%d %d\n255\n", dib.GetWidth(), dib.GetHeight());
    const int step = dib.GetInfoHeader()->biBitCount / 8;
    std::vector<uint8_t> line(size_t(dib.GetWidth()));
    for (int k = dib.GetHeight() - 1; k >= 0; --k) {
        const uint8_t *row = dib.StoredRow(k);
        for (int x = 0; x < dib.GetWidth(); ++x)
            line[size_t(x)] = row[size_t(x) * size_t(step)];
        std::fwrite(line.data(), 1, line.size(), f);
    }
    return std::fclose(f) == 0 ? 0 : 1;
}

int Encode(const char *picture, const char *stream, const char *rate)
{
    CDib source;
    if (source.LoadDibFile(picture, true) < 0) {
        std::fprintf(stderr, "cannot read %s\n", picture);
        return 1;
    }
    Jpeg2000Params p;
    if (!std::strcmp(rate, "lossless")) {
        p.m_fEncRate = Jpeg2000Params::kLossless;
        p.m_bReversible = 1;
    } else {
        p.m_fEncRate = float(std::atof(rate));
    }
    std::string text;
    const Jpeg2000Encoding e = Jpeg2000Encode(p, source, stream, &text);
    std::printf("encoded %d bytes (budget %d)\n", e.generated, e.budget);
    return 0;
}

int Decode(const char *stream, const char *picture, const char *rate)
{
    Jpeg2000Params p;
    p.m_fTruncRate = rate ? float(std::atof(rate)) : -1.0f;
    CDib target;
    const Jpeg2000Decoding d = Jpeg2000Decode(p, stream, &target);
    std::printf("decoded %d x %d from %d bytes, checksum 0x%016" PRIx64 "\n", d.cols, d.rows, d.bytesRead,
                GreyChecksum(target));
    const size_t length = std::strlen(picture);
    if (length > 4 && !std::strcmp(picture + length - 4, ".pgm"))
        return SavePgm(target, picture);
    if (std::strcmp(picture, "-") && !target.SaveDibFile(picture)) {
        std::fprintf(stderr, "cannot write %s\n", picture);
        return 1;
    }
    return 0;
}

int Standard(const char *stream, const char *out)
{
    const std::vector<unsigned char> ours = zntest::ReadFileBytes(stream);
    std::vector<uint8_t> bytes(ours.begin(), ours.end());
    if (!j2ktest::ConvertHeaders(bytes, j2ktest::HeaderLayout::Standard)) {
        std::fprintf(stderr, "%s is not a code-stream of ours\n", stream);
        return 1;
    }
    return zntest::WriteFileBytes(out, {bytes.begin(), bytes.end()}) ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    try {
        if (argc == 5 && !std::strcmp(argv[1], "encode"))
            return Encode(argv[2], argv[3], argv[4]);
        if ((argc == 4 || argc == 5) && !std::strcmp(argv[1], "decode"))
            return Decode(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
        if (argc == 4 && !std::strcmp(argv[1], "standard"))
            return Standard(argv[2], argv[3]);
    } catch (const zn::RunAborted &e) {
        std::fprintf(stderr, "run ended: %s\n", e.what());
        return 1;
    }
    return Usage();
}
