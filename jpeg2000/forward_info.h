// The encoder's coding parameters. `initialize` places the image on the reference grid, lays out the
// tiles and reads every per-component option ("-F..."), for the whole image and for each tile with
// options of its own; `complete_setup` derives every band's gain, norm, step and weights and
// declares the marker elements that let the decoder's reverse_info rebuild the same description.
// The other encoder objects ask it about the current tile through the coding_info accessors.
#pragma once

#include "jpeg2000/codec_object.h"
#include "jpeg2000/coding_info.h"
#include "jpeg2000/lra_allocation.h"

#include <memory>
#include <string>
#include <vector>

namespace zn::j2k {

class command_line;
class stream_out;

// Per scope (index 0 the whole image, t + 1 tile t) one factor per component; empty means 1.0.
using scale_table = std::vector<std::vector<float>>;

class forward_info : public coding_info
{
public:
    // `dims` holds each component's rows and columns (the first two of its four integers); a negative
    // precision marks a signed component. Returns the number of tiles.
    int initialize(int num_components, const int *precisions, const canvas_rect *dims, float base_step,
                   int reserve_a, int reserve_b, stream_out *out, command_line *args);
    // Derives the band values, applies "-Fsteps", "-Fweights" and "-Xmask", runs the rate-allocation
    // hook and declares the marker elements. Called once, by the component mix.
    void complete_setup(int num_components, const scale_table &norm_scales, const scale_table &gain_scales,
                        stream_out *out, command_line *args);
    usage_table get_usage();

    float get_band_nominal_range(int component, int level, int band) const;
    // Non-reversible: step (1 + m/2048) 2^-t with t = e + guard bits - 32 and negative exponent -t;
    // reversible: 1.0 and 0. K = 32 - e - guard bits. The distortion weight may be null.
    void get_band_quant_info(int component, int level, int band, float *step, int *neg_exponent,
                             float *distortion_weight, int *frac_bits) const;
    // The band's visual weight; its square is taken out of the distortion weight once.
    float get_band_visual_weight(int component, int level, int band);

    // The statistics hook of the rate allocation: present only while it is active.
    bool has_lra_band_statistics() const { return m_lra_statistics; }
    void lra_band_statistics(double count, double mean, double mean2, double mean3, double mean4,
                             int component, int level, int band);
    // Runs the rate-allocation hook: the first time it makes the model, later times allocate steps.
    void lra_setup_and_allocate(stream_out *out);
    const lra_model *lra() const { return m_lra.get(); }

    void terminate(int final);

    // Test and tool access: the band record of the current tile, writable.
    band_info &band_values(int component, int level, int band);
    float base_step() const { return m_base_step; }

private:
    void ParseCanvas(const int *precisions, const canvas_rect *dims, command_line *args);
    void parse_component_options(int tile, component_array &array, command_line *args);
    void LoadKernels(int tile, component_array &array, command_line *args);
    void band_gains_and_norms(component_info &ci, float norm_scale, float gain_scale);
    void assign_band_steps(component_info &ci);
    void CompatibilityChecks(command_line *args);
    void apply_factor_files(int tile, component_array &array, command_line *args);
    void ApplyMasking(command_line *args);
    void DeclareSizElements(stream_out *out);
    void DeclareScopeElements(int tile, const component_array &array, stream_out *out);
    void declare_kernel_elements(int tile, const component_info &ci, stream_out *out);
    std::vector<int> ScopesWithOwnArrays() const;

    float m_base_step = 0.0078125f;
    int m_reserve_a = 0, m_reserve_b = 0;
    std::string m_kernels_dir;
    bool m_tcq = false, m_lra_requested = false, m_no_lra = false;
    bool m_lra_statistics = false;
    std::unique_ptr<lra_model> m_lra;
};

std::unique_ptr<forward_info> create_forward_info();

// The grid end X and sub-sampling factors f_c with ceil(X / f_c) - ceil(offset / f_c) = size_c for
// every component. Returns false when no factors of 1..255 relate the sizes.
bool find_reference_grid(const std::vector<int> &sizes, int offset, int64_t *grid_end,
                         std::vector<int> *factors);

} // namespace zn::j2k
