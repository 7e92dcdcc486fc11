// Leaky buckets. Seen from the encoder, a bucket of `cap` bits drains at the channel rate and each
// picture pours its bits in; the deepest it ever gets is the decoder buffer needed. The initial
// fullness is the largest deficit a decoder would meet if it started playing with an empty buffer.
#include "h264enc/leaky_bucket.h"

#include "h264dec/h264_shared.h"
#include "h264enc/enc_run.h"
#include "platform/file.h"
#include "platform/format.h"
#include "platform/log.h"

#include <algorithm>
#include <cctype>

namespace h264enc {

namespace {

// One "%ld" value: blanks skipped, an optional sign, digits. False for anything else or a value that is
// not a rate (negative, beyond 32 bits).
bool ReadRate(std::FILE *f, uint32_t *rate)
{
    int c = std::fgetc(f);
    while (c != EOF && std::isspace(c))
        c = std::fgetc(f);
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = std::fgetc(f);
    }
    if (c == EOF || !std::isdigit(c))
        return false;
    unsigned long long v = 0;
    while (c != EOF && std::isdigit(c)) {
        v = v * 10 + static_cast<unsigned>(c - '0');
        if (v > 0xFFFFFFFFull)
            return false;
        c = std::fgetc(f);
    }
    if (c != EOF)
        std::ungetc(c, f);
    if (negative && v != 0)
        return false;
    *rate = static_cast<uint32_t>(v);
    return true;
}

// Four bytes, most significant first: the parameter file's byte order.
void write_be32(std::vector<uint8_t> &out, uint32_t v)
{
    for (int k = 3; k >= 0; --k)
        out.push_back(static_cast<uint8_t>(v >> (8 * k)));
}

} // namespace

bool read_leaky_rates(const std::string &path, int n, std::vector<uint32_t> &rates)
{
    zn::FilePtr f(std::fopen(path.c_str(), "r"));
    if (!f) {
        zn::Log(zn::LogLevel::Info,
                " LeakyBucketRate File does not exist; using rate calculated from avg. rate \n");
        return false;
    }
    std::vector<uint32_t> read;
    for (int i = 0; i < n; ++i) {
        uint32_t r = 0;
        if (!ReadRate(f.get(), &r)) {
            zn::Log(zn::LogLevel::Info, " Leaky BucketRateFile does not have valid entries;\n using rate "
                                        "calculated from avg. rate \n");
            return false;
        }
        read.push_back(r);
    }
    rates = read;
    return true;
}

void sort_leaky_rates(std::vector<uint32_t> &rates)
{
    for (size_t i = 0; i < rates.size(); ++i)
        for (size_t j = i + 1; j < rates.size(); ++j)
            if (rates[j] < rates[i])
                std::swap(rates[i], rates[j]);
}

LeakyBuckets ComputeLeakyBuckets(const std::vector<int> &picture_bits, int n, int framerate, int frame_skip,
                                 const std::vector<uint32_t> *rates)
{
    LeakyBuckets b;
    const size_t pictures = picture_bits.size();
    uint32_t total = 0;
    for (int bits : picture_bits)
        total += static_cast<uint32_t>(bits);
    const uint32_t mean =
        pictures ? static_cast<uint32_t>(static_cast<double>(total) / static_cast<double>(pictures)) : 0;
    const uint32_t step = static_cast<uint32_t>(frame_skip) + 1;
    if (rates && static_cast<int>(rates->size()) == n) {
        b.Rmin = *rates;
    } else {
        b.Rmin.resize(static_cast<size_t>(n));
        b.Rmin[0] = mean * static_cast<uint32_t>(framerate) / step;
        for (int i = 1; i < n; ++i)
            b.Rmin[static_cast<size_t>(i)] =
                b.Rmin[static_cast<size_t>(i) - 1] + (mean / 4) * static_cast<uint32_t>(framerate) / step;
    }
    sort_leaky_rates(b.Rmin);
    b.Bmin.resize(static_cast<size_t>(n));
    b.Fmin.resize(static_cast<size_t>(n));
    if (pictures == 0)
        return b;

    // 64-bit levels: the file's 32-bit values never wrap inside the walk.
    const long long cap = 20LL * mean;
    std::vector<long long> level(pictures + 1);
    size_t minFrame = 0;
    for (int i = 0; i < n; ++i) {
        const long long drain = static_cast<long long>(b.Rmin[static_cast<size_t>(i)]) * step / framerate;
        level[0] = cap;
        long long lowest = cap;
        for (size_t f = 0; f < pictures; ++f) {
            level[f] -= picture_bits[f];
            if (level[f] < lowest) {
                lowest = level[f];
                minFrame = f;
            }
            level[f + 1] = std::min(level[f] + drain, cap);
        }
        const long long bmin = cap - lowest;
        b.Bmin[static_cast<size_t>(i)] = static_cast<uint32_t>(bmin);

        long long fullness = picture_bits[0];
        level[0] = picture_bits[0];
        for (size_t f = 0; f <= minFrame; ++f) {
            level[f] -= picture_bits[f];
            if (level[f] < 0) {
                fullness -= level[f];
                level[f] = 0;
            }
            level[f + 1] = level[f] + drain;
            if (level[f + 1] > bmin)
                break;
        }
        b.Fmin[static_cast<size_t>(i)] = static_cast<uint32_t>(fullness);
    }
    return b;
}

std::vector<uint8_t> LeakyParamBytes(const LeakyBuckets &b)
{
    std::vector<uint8_t> out;
    write_be32(out, static_cast<uint32_t>(b.Rmin.size()));
    for (size_t i = 0; i < b.Rmin.size(); ++i) {
        write_be32(out, b.Rmin[i]);
        write_be32(out, b.Bmin[i]);
        write_be32(out, b.Fmin[i]);
    }
    return out;
}

void write_leaky_params(const std::string &path, const LeakyBuckets &b)
{
    const std::vector<uint8_t> bytes = LeakyParamBytes(b);
    zn::FilePtr f(std::fopen(path.c_str(), "wb"));
    if (!f)
        h264_fatal_error(zn::Format("Error open file %s  \n", path.c_str()), 1);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
    if (std::fclose(f.release()) != 0 || !written)
        h264_fatal_error(zn::Format("Error writing file %s", path.c_str()), 1);
    zn::LogF(zn::LogLevel::Info, " Number Leaky Buckets: %zu \n     Rmin     Bmin     Fmin \n",
             b.Rmin.size());
    for (size_t i = 0; i < b.Rmin.size(); ++i)
        zn::LogF(zn::LogLevel::Info, " %8u %8u %8u \n", b.Rmin[i], b.Bmin[i], b.Fmin[i]);
}

void init_buffer(EncoderRun &run)
{
    const EncoderParams &p = run.input;
    zn::LogF(zn::LogLevel::Info, "%s\n Total Frames:  %zu (%d) \n", std::string(74, '-').c_str(),
             run.picture_bits.size(), p.FramesToBeEncoded);
    std::vector<uint32_t> rates;
    const bool haveRates = read_leaky_rates(p.LeakyBucketRateFile, p.NumberofLeakyBuckets, rates);
    const LeakyBuckets b = ComputeLeakyBuckets(run.picture_bits, p.NumberofLeakyBuckets, run.img.framerate,
                                               p.FrameSkip, haveRates ? &rates : nullptr);
    write_leaky_params(p.LeakyBucketParamFile, b);
}

} // namespace h264enc
