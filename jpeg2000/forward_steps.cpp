// The numeric half of forward_info's set-up: every band's nominal gain and range, the L2 norm of its
// synthesis basis, its step (exponent and mantissa) and its distortion and visual weights; then the
// factor files, the visual-masking exponent and the rate-allocation hook adjust them.
#include "jpeg2000/band_steps.h"
#include "jpeg2000/command_line.h"
#include "jpeg2000/factor_file.h"
#include "jpeg2000/forward_info.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/stream_out.h"

#include <cmath>
#include <cstdio>

namespace zn::j2k {

namespace {

float ScaleFor(const scale_table &scales, int scope, int component)
{
    if (size_t(scope) >= scales.size() || size_t(component) >= scales[size_t(scope)].size())
        return 1.0f;
    return scales[size_t(scope)][size_t(component)];
}

// Every band of a component array, with its level's record.
template <class F> void ForEachBand(component_array &array, F f)
{
    for (component_info &ci : array)
        for (int level = 0; level <= ci.levels; ++level) {
            level_info &li = ci.level[size_t(level)];
            for (int b = li.first_band; b <= li.last_band; ++b)
                f(ci, level, b, li.bands[size_t(b)]);
        }
}

} // namespace

void forward_info::band_gains_and_norms(component_info &ci, float norm_scale, float gain_scale)
{
    // The low-pass stages of the levels above, horizontally and vertically, and their gain.
    std::vector<const tap_set *> H, V;
    double G = 1.0;
    for (int level = ci.levels; level >= 0; --level) {
        level_info &li = ci.level[size_t(level)];
        double hl = 1, hh = 1, vl = 1, vh = 1;
        if (level != 0) {
            hl = filter_gain(li.hor.analysis_low);
            hh = filter_gain(li.hor.analysis_high);
            vl = filter_gain(li.vert.analysis_low);
            vh = filter_gain(li.vert.analysis_high);
        }
        int digits = level == 0 ? 0 : li.hp_descent;
        for (int b = li.first_band; b <= li.last_band; ++b) {
            band_info &band = li.bands[size_t(b)];
            double gain = G;
            std::vector<const tap_set *> h = H, v = V;
            for (int k = digits - 1; k >= 0; --k) {
                int digit = (b >> (2 * k)) & 3;
                bool hor_high = digit & 1, vert_high = digit & 2;
                gain *= (hor_high ? hh : hl) * (vert_high ? vh : vl);
                h.push_back(hor_high ? &li.hor.synthesis_high : &li.hor.synthesis_low);
                v.push_back(vert_high ? &li.vert.synthesis_high : &li.vert.synthesis_low);
            }
            band.nominal_range = float(std::ldexp(gain, ci.frac_bits + ci.precision));
            band.nominal_gain = float(gain * gain_scale);
            band.basis_norm = float(cascade_norm(h) * cascade_norm(v) * norm_scale);
        }
        if (level != 0 && li.hp_descent > 0) {
            H.push_back(&li.hor.synthesis_low);
            V.push_back(&li.vert.synthesis_low);
            G *= hl * vl;
        }
    }
}

void forward_info::assign_band_steps(component_info &ci)
{
    for (int level = ci.levels, depth = 0; level >= 0; --level, ++depth) {
        level_info &li = ci.level[size_t(level)];
        for (int b = li.first_band; b <= li.last_band; ++b) {
            band_info &band = li.bands[size_t(b)];
            if (ci.reversible) {
                band.m = 0;
                band.e = reversible_range_exponent(band.nominal_range);
                double w = double(band.basis_norm) * band.nominal_gain / band.nominal_range;
                band.distortion_weight = float(w * w);
            } else {
                exp_mant em;
                if (ci.implicit) {
                    em = step_to_exp_mant(m_base_step);
                    em.e += level == 0 ? ci.levels : depth + li.hp_descent;
                } else {
                    em = step_to_exp_mant(double(m_base_step) / band.basis_norm);
                }
                band.e = em.e;
                band.m = em.m;
                double w = exp_mant_to_step(em.e, em.m) * band.basis_norm;
                band.distortion_weight = float(w * w);
            }
            band.visual_weight = 1.0f;
            band.visual_weight_applied = false;
        }
    }
}

void forward_info::CompatibilityChecks(command_line *args)
{
    m_tcq = args && args->find("-Qtcq", -1) >= 0;
    m_lra_requested = args && args->find("-Flra", -1) >= 0;
    m_no_lra = args && args->find("-Fno_lra", -1) >= 0;
    for (const component_array &array : m_arrays)
        for (const component_info &ci : array) {
            if (ci.reversible && m_lra_requested)
                local_error(
                    "The `-Flra' argument is incompatible with reversible compression since LRA would "
                    "screw up optimized lossless quantization.");
            if (ci.reversible && m_tcq)
                local_error("The `-Qtcq' argument is incompatible with `-Frev' since TCQ would screw up "
                            "optimized lossless quantization.");
            if (ci.implicit && m_lra_requested)
                local_error(
                    "The `-Flra' argument is incompatible with implicit quantization since LRA would "
                    "alter the required relationship between the quantization step sizes in different "
                    "bands.");
        }
}

void forward_info::lra_setup_and_allocate(stream_out *out)
{
    bool active = !m_no_lra && (m_lra_requested || m_tcq);
    if (!active) {
        m_lra_statistics = false;
        return;
    }
    if (m_arrays.size() > 1)
        local_error("Lagrangian Rate Allocation currently works only if all tiles have identical Wavelet "
                    "transform configurations.");
    component_array &global = m_arrays[0];
    if (!m_lra) {
        m_lra = std::make_unique<lra_model>();
        m_lra->bands.resize(global.size());
        for (size_t c = 0; c < global.size(); ++c) {
            const component_info &ci = global[c];
            m_lra->bands[c].resize(size_t(ci.levels) + 1);
            for (int level = 0; level <= ci.levels; ++level)
                m_lra->bands[c][size_t(level)].resize(size_t(ci.level[size_t(level)].last_band + 1));
        }
        m_lra_statistics = true;
        return;
    }
    m_lra_statistics = false;
    int64_t rows = 0, cols = 0;
    for (const component_info &ci : global) {
        auto extent = [](int64_t offset, int64_t size, int64_t f) {
            return (offset + size + f - 1) / f - (offset + f - 1) / f;
        };
        rows = std::max(rows, extent(m_canvas.top, m_canvas.height, ci.vert_factor));
        cols = std::max(cols, extent(m_canvas.left, m_canvas.width, ci.hor_factor));
    }
    double P = double(rows) * double(cols);
    double bytes = out ? double(out->remaining_bytes()) + out->global_header_bytes() : 0.0;
    float r1 = float(bytes * 8 / P - m_reserve_a * 8.0 / P);
    float r2 = float((bytes - m_reserve_b) * 8 / P - m_reserve_a * 8.0 / P);
    lra_program_state &state = lra_state();
    bool tcq = m_tcq;
    lra_step_allocation(*m_lra, r1, r2, state.calls, tcq ? 1 : 2);
    ForEachBand(global, [&](component_info &ci, int level, int b, band_info &band) {
        float step = m_lra->bands[size_t(ci.index)][size_t(level)][size_t(b)].step;
        if (!(step > 0))
            local_error("Illegal quantization step size value, %f, parsed from `-Fsteps' file!  Step sizes "
                        "must be strictly positive!",
                        double(step));
        exp_mant em = step_to_exp_mant(step);
        em.e += 32 - ci.guard_bits;
        if (em.e < 0)
            em.e = 0;
        band.e = em.e;
        band.m = em.m;
        double w = exp_mant_to_step(em.e, em.m) * band.basis_norm;
        band.distortion_weight *= float(w * w);
    });
    state.calls += 1;
}

void forward_info::lra_band_statistics(double count, double mean, double mean2, double mean3, double mean4,
                                       int component, int level, int band)
{
    if (!m_lra || count <= 0)
        return;
    auto &bands = m_lra->bands;
    if (component < 0 || size_t(component) >= bands.size() || level < 0 ||
        size_t(level) >= bands[size_t(component)].size() || band < 0 ||
        size_t(band) >= bands[size_t(component)][size_t(level)].size())
        local_error(
            "Lagrangian Rate Allocation currently works only if all tiles have exactly the same Wavelet "
            "decomposition structure!");
    lra_band &m = bands[size_t(component)][size_t(level)][size_t(band)];
    double total = m.count + count;
    const double add[4] = {mean, mean2, mean3, mean4};
    for (int i = 0; i < 4; ++i)
        m.mean[i] = (m.mean[i] * m.count + add[i] * count) / total;
    m.count = total;
    double e1 = m.mean[0], e2 = m.mean[1], e3 = m.mean[2], e4 = m.mean[3];
    double var = e2 - e1 * e1;
    m.variance = float(var);
    m.kurtosis =
        var != 0 ? float((e4 - 4 * e1 * e3 + 6 * e1 * e1 * e2 - 3 * e1 * e1 * e1 * e1) / (var * var)) : 1.0f;
    const band_info &b = m_arrays[0][size_t(component)].level[size_t(level)].bands[size_t(band)];
    m.weight = b.basis_norm * b.basis_norm * b.visual_weight * b.visual_weight;
}

void forward_info::apply_factor_files(int tile, component_array &array, command_line *args)
{
    if (!args)
        return;
    const char *const *params = nullptr;
    int n = args->find("-Fsteps", tile, &params);
    if (n >= 0) {
        if (n != 1)
            local_error("The `-Fsteps' argument requires a file name parameter!");
        for (const component_array &a : m_arrays)
            for (const component_info &ci : a)
                if (ci.implicit)
                    local_error("Cannot combine implicit quantization with `-Fsteps'!");
        quant_factor_file file = read_quant_factor_file(params[0], m_num_components);
        for (const factor_segment &seg : file.segments)
            for (int c = seg.first_component; c <= seg.last_component; ++c) {
                component_info &ci = array[size_t(c)];
                for (int level = 0; level <= ci.levels; ++level) {
                    level_info &li = ci.level[size_t(level)];
                    for (int b = li.first_band; b <= li.last_band; ++b) {
                        double q = segment_band_factor(seg, ci.levels, level, b);
                        if (!(q > 0))
                            local_error("Illegal quantization step quotient value, %f, parsed from `-Fsteps' "
                                        "file!  Quotients must be strictly positive!",
                                        q);
                        band_info &band = li.bands[size_t(b)];
                        double old_step = exp_mant_to_step(band.e, band.m);
                        exp_mant em = step_to_exp_mant(old_step / q);
                        band.e = em.e;
                        band.m = em.m;
                        double ratio = exp_mant_to_step(em.e, em.m) / old_step;
                        band.distortion_weight = float(band.distortion_weight * ratio * ratio);
                    }
                }
            }
    }
    n = args->find("-Fweights", tile, &params);
    if (n >= 0) {
        if (n != 1)
            local_error("The `-Fweights' argument requires a file name parameter!");
        quant_factor_file file = read_quant_factor_file(params[0], m_num_components);
        for (const factor_segment &seg : file.segments)
            for (int c = seg.first_component; c <= seg.last_component; ++c) {
                component_info &ci = array[size_t(c)];
                for (int level = 0; level <= ci.levels; ++level) {
                    level_info &li = ci.level[size_t(level)];
                    for (int b = li.first_band; b <= li.last_band; ++b) {
                        double w = segment_band_factor(seg, ci.levels, level, b);
                        band_info &band = li.bands[size_t(b)];
                        band.visual_weight = float(w);
                        band.distortion_weight = float(band.distortion_weight * w * w);
                    }
                }
            }
    }
}

void forward_info::ApplyMasking(command_line *args)
{
    const char *const *params = nullptr;
    int n = args ? args->find("-Xmask", -1, &params) : -1;
    if (n < 0)
        return;
    double a = 0.6;
    float read = 0;
    if (n >= 2 && std::sscanf(params[0], "%f", &read) == 1)
        a = read;
    ForEachBand(m_arrays[0], [&](component_info &, int, int, band_info &band) {
        double w = band.visual_weight, wa = std::pow(w, a);
        double ratio = w != 0 ? wa / w : 1.0;
        band.distortion_weight = float(band.distortion_weight * ratio * ratio);
        band.visual_weight = float(wa);
    });
}

void forward_info::complete_setup(int num_components, const scale_table &norm_scales,
                                  const scale_table &gain_scales, stream_out *out, command_line *args)
{
    if (num_components != m_num_components)
        local_error("The coding parameters describe %d image components, not %d!", m_num_components,
                    num_components);
    std::vector<int> own = ScopesWithOwnArrays();
    auto derive = [&](component_array &array, int scope) {
        for (component_info &ci : array) {
            band_gains_and_norms(ci, ScaleFor(norm_scales, scope, ci.index),
                                 ScaleFor(gain_scales, scope, ci.index));
            assign_band_steps(ci);
        }
    };
    derive(m_arrays[0], 0);
    for (int t : own)
        derive(m_arrays[size_t(m_tiles[size_t(t)].array)], t + 1);
    CompatibilityChecks(args);
    lra_setup_and_allocate(out);
    apply_factor_files(-1, m_arrays[0], args);
    for (int t : own)
        apply_factor_files(t, m_arrays[size_t(m_tiles[size_t(t)].array)], args);
    ApplyMasking(args);
    if (!out)
        return;
    DeclareSizElements(out);
    DeclareScopeElements(-1, m_arrays[0], out);
    for (int t : own)
        DeclareScopeElements(t, m_arrays[size_t(m_tiles[size_t(t)].array)], out);
}

} // namespace zn::j2k
