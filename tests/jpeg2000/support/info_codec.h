// Test-side driver of the coding parameters: builds forward_info from an argument vector as an
// encoder run would, writes a code-stream that carries its elements (plus the elements the other
// encoder objects would declare, and one stand-in packet per tile), and reads it back into
// reverse_info.
#pragma once

#include "jpeg2000/support/j2k_elements.h"

#include "jpeg2000/command_line.h"
#include "jpeg2000/forward_info.h"
#include "jpeg2000/reverse_info.h"
#include "jpeg2000/stream_in.h"
#include "jpeg2000/stream_out.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace j2ktest {

// An argument vector that outlives the command_line reading it.
class Args
{
public:
    explicit Args(std::vector<std::string> words = {}) : m_words(std::move(words))
    {
        m_argv.push_back("Jpeg2000Encoder");
        for (const std::string &w : m_words)
            m_argv.push_back(w.c_str());
        line = zn::j2k::create_command_line();
        line->parse(int(m_argv.size()), m_argv.data());
    }
    std::unique_ptr<zn::j2k::command_line> line;

private:
    std::vector<std::string> m_words;
    std::vector<const char *> m_argv;
};

struct Image
{
    std::vector<zn::j2k::canvas_rect> dims; // rows, cols first
    std::vector<int> precisions;
    static Image Grey(int rows, int cols, int precision = 8)
    {
        Image im;
        im.dims.push_back({rows, cols, 0, 0});
        im.precisions.push_back(precision);
        return im;
    }
};

// forward_info's initialize, as the module's Apply calls it (base step 2^-7, no reserves).
inline std::unique_ptr<zn::j2k::forward_info> MakeForward(const Image &im, zn::j2k::command_line *args,
                                                          zn::j2k::stream_out *out = nullptr,
                                                          float base_step = 0.0078125f)
{
    auto f = zn::j2k::create_forward_info();
    f->initialize(int(im.dims.size()), im.precisions.data(), im.dims.data(), base_step, 0, 0, out, args);
    return f;
}

// The elements another encoder object would declare, so the headers form complete segments.
inline void DeclareOtherObjects(zn::j2k::stream_out &out, int components, bool quantizer = true,
                                bool mix = true)
{
    using namespace zn::j2k;
    Declare(out, -1, elt::CSiz, 0, 16, {components});
    Declare(out, -1, elt::Layers, 0, 16, {1});
    Declare(out, -1, elt::Progression, 0, 8, {0});
    if (mix)
        Declare(out, -1, elt::Mct, 0, 3, {0});
    if (quantizer)
        Declare(out, -1, elt::QuantizationType, 0, 2, {0});
    for (int c = 0; c < components; ++c) {
        Declare(out, -1, elt::Xcb, c, 4, {4});
        Declare(out, -1, elt::Ycb, c, 4, {4});
        Declare(out, -1, elt::CoderFlags, c, 8, {0});
    }
}

// Complete set-up, headers and one two-byte packet per tile, written to `path`.
// `more` declares what further objects would, before the headers are written.
inline void WriteInfoStream(zn::j2k::forward_info &f, zn::j2k::stream_out &out, zn::j2k::command_line *args,
                            const std::function<void()> &more = {})
{
    DeclareOtherObjects(out, f.num_components());
    f.complete_setup(f.num_components(), {}, {}, &out, args);
    if (more)
        more();
    out.write_global_header();
    for (int t = 0; t < f.num_tiles(); ++t) {
        const uint8_t head[1] = {0x00};
        int header = out.start_tile(t, 1, 0);
        out.start_packet(0, 1, 0, 1, 1);
        out.put_head_bytes(head, 1);
        int packet = out.end_packet();
        out.start_tile(t, 0, header + packet);
        out.start_packet(0, 1, 0, 1, 0);
        out.put_head_bytes(head, 1);
        out.end_packet();
    }
    out.terminate();
}

// The whole encoder side for `words`, then stream_in and reverse_info over the file.
struct InfoRoundTrip
{
    InfoRoundTrip(const Image &im, std::vector<std::string> words, const std::string &path)
        : enc_args(std::move(words))
    {
        out = zn::j2k::create_stream_out();
        out->initialize(1 << 24, path.c_str(), enc_args.line.get());
        fwd = MakeForward(im, enc_args.line.get(), out.get());
        WriteInfoStream(*fwd, *out, enc_args.line.get());
        in = zn::j2k::create_stream_in();
        in->initialize(path.c_str());
        rev = zn::j2k::create_reverse_info();
        rev->initialize(int(im.dims.size()), in.get(), dec_args.line.get());
    }
    Args enc_args, dec_args;
    std::unique_ptr<zn::j2k::stream_out> out;
    std::unique_ptr<zn::j2k::forward_info> fwd;
    std::unique_ptr<zn::j2k::stream_in> in;
    std::unique_ptr<zn::j2k::reverse_info> rev;
};

} // namespace j2ktest
