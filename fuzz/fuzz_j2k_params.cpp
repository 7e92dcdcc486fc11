// Fuzzes the decoder's coding parameters on any code-stream: reverse_info's reading of the canvas,
// tiles, levels, structures, kernel codes, user kernels and band values, every accessor of every tile,
// the region-of-interest decoder's masks and the component demix's set-up with its comment payloads.
// The first input byte chooses the discarded levels; the rest is the code-stream.
#include "jpeg2000/component_demix.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/region_of_interest.h"
#include "jpeg2000/reverse_info.h"
#include "jpeg2000/stream_in.h"
#include "jpeg2000/wavelet_analysis.h"

#include "platform/errors.h"

#include <cstdint>
#include <vector>

namespace {
// The wavelet synthesis' place: rows of zeros.
struct ZeroRows : zn::j2k::line_source
{
    void pull_line(int32_t *row, int, int width) override { std::fill(row, row + width, 0); }
    int next_tile() override { return 1; }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace zn::j2k;
    if (size < 1)
        return 0;
    int discarded = data[0] % 4;
    std::vector<uint8_t> stream(data + 1, data + size);
    J2kRun run;
    try {
        auto in = create_stream_in();
        in->initialize_from_memory(stream);
        int components =
            in->marker_elt_count(-1, elt::CSiz, 0) > 0 ? in->get_marker_val(-1, elt::CSiz, 0, 0) : 1;
        if (components < 1 || components > 8)
            return 0;
        auto info = create_reverse_info();
        info->initialize(components, in.get(), nullptr);
        auto roi = create_roi_decoder();
        ZeroRows zeros;
        auto demix = create_component_demix();
        bool small = true;
        for (int c = 0; c < components; ++c) {
            canvas_rect r;
            info->get_tile_component_info(c, nullptr, &r, nullptr, nullptr);
            small = small && int64_t(r.rows) * r.cols <= 1 << 16;
        }
        if (small)
            roi->initialize(discarded, components, info.get(), in.get(), nullptr);
        demix->initialize(discarded, components, components, info.get(), &zeros, in.get());
        for (int a = info->next_tile(1), tiles = 0; a != 0 && tiles < 64; a = info->next_tile(0), ++tiles) {
            for (int c = 0; c < components; ++c) {
                canvas_rect r;
                int levels = info->get_tile_component_info(c, nullptr, &r, nullptr, nullptr);
                for (int level = 0; level <= levels; ++level) {
                    frame_info f;
                    info->get_level_info(c, level, &r, nullptr, &f);
                    for (int band : coding_info::level_bands(info->level_record(c, level))) {
                        float step = 0;
                        int neg = 0, K = 0;
                        info->get_band_info(c, level, band, &r, &f);
                        info->get_band_quant_info(c, level, band, &step, &neg, &K);
                    }
                    if (level > 0)
                        for (int dir : {INFO__HORIZONTAL, INFO__VERTICAL})
                            info->get_kernel_type(dir, INFO__SYNTHESIS, c, level, nullptr, nullptr, nullptr,
                                                  nullptr);
                }
                if (small && levels >= discarded) {
                    region_rect root;
                    transform_setup_for(*info, c, discarded, &root);
                }
            }
        }
        in->terminate();
    } catch (const zn::RunAborted &) {
        // The run ended with its message: the expected outcome for damaged streams.
    }
    return 0;
}
