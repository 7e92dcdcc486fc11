// Fuzzes the wavelet kernel readers: the input becomes a float and an integer kernel file, and also
// a signalled kernel for the decoder builder; each kernel that loads then transforms a short row.
#include "jpeg2000/local_services.h"
#include "jpeg2000/wavelet_kernels.h"
#include "jpeg2000/wavelet_transform.h"

#include "platform/errors.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {
const std::string &Dir()
{
    static const std::string dir = [] {
        auto root =
            std::filesystem::temp_directory_path() / ("zn_fuzz_kernels_" + std::to_string(::getpid()));
        std::filesystem::create_directories(root / "float_lifting");
        std::filesystem::create_directories(root / "int_lifting");
        return root.string();
    }();
    return dir;
}

void Exercise(const zn::j2k::wavelet_kernel &k)
{
    using namespace zn::j2k;
    for (int first = 0; first < 2; ++first) {
        float in[9] = {1, -2, 3, 7, 0, 5, -8, 2, 4}, lo[9], hi[9], back[9];
        lift_analysis(k, in, 9, first, lo, hi);
        lift_synthesis(k, lo, hi, 9, first, back);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace zn::j2k;
    for (const char *kind : {"float_lifting", "int_lifting"}) {
        std::FILE *f = std::fopen((Dir() + "/" + kind + "/kernel-000").c_str(), "wb");
        if (!f)
            return 0;
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    for (int type : {kKernelFloatLifting, kKernelIntLifting}) {
        J2kRun run;
        try {
            wavelet_kernel k;
            k.type = type;
            load_kernel("0", Dir().c_str(), k);
            if (type == kKernelFloatLifting)
                Exercise(k);
        } catch (const zn::RunAborted &) {
        }
    }
    user_kernel_spec signalled;
    size_t p = 0;
    auto next = [&]() -> int { return p < size ? data[p++] : 0; };
    signalled.num_steps = next() % 10;
    for (int s = 0; s < 8; ++s) {
        signalled.tap_count[s] = next() % 9;
        signalled.shift[s] = next() % 34;
        for (int t = 0; t < 7; ++t)
            signalled.taps[s][t] = int16_t(next() << 8 | next());
    }
    for (int type : {kKernelFloatLifting, kKernelIntLifting}) {
        J2kRun run;
        try {
            wavelet_kernel k;
            k.type = type;
            build_decoder_kernel(nullptr, &signalled, k);
        } catch (const zn::RunAborted &) {
        }
    }
    return 0;
}
