// The discrete wavelet transform of one tile-component. Each level splits the current low-low
// region by columns (vertical stage) and then by rows (horizontal stage) into four subbands; the
// low-low band feeds the next level. Reversible components stay in integers throughout, all others
// run in single precision. Band rows leave through a sink and come back through a source, which is
// where the quantiser sits in the codec. The one-dimensional lifting and convolution below are the
// plain forms of what the line-based stages (wavelet_stages.h) do along rows and columns.
#pragma once

#include "jpeg2000/wavelet_kernels.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace zn::j2k {

// rows, columns, first row, first column; the first row and column are absolute coordinates at
// the region's own resolution, so their parity says which samples are low-pass.
struct region_rect
{
    int rows = 0;
    int cols = 0;
    int first_row = 0;
    int first_col = 0;
};

// Number of samples of parity p in [a, a + n - 1].
int parity_count(int a, int n, int p);
// The sub-region of vertical branch v and horizontal branch h.
region_rect child_region(const region_rect &r, int v, int h);
// The share of one branch of a split along one axis: rows of parity `branch` for a vertical split,
// columns for a horizontal one; the other axis stays.
region_rect split_region(const region_rect &r, bool vertical, int branch);

// SSO-DWT frames of one direction at one stage: the row is transformed frame by frame, frames of
// `size` samples (a power of 2) laid from `anchor`. With `sso_extension` the row's own ends also
// become single-sample-overlap boundaries where they fall on a low-pass sample.
struct lifting_frames
{
    bool frames = false;
    int size = 1 << 28;
    int anchor = 0;
    bool sso_extension = false;
};

// One-dimensional lifting of `n` samples starting at absolute position `first`. Low band: samples
// at even positions, high band: odd positions. `scale_always` false skips a scale within 1e-5 of 1
// (the vertical stages do this).
void lift_analysis(const wavelet_kernel &k, const float *in, int n, int first, float *low, float *high,
                   bool scale_always = true, const lifting_frames &f = {});
void lift_analysis(const wavelet_kernel &k, const int32_t *in, int n, int first, int32_t *low, int32_t *high,
                   const lifting_frames &f = {});
void lift_synthesis(const wavelet_kernel &k, const float *low, const float *high, int n, int first,
                    float *out, bool scale_always = true, const lifting_frames &f = {});
void lift_synthesis(const wavelet_kernel &k, const int32_t *low, const int32_t *high, int n, int first,
                    int32_t *out, const lifting_frames &f = {});
// SSO-DWT frames need a kernel whose prediction steps reach beyond two taps.
void check_sso_kernel(const wavelet_kernel &k);

// The same split by convolution with the kernel's analysis (synthesis) filters: symmetric extension,
// or point-symmetric extension (odd-length filters starting on an even sample).
void conv_analysis(const wavelet_kernel &k, const float *in, int n, int first, float *low, float *high,
                   bool point_symmetric = false);
void conv_synthesis(const wavelet_kernel &k, const float *low, const float *high, int n, int first,
                    float *out, bool point_symmetric = false);
// Convolution needs filters symmetric (or antisymmetric) as the boundary extension assumes.
void check_convolution_symmetry(const wavelet_kernel &k);

// Where analysed band rows go (the quantiser's place) and where synthesis takes them from.
class band_row_sink
{
public:
    virtual ~band_row_sink() = default;
    virtual void push_int_row(const int32_t *row, int component, int level, int band, int length) = 0;
    virtual void push_float_row(const float *row, int component, int level, int band, int length) = 0;
};

class band_row_source
{
public:
    virtual ~band_row_source() = default;
    virtual void pull_int_row(int32_t *row, int component, int level, int band, int length) = 0;
    virtual void pull_float_row(float *row, int component, int level, int band, int length) = 0;
};

// One level of a component's decomposition.
struct level_transform
{
    const wavelet_kernel *vertical = nullptr;
    const wavelet_kernel *horizontal = nullptr;
    int hp_descent = 1;
    bool vert_sso = false, hor_sso = false; // SSO-DWT frames at this level
};

struct component_transform_setup
{
    int levels = 5;           // at most 32
    bool reversible = false;  // integer path with an integer lifting kernel
    bool convolution = false; // non-reversible only (kernels of the convolution type select it too)
    const wavelet_kernel *vertical = nullptr;
    const wavelet_kernel *horizontal = nullptr;
    // Decomposition structure, indexed by level (entry 0 unused): 0 leaves the level unsplit, 1 the
    // usual split, 2 and 3 split the high bands again at the same level (their children are numbered
    // 4 * band + 2 * v + h). Empty: 1 everywhere.
    std::vector<int> hp_descent;
    // Per level 0 .. levels, when given: kernels, structure and frames of each level, in place of the
    // single kernel pair and `hp_descent` above.
    std::vector<level_transform> level;
    // SSO-DWT frames at the top level's resolution; each split halves them.
    int frame_height = 1 << 28, frame_width = 1 << 28, anchor_row = 0, anchor_col = 0;
    bool sso_extension = false;   // "-Xsso_ext"
    bool point_symmetric = false; // "-XpsExt", convolution only
};

// Bands are addressed (level, band): level L..1 hold bands 1 (vertically low, horizontally high),
// 2 (vertically high, horizontally low) and 3; level 0 holds the final low-low band 0. Rows of a
// band are pushed top to bottom, the bands' rows interleaved as the tree produces them.
void analyse_component(const component_transform_setup &setup, int component, const region_rect &region,
                       const int32_t *samples, band_row_sink &sink);
// Reconstructs the region's samples; the float path rounds half away from zero.
void synthesise_component(const component_transform_setup &setup, int component, const region_rect &region,
                          band_row_source &source, int32_t *samples);

// A synthesised float sample as an integer, rounded half away from zero. A damaged stream can
// drive the synthesis far outside any sample range: such values saturate instead of overflowing.
inline int32_t round_sample(float value)
{
    if (std::isnan(value))
        return 0;
    const double v = std::fmin(std::fmax(double(value), -2147483648.0), 2147483647.0);
    return int32_t(v < 0 ? -std::floor(-v + 0.5) : std::floor(v + 0.5));
}

// A row of synthesised samples rounded as round_sample rounds each: the fast form for the rows of
// the decoder (in range, adding a half in double precision and truncating is exact).
inline void round_samples(const float *in, int32_t *out, int n)
{
    for (int i = 0; i < n; ++i) {
        const double d = in[i];
        out[i] = d >= -2147483648.0 && d <= 2147483647.0 ? int32_t(d < 0 ? d - 0.5 : d + 0.5)
                                                         : round_sample(in[i]);
    }
}

} // namespace zn::j2k
