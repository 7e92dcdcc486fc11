// Wavelet kernels: a kernel is a short list of lifting steps. From the steps we derive the
// equivalent analysis filters (what one pass of the lifting network does to an impulse), scale
// them to unit gain and build the matching synthesis filters. Two kernels are built in, the
// irreversible 9/7 and the reversible 5/3; others come from numbered kernel files.
#pragma once

#include <string>
#include <vector>

namespace zn::j2k {

constexpr int kKernelConvolution = 16;
constexpr int kKernelFloatLifting = 32;
constexpr int kKernelIntLifting = 64;
constexpr int kMaxLiftingSteps = 8;
constexpr int kMaxLiftingTaps = 7;

// One filter or one lifting step. Taps are indexed k = -neg .. pos; tap k sits at taps[neg + k].
struct tap_set
{
    int neg_support = 0;
    int pos_support = 0;
    std::vector<float> taps;
    std::vector<int> int_taps; // integer lifting steps only
    int downshift = 0;         // integer lifting steps only

    int Count() const { return neg_support + pos_support + 1; }
    float Tap(int k) const { return taps[size_t(neg_support + k)]; }
};

struct wavelet_kernel
{
    int type = kKernelFloatLifting; // set by the caller before loading
    int num_steps = 0;
    tap_set steps[kMaxLiftingSteps];
    float low_scale = 1.0f;  // K_L, applied to the low channel after the last step
    float high_scale = 1.0f; // K_H
    tap_set analysis_low, synthesis_low, analysis_high, synthesis_high;
};

// The code-stream form of a lifting kernel; taps are listed as the kernel file lists them.
struct user_kernel_spec
{
    int num_steps = 0;
    int tap_count[kMaxLiftingSteps] = {};
    int shift[kMaxLiftingSteps] = {};
    int taps[kMaxLiftingSteps][kMaxLiftingTaps] = {};
    user_kernel_spec *next = nullptr;
};

// Path of kernel file `id`: `dir`, then "float_lifting" or "int_lifting", then "kernel-%03d",
// always joined with '/'.
std::string kernel_file_path(const char *kernels_dir, int id, int type);

// Fills `kernel` (type already set) from "W9X7", "W5X3" or a file id 0..255. Returns 1 when the
// kernel came from a file, 0 for a built-in one. Errors end the run.
int load_kernel(const char *id, const char *kernels_dir, wavelet_kernel &kernel);

// Derived data, exposed for the decoder builder and for tests.
void lifting_to_filters(wavelet_kernel &kernel);
float normalize_filter(tap_set &filter);
void make_synthesis_filters(wavelet_kernel &kernel);

user_kernel_spec make_user_kernel_spec(const wavelet_kernel &kernel);

// Decoder side: a built-in name, or (name null) the signalled kernel.
void build_decoder_kernel(const char *name, const user_kernel_spec *signalled, wavelet_kernel &kernel);

} // namespace zn::j2k
