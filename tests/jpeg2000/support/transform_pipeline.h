// Test-side pipeline from the coding parameters to the transform and back: forward_info, the wavelet
// analysis and a quantiser push every tile of an image into the block coder's double; the code-stream
// carries the headers only; reverse_info, a dequantiser and the wavelet synthesis pull the tiles back.
// The loops feed tiles in raster order as the invocation environment does (one component's rows of a
// tile, then the next component's).
#pragma once

#include "jpeg2000/support/block_line_store.h"
#include "jpeg2000/support/info_codec.h"

#include "jpeg2000/dz_quantizer.h"
#include "jpeg2000/wavelet_analysis.h"
#include "jpeg2000/wavelet_synthesis.h"

#include <functional>
#include <memory>
#include <vector>

namespace j2ktest {

// Samples of one component on its own grid (rows x cols as given to forward_info).
struct Plane
{
    int rows = 0, cols = 0;
    std::vector<int32_t> v;
    int32_t &At(int y, int x) { return v[size_t(y) * size_t(cols) + size_t(x)]; }
};

using MakeQuantizer = std::function<std::unique_ptr<zn::j2k::quantizer>()>;
using MakeDequantizer = std::function<std::unique_ptr<zn::j2k::dequantizer>()>;

struct TransformPipeline
{
    TransformPipeline(
        const Image &im, std::vector<std::string> words, const std::string &path,
        std::vector<std::string> dec_words = {},
        MakeQuantizer make_q = [] { return zn::j2k::create_dz_quantizer(); })
        : enc_args(std::move(words)), dec_args(std::move(dec_words))
    {
        using namespace zn::j2k;
        out = create_stream_out();
        out->initialize(1 << 24, path.c_str(), enc_args.line.get());
        fwd = MakeForward(im, enc_args.line.get(), out.get());
        DeclareOtherObjects(*out, fwd->num_components(), false);
        fwd->complete_setup(fwd->num_components(), {}, {}, out.get(), enc_args.line.get());
        q = make_q();
        q->initialize(fwd->num_components(), fwd.get(), &store, out.get());
        analysis = create_wavelet_analysis();
        analysis->initialize(fwd->num_components(), fwd.get(), q.get(), &store, out.get(),
                             enc_args.line.get());
        out->write_global_header();
        for (int t = 0; t < fwd->num_tiles(); ++t) {
            const uint8_t head[1] = {0x00};
            int header = out->start_tile(t, 1, 0);
            out->start_packet(0, 1, 0, 1, 1);
            out->put_head_bytes(head, 1);
            int packet = out->end_packet();
            out->start_tile(t, 0, header + packet);
            out->start_packet(0, 1, 0, 1, 0);
            out->put_head_bytes(head, 1);
            out->end_packet();
        }
        out->terminate();
        file = path;
    }

    // The encoder's line loop: every tile, every component's widened tile rows, scaled to the
    // component's fixed point (samples are already centred on 0).
    void Encode(std::vector<Plane> &image)
    {
        using namespace zn::j2k;
        fwd->next_tile(1);
        for (int t = 0;; ++t) {
            for (int c = 0; c < fwd->num_components(); ++c) {
                canvas_rect whole, r;
                int K = 0;
                fwd->get_tile_info(c, 0, nullptr, nullptr, &whole, nullptr, nullptr, nullptr);
                fwd->get_tile_component_info(c, nullptr, &r, nullptr, &K);
                std::vector<int32_t> row(size_t(r.cols));
                for (int y = 0; y < r.rows; ++y) {
                    for (int x = 0; x < r.cols; ++x) {
                        int64_t v = image[size_t(c)].At(r.first_row - whole.first_row + y,
                                                        r.first_col - whole.first_col + x);
                        row[size_t(x)] =
                            int32_t(K >= 0 ? v * (int64_t(1) << K) : (v + (int64_t(1) << (-K - 1))) >> -K);
                    }
                    analysis->push_line(row.data(), c, r.cols);
                }
            }
            if (fwd->next_tile(0) == 0)
                break;
            analysis->next_tile();
        }
        analysis->terminate();
        q->terminate();
    }

    // The decoder: `visit` gets every tile's reconstructed rows of every component.
    void Decode(
        int discarded,
        const std::function<void(int tile, int c, const zn::j2k::canvas_rect &, int y,
                                 const std::vector<int32_t> &)> &visit,
        MakeDequantizer make_d = [] { return zn::j2k::create_dz_dequantizer(); })
    {
        using namespace zn::j2k;
        in = create_stream_in();
        in->initialize(file.c_str());
        rev = create_reverse_info();
        rev->initialize(fwd->num_components(), in.get(), dec_args.line.get());
        store.StartDecoding();
        d = make_d();
        d->initialize(rev->num_components(), rev.get(), &store, in.get(), dec_args.line.get());
        synthesis = create_wavelet_synthesis();
        synthesis->initialize(discarded, rev->num_components(), rev.get(), d.get(), &store, in.get(),
                              dec_args.line.get());
        for (int t = 0;; ++t) {
            for (int c = 0; c < rev->num_components(); ++c) {
                canvas_rect r;
                rev->get_level_info(
                    c, rev->get_tile_component_info(c, nullptr, nullptr, nullptr, nullptr) - discarded, &r,
                    nullptr, nullptr);
                int K = 0;
                rev->get_tile_component_info(c, nullptr, nullptr, nullptr, &K);
                std::vector<int32_t> row(size_t(r.cols));
                for (int y = 0; y < r.rows; ++y) {
                    synthesis->pull_line(row.data(), c, r.cols);
                    for (int32_t &v : row)
                        v = int32_t(K > 0 ? (int64_t(v) + (int64_t(1) << (K - 1))) >> K : int64_t(v) << -K);
                    visit(t, c, r, y, row);
                }
            }
            if (rev->next_tile(0) == 0)
                break;
            synthesis->next_tile();
        }
        synthesis->terminate();
        d->terminate();
    }

    Args enc_args, dec_args;
    std::string file;
    zntest::BlockLineStore store;
    std::unique_ptr<zn::j2k::stream_out> out;
    std::unique_ptr<zn::j2k::forward_info> fwd;
    std::unique_ptr<zn::j2k::quantizer> q;
    std::unique_ptr<zn::j2k::wavelet_analysis> analysis;
    std::unique_ptr<zn::j2k::stream_in> in;
    std::unique_ptr<zn::j2k::reverse_info> rev;
    std::unique_ptr<zn::j2k::dequantizer> d;
    std::unique_ptr<zn::j2k::wavelet_synthesis> synthesis;
};

} // namespace j2ktest
