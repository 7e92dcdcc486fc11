// The component mix: options per scope, the scales handed to forward_info, the per-tile set-up with
// its code-stream records, and the row queues that wait for every component of a sample position.
#include "jpeg2000/component_mix.h"

#include "jpeg2000/colour_transforms.h"
#include "jpeg2000/command_line.h"
#include "jpeg2000/forward_info.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/stream_out.h"
#include "jpeg2000/wavelet_transform.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zn::j2k {

namespace {

const char *const kMixUsage[] = {
    "-Mycc[+<tnum>] [Y|N]",
    "Colour transform of the first three components: the reversible RCT when they are coded reversibly, "
    "else YCbCr.",
    "-Mtdt[+<tnum>] [Y|N] [<third_d_kernel_id>]",
    "Wavelet transform along the component axis, with the kernel named (W9X7, W5X3 or a kernel file number); "
    "integer lifting for reversible components or W5X3, else convolution.",
    "-Mlin [Y|N] <forw file> [<rev file>]",
    "Linear transform across all components by the matrix in the forward file (n x n 32-bit floats, row r "
    "giving output component r); the decoder inverts with the matrix in the reverse file, or with the "
    "forward matrix's transpose.",
    nullptr,
};

struct MixFileCloser
{
    FILE *f = nullptr;
    ~MixFileCloser()
    {
        if (f)
            std::fclose(f);
    }
};

// RCT and YCbCr scales: the L2 norms of the columns of the inverse transforms.
constexpr float kRctNorms[3] = {1.7321f, 0.8292f, 0.8292f};
constexpr float kYccNorms[3] = {1.7321f, 1.8051f, 1.5734f};

} // namespace

std::unique_ptr<component_mix> create_component_mix()
{
    return std::make_unique<component_mix>();
}

usage_table component_mix::get_usage()
{
    return kMixUsage;
}

bool read_matrix_file(const char *path, int n, std::vector<float> *matrix, bool *opened)
{
    MixFileCloser file;
    file.f = std::fopen(path, "rb");
    *opened = file.f != nullptr;
    if (!file.f)
        return false;
    size_t count = size_t(n) * size_t(n);
    std::vector<uint8_t> bytes(count * 4);
    if (std::fread(bytes.data(), 1, bytes.size(), file.f) != bytes.size())
        return false;
    matrix->resize(count);
    for (size_t i = 0; i < count; ++i) {
        uint32_t v = uint32_t(bytes[4 * i]) | uint32_t(bytes[4 * i + 1]) << 8 |
                     uint32_t(bytes[4 * i + 2]) << 16 | uint32_t(bytes[4 * i + 3]) << 24;
        std::memcpy(&(*matrix)[i], &v, 4);
    }
    return true;
}

void component_mix::ReadScope(int tile, scope &s, command_line *args)
{
    const char *const *params = nullptr;
    int n = args ? args->find("-Frev", tile, &params) : -1;
    std::vector<int> rev(size_t(m_num_components), 0);
    for (int i = 0; i < n; ++i)
        if (std::strcmp(params[i], "Y") && std::strcmp(params[i], "N"))
            local_error(
                "The `-Frev' argument requires zero or more single character parameters, each of which "
                "must be either `Y' or `N'!");
    for (int c = 0; c < m_num_components && n >= 0; ++c)
        rev[size_t(c)] = n == 0 ? 1 : params[std::min(c, n - 1)][0] == 'Y';
    s.code = kMixNone;

    n = args ? args->find("-Mycc", tile, &params) : -1;
    if (n >= 0) {
        if (n > 1 || (n == 1 && std::strcmp(params[0], "Y") && std::strcmp(params[0], "N")))
            local_error(
                "The `-Mycc' argument takes either no parameters or else a single character `Y' or `N' "
                "parameter!");
        if (n == 1 && !std::strcmp(params[0], "N"))
            return; // no transform in this scope; the other "-M" options are not looked at
        if (m_num_components < 3)
            local_error("The `-Mycc' argument may not be used with less than 3 image components!");
        if (rev[0] != rev[1] || rev[0] != rev[2])
            local_error(
                "When using the colour component transform, the first 3 image components in every tile "
                "must have the same reversibility specified with the `-Frev' flag!");
        s.code = rev[0] ? kMixRct : kMixYcc;
    }

    n = args ? args->find("-Mtdt", tile, &params) : -1;
    if (n >= 0) {
        const char *id = nullptr;
        bool off = false;
        if (n == 1 && !std::strcmp(params[0], "N"))
            off = true;
        else if (n == 1 && std::strcmp(params[0], "Y"))
            id = params[0];
        else if (n == 2 && !std::strcmp(params[0], "Y"))
            id = params[1];
        else if (n > 1)
            local_error(
                "The `-Mtdt' argument takes no more than two parameters (optional `Y' or `N' plus an extra "
                "optional third dimension filter specification)!");
        if (off) {
            s.code = kMixNone;
        } else {
            for (int c = 1; c < m_num_components; ++c)
                if (rev[size_t(c)] != rev[0])
                    local_error(
                        "When using the wavelet component transform, all image components in every tile "
                        "must have the same reversibility specified with the `-Frev' flag!");
            if (m_num_components == 1)
                local_error("Wavelet compoment mixing requires more than one component!");
            bool lifting = rev[0] || (id && !std::strcmp(id, "W5X3"));
            s.code = lifting ? kMixWaveletLifting : kMixWaveletConvolution;
            s.kernel_id = id ? id : (lifting ? "W5X3" : "W9X7");
            s.kernel = wavelet_kernel{};
            s.kernel.type = lifting ? kKernelIntLifting : kKernelConvolution;
            s.kernel_user = load_kernel(s.kernel_id.c_str(), m_kernels_dir.c_str(), s.kernel);
        }
    }

    n = args ? args->find("-Mlin", tile, &params) : -1;
    if (n >= 0) {
        if (n == 0)
            local_error("The `-Mlin' argument requires at least one parameter file!");
        if (n == 1 && !std::strcmp(params[0], "N")) {
            s.code = kMixNone;
            return;
        }
        int first = !std::strcmp(params[0], "Y") ? 1 : 0;
        if (n - first < 1 || n - first > 2)
            local_error("The `-Mlin' argument requires one or two parameter files!");
        for (int c = 0; c < m_num_components; ++c)
            if (rev[size_t(c)])
                local_error("Fully reversible compression is not possible with the `-Mlin' option!");
        if (m_num_components == 1)
            local_error("Linear compoment mixing requires more than one component!");
        s.code = kMixMatrix;
        s.forward_file = params[first];
        s.reverse_file = n - first == 2 ? params[first + 1] : "";
        int g = args->find("-Fguard_bits", tile, &params);
        int need = int(std::ceil(std::log2(std::sqrt(double(m_num_components))))) + 1;
        for (int i = 0; i < g && i < m_num_components; ++i) {
            int v = 0;
            if (std::sscanf(params[i], "%d", &v) == 1 && v < need)
                local_error(
                    "Linear multi-component transform cannot be guaranteed to function properly without a "
                    "minimum of %d guards bits.",
                    need);
        }
    }
}

void component_mix::mix_norm_scales()
{
    int scopes = int(m_scopes.size());
    m_norm.assign(size_t(scopes), std::vector<float>(size_t(m_num_components), 1.0f));
    m_gain = m_norm;
    for (int s = 0; s < scopes; ++s) {
        const scope &sc = m_scopes[size_t(s)];
        if (sc.code == kMixRct || sc.code == kMixYcc)
            for (int c = 0; c < 3; ++c)
                m_norm[size_t(s)][size_t(c)] = (sc.code == kMixRct ? kRctNorms : kYccNorms)[c];
        if (sc.code == kMixWaveletConvolution || sc.code == kMixWaveletLifting)
            axis_band_scales(sc.kernel, m_num_components, &m_norm[size_t(s)], &m_gain[size_t(s)]);
    }
    // Sub-sampled components cover more of the image per sample.
    int min_fx = 255, min_fy = 255;
    std::vector<int> fx(static_cast<size_t>(m_num_components)), fy(fx.size());
    for (int c = 0; c < m_num_components; ++c) {
        m_info->get_tile_info(c, 0, nullptr, nullptr, nullptr, &fx[size_t(c)], &fy[size_t(c)], nullptr);
        min_fx = std::min(min_fx, fx[size_t(c)]);
        min_fy = std::min(min_fy, fy[size_t(c)]);
    }
    for (auto &scope_norms : m_norm)
        for (int c = 0; c < m_num_components; ++c)
            scope_norms[size_t(c)] *=
                float(std::sqrt(double(fx[size_t(c)]) * fy[size_t(c)] / (double(min_fx) * min_fy)));
}

int component_mix::initialize(int num_components, forward_info *info, line_sink *analysis, stream_out *out,
                              command_line *args)
{
    m_num_components = num_components;
    m_info = info;
    m_analysis = analysis;
    m_out = out;
    int tiles = 0;
    while (info->get_tile_info(-1, tiles, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        ++tiles;
    const char *env = std::getenv("JP2_KERNELS_DIR");
    m_kernels_dir = env ? env : "";
    const char *const *params = nullptr;
    int n = args ? args->find("-Fdir", -1, &params) : -1;
    if (n >= 0) {
        if (n != 1)
            local_error("The `-Fdir' argument requires a string parameter!");
        m_kernels_dir = params[0];
    }
    m_scopes.assign(size_t(tiles) + 1, scope{});
    for (int t = -1; t < tiles; ++t)
        ReadScope(t, m_scopes[size_t(t + 1)], args);
    info->next_tile(1);
    mix_norm_scales();
    info->complete_setup(num_components, m_norm, m_gain, out, args);
    if (out) {
        out->declare_marker_elt(-1, elt::Mct, 0, 3, 1);
        out->set_marker_val(-1, elt::Mct, 0, m_scopes[0].code, 0);
    }
    m_queues.assign(size_t(num_components), line_queue{});
    m_widths.assign(size_t(num_components), 0);
    m_tile = 0;
    m_counter = kMixCmeFirst;
    mix_start_tile();
    return m_counter;
}

void component_mix::mix_start_tile()
{
    const scope &s = m_scopes[size_t(m_tile + 1)];
    m_current = &s;
    m_code = s.code;
    if (m_code != m_scopes[0].code && m_out) {
        m_out->declare_marker_elt(m_tile, elt::Mct, 0, 3, 1);
        m_out->set_marker_val(m_tile, elt::Mct, 0, m_code, 0);
    }
    int checked = m_code == kMixNone ? 0 : (m_code <= kMixYcc ? 3 : m_num_components);
    canvas_rect first;
    for (int c = 0; c < m_num_components; ++c) {
        canvas_rect r;
        m_info->get_tile_component_info(c, nullptr, &r, nullptr, nullptr);
        if (c == 0)
            first = r;
        else if (c < checked && (r.rows != first.rows || r.cols != first.cols ||
                                 r.first_row != first.first_row || r.first_col != first.first_col))
            local_error(
                m_code <= kMixYcc ? "Colour transforms may not be used with image components of different "
                                    "dimensions!"
                : m_code == kMixMatrix ? "Linear component transforms may not be used with image components "
                                         "of different dimensions!"
                                       : "Wavelet component transforms may not be used with image "
                                         "components of different dimensions!");
        if (r.cols > m_widths[size_t(c)]) {
            m_queues[size_t(c)].rows.clear();
            m_widths[size_t(c)] = r.cols;
        }
    }
    if ((m_code == kMixWaveletConvolution || m_code == kMixWaveletLifting) && m_out) {
        int reversible = 0;
        m_info->get_tile_component_info(0, nullptr, nullptr, &reversible, nullptr);
        if (s.kernel.type == kKernelConvolution)
            check_convolution_symmetry(s.kernel);
        else if (s.kernel.type != kKernelIntLifting)
            local_error("Currently, wavelet-based component mixing can only be performed via convolution or "
                        "integer lifting.");
        if (s.kernel_id != (reversible ? "W5X3" : "W9X7")) {
            std::vector<uint8_t> payload{uint8_t(s.kernel_user ? 1 : 0)};
            if (s.kernel_user) {
                user_kernel_spec lifting = make_user_kernel_spec(s.kernel);
                payload.push_back(uint8_t(lifting.num_steps));
                for (int st = 0; st < lifting.num_steps; ++st) {
                    payload.push_back(uint8_t(lifting.tap_count[st]));
                    payload.push_back(uint8_t(lifting.shift[st]));
                }
                for (int st = 0; st < lifting.num_steps; ++st)
                    for (int i = 0; i < lifting.tap_count[st]; ++i) {
                        uint16_t v = uint16_t(lifting.taps[st][i]);
                        payload.push_back(uint8_t(v >> 8));
                        payload.push_back(uint8_t(v));
                    }
            } else {
                payload.insert(payload.end(), s.kernel_id.begin(), s.kernel_id.end());
                payload.push_back(0);
            }
            m_out->add_comment(m_counter & 0xFFFF, int(payload.size()), payload.data());
        }
    }
    if (m_code == kMixMatrix) {
        bool opened = false;
        if (!read_matrix_file(s.forward_file.c_str(), m_num_components, &m_matrix, &opened))
            local_error(
                opened ? "\nUnable to read the required number of items from the forward transform matrix "
                         "file, %s."
                       : "\nUnable to open the forward transform matrix file, %s.",
                s.forward_file.c_str());
        std::vector<float> reverse;
        if (!s.reverse_file.empty()) {
            if (!read_matrix_file(s.reverse_file.c_str(), m_num_components, &reverse, &opened))
                local_error(opened
                                ? "\nUnable to read the required number of items from the reverse transform "
                                  "matrix file, %s."
                                : "\nUnable to open the reverse transform matrix file, %s.",
                            s.reverse_file.c_str());
        } else {
            size_t n = size_t(m_num_components);
            reverse.resize(n * n);
            for (size_t r = 0; r < n; ++r)
                for (size_t c = 0; c < n; ++c)
                    reverse[r * n + c] = m_matrix[c * n + r];
        }
        if (m_out) {
            std::vector<uint8_t> payload;
            for (float v : reverse) {
                uint32_t u;
                std::memcpy(&u, &v, 4);
                for (int b = 0; b < 4; ++b)
                    payload.push_back(uint8_t(u >> (8 * b)));
            }
            m_out->add_comment(m_counter & 0xFFFF, int(payload.size()), payload.data());
        }
    }
    m_counter -= 1;
}

void component_mix::push_line(const int32_t *row, int component, int width)
{
    if (component < 0 || component >= m_num_components)
        local_error("The component mix has no image component %d!", component);
    if (m_code == kMixNone || (m_code <= kMixYcc && component > 2)) {
        m_analysis->push_line(row, component, width);
        return;
    }
    m_queues[size_t(component)].rows.emplace_back(row, row + width);
    Flush();
}

// Transforms and passes on the oldest rows as soon as every component taking part holds one.
void component_mix::Flush()
{
    int n = m_code <= kMixYcc ? 3 : m_num_components;
    for (;;) {
        for (int c = 0; c < n; ++c)
            if (m_queues[size_t(c)].rows.empty())
                return;
        std::vector<int32_t *> rows(static_cast<size_t>(n));
        int width = int(m_queues[0].rows.front().size());
        for (int c = 0; c < n; ++c) {
            rows[size_t(c)] = m_queues[size_t(c)].rows.front().data();
            if (int(m_queues[size_t(c)].rows.front().size()) != width)
                local_error(
                    "The components mixed by the component transform deliver rows of different widths!");
        }
        if (m_code == kMixRct)
            rct_forward(rows[0], rows[1], rows[2], width);
        else if (m_code == kMixYcc)
            ycc_forward(rows[0], rows[1], rows[2], width);
        else if (m_code == kMixMatrix)
            matrix_transform(m_matrix, rows.data(), n, width);
        else
            axis_analysis(m_current->kernel, rows.data(), n, width);
        for (int c = 0; c < n; ++c) {
            m_analysis->push_line(rows[size_t(c)], c, width);
            m_queues[size_t(c)].rows.pop_front();
        }
    }
}

int component_mix::next_tile()
{
    ++m_tile;
    if (m_tile + 1 >= int(m_scopes.size()))
        local_error("The component mix was moved past the last tile!");
    mix_start_tile();
    return m_analysis->next_tile();
}

void component_mix::terminate()
{
    m_queues.clear();
    m_scopes.clear();
    m_matrix.clear();
}

} // namespace zn::j2k
