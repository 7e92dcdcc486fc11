// The leaky-bucket check. The decoder's rate usually falls between two of the encoder's bucket rates;
// the buffer the stream needs there is interpolated linearly, since both the minimum size and the
// minimum fullness fall as the rate rises. Above the highest bucket the last bucket's values hold.
#include "h264dec/leaky_buckets.h"

#include "h264dec/decoder_records.h"
#include "h264dec/h264_shared.h"
#include "platform/file.h"
#include "platform/format.h"
#include "platform/log.h"

#include <vector>

bool read_be32(std::FILE *f, uint32_t &value)
{
    uint8_t b[4];
    if (std::fread(b, 1, 4, f) != 4)
        return false;
    value = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
            static_cast<uint32_t>(b[2]) << 8 | b[3];
    return true;
}

LeakyBucketResult check_leaky_buckets(const DecoderParams &input)
{
    using zn::LogLevel;
    LeakyBucketResult result;
    const char *path = input.LeakyBucketParamFile.c_str();
    zn::FilePtr file(std::fopen(path, "rb"));
    if (!file)
        h264_fatal_error(zn::Format("Error open file %s \n", path), 1);
    // The encoder writes the whole file at the end of its run, so a file without its count or shorter
    // than the count says was cut off; the count is checked against the length before anything is
    // allocated for it.
    uint32_t n = 0;
    const bool counted = read_be32(file.get(), n);
    if (counted)
        zn::LogF(LogLevel::Info, " Number Leaky Buckets: %8ld \n\n", static_cast<long>(n));
    long size = -1;
    if (counted && std::fseek(file.get(), 0, SEEK_END) == 0)
        size = std::ftell(file.get());
    if (size < 0 || static_cast<unsigned long long>(size) < 4ULL + 12ULL * n ||
        std::fseek(file.get(), 4, SEEK_SET) != 0)
        h264_fatal_error(zn::Format("The leaky-bucket file %s is incomplete: it holds fewer buckets than "
                                    "its count says",
                                    path),
                         1);
    std::vector<uint32_t> Rmin(n), Bmin(n), Fmin(n);
    for (uint32_t i = 0; i < n; ++i) {
        if (!read_be32(file.get(), Rmin[i]) || !read_be32(file.get(), Bmin[i]) ||
            !read_be32(file.get(), Fmin[i]))
            h264_fatal_error(zn::Format("Error reading the leaky-bucket file %s", path), 1);
        zn::LogF(LogLevel::Info, " %8ld %8ld %8ld \n", static_cast<long>(Rmin[i]), static_cast<long>(Bmin[i]),
                 static_cast<long>(Fmin[i]));
    }
    file.reset();

    const uint32_t R = static_cast<uint32_t>(input.Rate_decoder);
    uint32_t i = 0;
    while (i < n && Rmin[i] <= R)
        ++i;
    zn::Log(LogLevel::Info, "\n");
    if (i == 0) {
        zn::Log(LogLevel::Info, " Decoder Rate is too small; HRD cannot be verified \n");
        result.verdict = HrdVerdict::TooSmall;
        return result;
    }
    if (i < n) {
        // Every bucket before i has a rate at or below R, so both differences are non-negative.
        const double span = static_cast<double>(Rmin[i] - Rmin[i - 1]);
        const double above = static_cast<double>(Rmin[i] - R), below = static_cast<double>(R - Rmin[i - 1]);
        result.B = static_cast<float>((Bmin[i - 1] * above + Bmin[i] * below) / span);
        result.F = static_cast<float>((Fmin[i - 1] * above + Fmin[i] * below) / span);
    } else {
        result.B = static_cast<float>(Bmin[n - 1]);
        result.F = static_cast<float>(Fmin[n - 1]);
    }
    zn::LogF(LogLevel::Info,
             " Min.buffer %8.2f Decoder buffer size %ld \n Minimum Delay %8.2f DecoderDelay %ld \n",
             static_cast<double>(result.B), static_cast<long>(input.B_decoder), static_cast<double>(result.F),
             static_cast<long>(input.F_decoder));
    const bool compliant = result.B < input.B_decoder && result.F < input.F_decoder;
    zn::Log(LogLevel::Info, compliant ? " HRD Compliant \n" : " HRD Non Compliant \n");
    result.verdict = compliant ? HrdVerdict::Compliant : HrdVerdict::NonCompliant;
    return result;
}
