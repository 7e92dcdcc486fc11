// Wavelet kernels: the built-in kernels against their published filters, kernel files, the
// normalisation, the synthesis filters and the code-stream form of a kernel.
#include "jpeg2000/local_services.h"
#include "jpeg2000/wavelet_kernels.h"
#include "jpeg2000/wavelet_transform.h"
#include "platform/errors.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <unistd.h>

namespace wavelet_kernels_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;
namespace fs = std::filesystem;

namespace {

std::vector<double> Taps(const tap_set &t)
{
    return {t.taps.begin(), t.taps.end()};
}

void ExpectTaps(const tap_set &t, int neg, const std::vector<double> &want, double tol = 1e-6)
{
    EXPECT_EQ(t.neg_support, neg);
    ASSERT_EQ(t.taps.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i)
        EXPECT_NEAR(t.taps[i], want[i], tol) << i;
}

wavelet_kernel Load(const char *id, int type, const char *dir = nullptr)
{
    wavelet_kernel k;
    k.type = type;
    load_kernel(id, dir, k);
    return k;
}

// A scratch kernels directory, removed afterwards.
struct KernelDir
{
    fs::path root = fs::temp_directory_path() / ("zn_kernels_" + std::to_string(::getpid()));
    KernelDir()
    {
        fs::create_directories(root / "float_lifting");
        fs::create_directories(root / "int_lifting");
    }
    ~KernelDir() { fs::remove_all(root); }
    void Write(const char *kind, int id, const std::string &text)
    {
        char name[32];
        std::snprintf(name, sizeof name, "kernel-%03d", id);
        std::ofstream(root / kind / name) << text;
    }
    std::string Dir() const { return root.string(); }
};

std::string ErrorOf(const std::function<void()> &f)
{
    zn::MessageRecorder rec;
    try {
        f();
    } catch (const zn::RunAborted &e) {
        return e.what();
    }
    return "(no error)";
}

} // namespace

TEST(J2kKernels, ReversibleFiveThreeHasThePublishedIntegerFilters)
{
    wavelet_kernel k = Load("W5X3", kKernelIntLifting);
    ASSERT_EQ(k.num_steps, 2);
    EXPECT_EQ(k.steps[0].int_taps, (std::vector<int>{-1, -1}));
    EXPECT_EQ(k.steps[0].downshift, 1);
    EXPECT_EQ(k.steps[1].int_taps, (std::vector<int>{1, 1}));
    EXPECT_EQ(k.steps[1].downshift, 2);
    // Even steps reach forward, odd steps backward.
    EXPECT_EQ(k.steps[0].neg_support, 0);
    EXPECT_EQ(k.steps[0].pos_support, 1);
    EXPECT_EQ(k.steps[1].neg_support, 1);
    EXPECT_EQ(k.steps[1].pos_support, 0);
    ExpectTaps(k.analysis_low, 2, {-1. / 8, 1. / 4, 3. / 4, 1. / 4, -1. / 8});
    ExpectTaps(k.analysis_high, 1, {-0.5, 1, -0.5});
    ExpectTaps(k.synthesis_low, 1, {0.5, 1, 0.5});
    ExpectTaps(k.synthesis_high, 2, {-1. / 8, -1. / 4, 3. / 4, -1. / 4, -1. / 8});
    EXPECT_EQ(k.low_scale, 1.0f);
    EXPECT_EQ(k.high_scale, 1.0f);
}

TEST(J2kKernels, FloatFiveThreeIsNormalisedToUnitNyquistGain)
{
    wavelet_kernel k = Load("W5X3", kKernelFloatLifting);
    ExpectTaps(k.analysis_low, 2, {-1. / 8, 1. / 4, 3. / 4, 1. / 4, -1. / 8});
    // The standard's orientation: a positive centre tap (its Nyquist response counted from the centre).
    ExpectTaps(k.analysis_high, 1, {-0.25, 0.5, -0.25});
    EXPECT_FLOAT_EQ(k.low_scale, 1.0f);
    EXPECT_FLOAT_EQ(k.high_scale, 0.5f);
}

// The 9/7 analysis filters as published (unit DC gain low-pass), an oracle independent of lifting.
TEST(J2kKernels, NineSevenMatchesThePublishedFilters)
{
    wavelet_kernel k = Load("W9X7", kKernelFloatLifting);
    const double lo[5] = {0.602949018236, 0.266864118443, -0.078223266529, -0.016864118443, 0.026748757411};
    const double hi[4] = {0.557543526229, -0.295635881557, -0.028771763114, 0.045635881557};
    ASSERT_EQ(k.analysis_low.Count(), 9);
    ASSERT_EQ(k.analysis_high.Count(), 7);
    for (int j = 0; j <= 4; ++j) {
        EXPECT_NEAR(k.analysis_low.Tap(j), lo[j], 1e-6) << j;
        EXPECT_NEAR(k.analysis_low.Tap(-j), lo[j], 1e-6) << j;
    }
    // Unit gain at the Nyquist frequency; the high-pass is centred on the odd sample.
    double nyquist = 0;
    for (int j = -3; j <= 3; ++j)
        nyquist += ((j & 1) ? -1 : 1) * k.analysis_high.Tap(j);
    EXPECT_NEAR(std::fabs(nyquist), 1.0, 1e-6);
    for (int j = 1; j <= 3; ++j)
        EXPECT_NEAR(k.analysis_high.Tap(j) / k.analysis_high.Tap(0), hi[j] / hi[0], 1e-6) << j;
    for (int j = 1; j <= 3; ++j)
        EXPECT_FLOAT_EQ(k.analysis_high.Tap(j), k.analysis_high.Tap(-j));
}

TEST(J2kKernels, SynthesisFiltersInvertTheAnalysisFilters)
{
    // Perfect reconstruction in the filter domain: sum over n of g_L[m - 2n] h_L[2n - k] + g_H.. = delta.
    for (int type : {kKernelFloatLifting, kKernelIntLifting})
        for (const char *id : {"W9X7", "W5X3"}) {
            if (type == kKernelIntLifting && std::string(id) == "W9X7")
                continue;
            wavelet_kernel k = Load(id, type);
            auto tap = [](const tap_set &t, int j) {
                return (j < -t.neg_support || j > t.pos_support) ? 0.0 : double(t.Tap(j));
            };
            // Impulse at input position p; analysis then synthesis must return it at position p.
            for (int p = -1; p <= 1; ++p)
                for (int m = -8; m <= 8; ++m) {
                    double out = 0;
                    for (int n = -10; n <= 10; ++n) {
                        out += tap(k.synthesis_low, m - 2 * n) * tap(k.analysis_low, p - 2 * n);
                        out += tap(k.synthesis_high, m - 2 * n - 1) * tap(k.analysis_high, p - 2 * n - 1);
                    }
                    EXPECT_NEAR(out, m == p ? 1.0 : 0.0, 1e-5) << id << " p " << p << " m " << m;
                }
        }
}

TEST(J2kKernels, KernelFilesAreReadAndRoundedToTenFractionalBits)
{
    KernelDir dir;
    dir.Write("float_lifting", 1, "2 2\n-0.5 -0.5\n0.25 0.25\n");
    dir.Write("float_lifting", 2, "2 2 0 0\n-0.5 -0.5\n\t 0.3 0.3\n");
    dir.Write("int_lifting", 5, "2 2\n-1 -1 1\n1 1 2\n");
    wavelet_kernel file = Load("1", kKernelFloatLifting, dir.Dir().c_str());
    wavelet_kernel builtin = Load("W5X3", kKernelFloatLifting);
    EXPECT_EQ(Taps(file.analysis_low), Taps(builtin.analysis_low));
    EXPECT_EQ(Taps(file.analysis_high), Taps(builtin.analysis_high));
    EXPECT_EQ(file.high_scale, builtin.high_scale);
    wavelet_kernel two = Load("2", kKernelFloatLifting, dir.Dir().c_str());
    EXPECT_EQ(two.num_steps, 2);
    EXPECT_EQ(two.steps[1].taps[0], 307.0f / 1024);
    wavelet_kernel k;
    k.type = kKernelIntLifting;
    EXPECT_EQ(load_kernel("5", dir.Dir().c_str(), k), 1);
    EXPECT_EQ(load_kernel("W5X3", dir.Dir().c_str(), k), 0);
    EXPECT_EQ(Taps(k.analysis_low), Taps(Load("5", kKernelIntLifting, dir.Dir().c_str()).analysis_low));
}

TEST(J2kKernels, KernelPathsAreJoinedWithSlashes)
{
    EXPECT_EQ(kernel_file_path("D:/k/", 5, kKernelIntLifting), "D:/k/int_lifting/kernel-005");
    EXPECT_EQ(kernel_file_path("/k", 7, kKernelFloatLifting), "/k/float_lifting/kernel-007");
    EXPECT_EQ(kernel_file_path("/k", 7, kKernelConvolution), "/k/float_lifting/kernel-007");
}

TEST(J2kKernels, BadKernelsEndTheRunWithTheirMessage)
{
    KernelDir dir;
    dir.Write("float_lifting", 10, "0\n");
    dir.Write("float_lifting", 11, "0 0\n");
    dir.Write("float_lifting", 12, "1 1 1 1 1 1 1 1 1\n1\n1\n1\n1\n1\n1\n1\n1\n1\n");
    dir.Write("float_lifting", 13, "8\n1 2 3 4 5 6 7 8\n");
    dir.Write("float_lifting", 14, "2 2\n1 1\n");
    dir.Write("float_lifting", 15, "2 2\n1 1\n1\n");
    dir.Write("int_lifting", 16, "2\n1 1\n");
    dir.Write("float_lifting", 17, "");
    dir.Write("float_lifting", 18, "2\n1e300 1\n");
    dir.Write("float_lifting", 19, "2\nnan 1\n");
    std::string d = dir.Dir();
    struct Case
    {
        const char *id;
        int type;
        const char *dir;
        const char *message;
    } cases[] = {
        {"W9X7", kKernelIntLifting, nullptr, "No built-in reversible lifting steps"},
        {"300", kKernelFloatLifting, nullptr, "Unrecognized Wavelet kernel identifier, \"300\""},
        {"W9X8", kKernelFloatLifting, nullptr, "Unrecognized Wavelet kernel identifier"},
        {"3", kKernelFloatLifting, nullptr, "Unable to load user-defined kernels until"},
        {"99", kKernelFloatLifting, d.c_str(), "Unable to open the user-defined lifting filter file"},
        {"10", kKernelFloatLifting, d.c_str(), "Unable to parse the user-defined lifting steps"},
        {"11", kKernelFloatLifting, d.c_str(), "Unable to parse the user-defined lifting steps"},
        {"12", kKernelFloatLifting, d.c_str(), "Unable to parse the user-defined lifting steps"},
        {"17", kKernelFloatLifting, d.c_str(), "Unable to parse the user-defined lifting steps"},
        {"13", kKernelFloatLifting, d.c_str(), "Unable to represent lifting kernels with more than 7 taps"},
        {"14", kKernelFloatLifting, d.c_str(), "Syntax error in user-defined lifting filter file"},
        {"15", kKernelFloatLifting, d.c_str(), "Syntax error in user-defined lifting filter file"},
        {"16", kKernelIntLifting, d.c_str(), "Syntax error in user-defined lifting filter file"},
        {"18", kKernelFloatLifting, d.c_str(), "is outside the range that can be signalled"},
        {"19", kKernelFloatLifting, d.c_str(), "is outside the range that can be signalled"},
    };
    for (const Case &c : cases) {
        std::string e = ErrorOf([&] { Load(c.id, c.type, c.dir); });
        EXPECT_NE(e.find(c.message), std::string::npos) << c.id << ": " << e;
    }
    EXPECT_NE(ErrorOf([&] { Load("15", kKernelFloatLifting, d.c_str()); }).find("step 2 out of 2"),
              std::string::npos);
    // Signalled kernels out of range: too many steps, too many taps, a shift or tap too wide.
    for (int field = 0; field < 4; ++field) {
        user_kernel_spec signalled;
        signalled.num_steps = field == 0 ? 9 : 1;
        signalled.tap_count[0] = field == 1 ? 8 : 2;
        signalled.shift[0] = field == 2 ? 31 : 1;
        signalled.taps[0][0] = field == 3 ? 40000 : 1;
        EXPECT_NE(ErrorOf([&] {
                      wavelet_kernel k;
                      build_decoder_kernel(nullptr, &signalled, k);
                  }).find("Invalid lifting kernel"),
                  std::string::npos)
            << field;
    }
    EXPECT_NE(ErrorOf([&] {
                  wavelet_kernel k;
                  k.type = kKernelIntLifting;
                  build_decoder_kernel("W9X7", nullptr, k);
              }).find("Cannot use the W9X7 kernel with a reversible decomposition"),
              std::string::npos);
}

TEST(J2kKernels, SignalledKernelsAreRebuiltWithTheEncodersTaps)
{
    KernelDir dir;
    dir.Write("float_lifting", 3, "4 2\n-0.0625 0.5625 0.5625 -0.0625\n0.3 0.3\n");
    dir.Write("int_lifting", 4, "4 2\n1 -9 -9 1 4\n1 1 2\n");
    for (auto [id, type] : {std::pair{"3", kKernelFloatLifting}, std::pair{"4", kKernelIntLifting}}) {
        wavelet_kernel enc = Load(id, type, dir.Dir().c_str());
        user_kernel_spec signalled = make_user_kernel_spec(enc);
        ASSERT_EQ(signalled.num_steps, 2);
        EXPECT_EQ(signalled.tap_count[0], 4);
        if (type == kKernelFloatLifting) {
            EXPECT_EQ(signalled.shift[0], 10);
            EXPECT_EQ(signalled.taps[1][0], 307);
        } else {
            EXPECT_EQ(signalled.shift[0], 4);
            EXPECT_EQ(signalled.taps[0][1], -9);
        }
        wavelet_kernel dec;
        dec.type = type;
        build_decoder_kernel(nullptr, &signalled, dec);
        ASSERT_EQ(dec.num_steps, enc.num_steps);
        for (int s = 0; s < enc.num_steps; ++s) {
            EXPECT_EQ(Taps(dec.steps[s]), Taps(enc.steps[s]));
            EXPECT_EQ(dec.steps[s].int_taps, enc.steps[s].int_taps);
            EXPECT_EQ(dec.steps[s].neg_support, enc.steps[s].neg_support);
        }
        EXPECT_EQ(Taps(dec.synthesis_low), Taps(enc.synthesis_low));
        EXPECT_EQ(dec.high_scale, enc.high_scale);
    }
    // A signalled step without taps is a step that changes nothing.
    {
        user_kernel_spec signalled = make_user_kernel_spec(Load("W5X3", kKernelIntLifting));
        signalled.num_steps = 3;
        signalled.tap_count[2] = 0;
        for (int type : {kKernelIntLifting, kKernelFloatLifting}) {
            wavelet_kernel dec;
            dec.type = type;
            build_decoder_kernel(nullptr, &signalled, dec);
            EXPECT_EQ(Taps(dec.analysis_low), Taps(Load("W5X3", type).analysis_low));
            float in[5] = {1, 2, 3, 4, 9}, lo[3], hi[3], back[5]; // odd start: 2 low, 3 high
            lift_analysis(dec, in, 5, 1, lo, hi);
            lift_synthesis(dec, lo, hi, 5, 1, back);
            for (int i = 0; i < 5; ++i)
                EXPECT_NEAR(back[i], in[i], 1e-5);
        }
    }
    for (const char *name : {"W9X7", "W5X3"}) {
        wavelet_kernel dec, enc;
        dec.type = enc.type = kKernelFloatLifting;
        build_decoder_kernel(name, nullptr, dec);
        load_kernel(name, nullptr, enc);
        EXPECT_EQ(Taps(dec.analysis_low), Taps(enc.analysis_low)) << name;
    }
}

} // namespace wavelet_kernels_test
