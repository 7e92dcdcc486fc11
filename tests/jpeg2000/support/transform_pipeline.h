// Test-side pipeline from the coding parameters to the transform and back: forward_info, (the
// component mix,) the wavelet analysis and a quantiser push every tile of an image into the block
// coder's double; the code-stream carries the headers only; reverse_info, a dequantiser, the wavelet
// synthesis (and the component demix) pull the tiles back. The loops feed tiles in raster order and,
// within a tile, row r of every component before row r + 1, as the invocation environment does.
#pragma once

#include "jpeg2000/support/block_line_store.h"
#include "jpeg2000/support/info_codec.h"

#include "jpeg2000/component_demix.h"
#include "jpeg2000/component_mix.h"
#include "jpeg2000/dz_quantizer.h"
#include "jpeg2000/wavelet_analysis.h"
#include "jpeg2000/wavelet_synthesis.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace j2ktest {

// Samples of one component on its own grid (rows x cols as given to forward_info).
struct Plane
{
    int rows = 0, cols = 0;
    std::vector<int32_t> v;
    int32_t &At(int y, int x) { return v[size_t(y) * size_t(cols) + size_t(x)]; }
};

// Random samples of every component at its precision, centred on 0 for unsigned components.
inline std::vector<Plane> RandomImage(const Image &im, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<Plane> planes;
    for (size_t c = 0; c < im.dims.size(); ++c) {
        Plane p;
        p.rows = im.dims[c].rows;
        p.cols = im.dims[c].cols;
        int precision = std::abs(im.precisions[c]);
        int64_t offset = im.precisions[c] < 0 ? 0 : int64_t(1) << (precision - 1);
        p.v.resize(size_t(p.rows) * size_t(p.cols));
        for (auto &v : p.v)
            v = int32_t(int64_t(rng() % (uint64_t(1) << precision)) - offset);
        planes.push_back(p);
    }
    return planes;
}

using MakeQuantizer = std::function<std::unique_ptr<zn::j2k::quantizer>()>;
using MakeDequantizer = std::function<std::unique_ptr<zn::j2k::dequantizer>()>;

struct TransformPipeline
{
    TransformPipeline(
        const Image &im, std::vector<std::string> words, const std::string &path,
        std::vector<std::string> dec_words = {},
        MakeQuantizer make_q = [] { return zn::j2k::create_dz_quantizer(); }, bool with_mix = false)
        : enc_args(std::move(words)), dec_args(std::move(dec_words))
    {
        using namespace zn::j2k;
        out = create_stream_out();
        out->initialize(1 << 24, path.c_str(), enc_args.line.get());
        fwd = MakeForward(im, enc_args.line.get(), out.get());
        DeclareOtherObjects(*out, fwd->num_components(), false, !with_mix);
        analysis = create_wavelet_analysis();
        if (with_mix) {
            mix = create_component_mix();
            mix->initialize(fwd->num_components(), fwd.get(), analysis.get(), out.get(), enc_args.line.get());
        } else {
            fwd->complete_setup(fwd->num_components(), {}, {}, out.get(), enc_args.line.get());
        }
        q = make_q();
        q->initialize(fwd->num_components(), fwd.get(), &store, out.get());
        analysis->initialize(fwd->num_components(), fwd.get(), q.get(), &store, out.get(),
                             enc_args.line.get());
        file = path;
    }

    // The encoder's line loop: row r of every component of a tile before row r + 1, scaled to the
    // component's fixed point (samples are already centred on 0). Then the headers are written.
    void Encode(std::vector<Plane> &image)
    {
        using namespace zn::j2k;
        fwd->next_tile(1);
        for (;;) {
            int n = fwd->num_components(), most = 0;
            for (int c = 0; c < n; ++c) {
                canvas_rect r;
                fwd->get_tile_component_info(c, nullptr, &r, nullptr, nullptr);
                most = std::max(most, r.rows);
            }
            for (int y = 0; y < most; ++y)
                for (int c = 0; c < n; ++c) {
                    canvas_rect whole, r;
                    int K = 0;
                    fwd->get_tile_info(c, 0, nullptr, nullptr, &whole, nullptr, nullptr, nullptr);
                    fwd->get_tile_component_info(c, nullptr, &r, nullptr, &K);
                    if (y >= r.rows)
                        continue;
                    std::vector<int32_t> row(size_t(r.cols));
                    for (int x = 0; x < r.cols; ++x) {
                        int64_t v = image[size_t(c)].At(r.first_row - whole.first_row + y,
                                                        r.first_col - whole.first_col + x);
                        row[size_t(x)] =
                            int32_t(K >= 0 ? v * (int64_t(1) << K) : (v + (int64_t(1) << (-K - 1))) >> -K);
                    }
                    if (mix)
                        mix->push_line(row.data(), c, r.cols);
                    else
                        analysis->push_line(row.data(), c, r.cols);
                }
            if (fwd->next_tile(0) == 0)
                break;
            if (mix)
                mix->next_tile();
            else
                analysis->next_tile();
        }
        if (mix)
            mix->terminate();
        analysis->terminate();
        q->terminate();
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
        if (mix) {
            demix = create_component_demix();
            demix->initialize(discarded, rev->num_components(), rev->num_components(), rev.get(),
                              synthesis.get(), in.get());
        }
        for (int t = 0;; ++t) {
            int n = rev->num_components(), most = 0;
            std::vector<canvas_rect> rect(static_cast<size_t>(n));
            for (int c = 0; c < n; ++c) {
                int levels = rev->get_tile_component_info(c, nullptr, nullptr, nullptr, nullptr);
                rev->get_level_info(c, levels - discarded, &rect[size_t(c)], nullptr, nullptr);
                most = std::max(most, rect[size_t(c)].rows);
            }
            for (int y = 0; y < most; ++y)
                for (int c = 0; c < n; ++c) {
                    const canvas_rect &r = rect[size_t(c)];
                    if (y >= r.rows)
                        continue;
                    int K = 0;
                    rev->get_tile_component_info(c, nullptr, nullptr, nullptr, &K);
                    std::vector<int32_t> row(size_t(r.cols));
                    if (demix)
                        demix->pull_line(row.data(), c, r.cols);
                    else
                        synthesis->pull_line(row.data(), c, r.cols);
                    for (int32_t &v : row)
                        v = int32_t(K > 0 ? (int64_t(v) + (int64_t(1) << (K - 1))) >> K : int64_t(v) << -K);
                    visit(t, c, r, y, row);
                }
            if (rev->next_tile(0) == 0)
                break;
            if (demix)
                demix->next_tile();
            else
                synthesis->next_tile();
        }
        if (demix)
            demix->terminate();
        synthesis->terminate();
        d->terminate();
    }

    Args enc_args, dec_args;
    std::string file;
    zntest::BlockLineStore store;
    std::unique_ptr<zn::j2k::stream_out> out;
    std::unique_ptr<zn::j2k::forward_info> fwd;
    std::unique_ptr<zn::j2k::component_mix> mix;
    std::unique_ptr<zn::j2k::quantizer> q;
    std::unique_ptr<zn::j2k::wavelet_analysis> analysis;
    std::unique_ptr<zn::j2k::stream_in> in;
    std::unique_ptr<zn::j2k::reverse_info> rev;
    std::unique_ptr<zn::j2k::dequantizer> d;
    std::unique_ptr<zn::j2k::wavelet_synthesis> synthesis;
    std::unique_ptr<zn::j2k::component_demix> demix;
};

} // namespace j2ktest
