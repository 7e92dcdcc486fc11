// Fuzzes the decoder's leaky-bucket check: the whole input is the parameter file (a count and records
// of rate, buffer size and fullness, most significant byte first); the decoder's rate is fixed.
#include "h264dec/decoder_records.h"
#include "h264dec/leaky_buckets.h"
#include "platform/errors.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string g_file;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char tmpl[] = "/tmp/zn_fuzz_leaky_XXXXXX";
    if (mkdtemp(tmpl))
        g_file = std::string(tmpl) + "/H264LeakyBucketParam.cfg";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (g_file.empty())
        return 0;
    std::ofstream(g_file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char *>(data), size);
    DecoderParams input;
    input.LeakyBucketParamFile = g_file;
    try {
        check_leaky_buckets(input);
    } catch (const zn::RunAborted &) {
        // an incomplete file ends the run
    }
    return 0;
}
