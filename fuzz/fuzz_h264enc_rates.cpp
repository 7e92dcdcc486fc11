// Fuzzes the encoder's leaky-bucket rate file and the bucket computation. Input: byte 0 the number of
// buckets, byte 1 the frame skip, then the rate file's text up to the first NUL byte, then picture
// sizes (3 bytes each).
#include "h264dec/h264_shared.h"
#include "h264enc/leaky_bucket.h"
#include "platform/messages.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {
std::string g_dir;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char tmpl[] = "/tmp/zn_fuzz_h264enc_rates_XXXXXX";
    if (mkdtemp(tmpl))
        g_dir = std::string(tmpl) + "/";
    zn::SetMessageHandler([](const zn::MessageRequest &) { return zn::MsgAnswer::Ok; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (g_dir.empty() || size < 2)
        return 0;
    const int n = 2 + data[0] % 254;
    const int skip = data[1] % 8;
    const uint8_t *text = data + 2;
    const size_t rest = size - 2;
    const void *nul = std::memchr(text, 0, rest);
    const size_t textLen = nul ? static_cast<size_t>(static_cast<const uint8_t *>(nul) - text) : rest;
    const std::string path = g_dir + "H264LeakyBucketRate.cfg";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char *>(text), textLen);
    std::vector<int> bits;
    for (size_t i = textLen + 1; i + 3 <= rest; i += 3)
        bits.push_back(text[i] | text[i + 1] << 8 | text[i + 2] << 16);
    try {
        std::vector<uint32_t> rates;
        const bool have = h264enc::read_leaky_rates(path, n, rates);
        const h264enc::LeakyBuckets b =
            h264enc::ComputeLeakyBuckets(bits, n, 30, skip, have ? &rates : nullptr);
        h264enc::write_leaky_params(g_dir + "H264LeakyBucketParam.cfg", b);
    } catch (const zn::RunAborted &) {
    }
    return 0;
}
