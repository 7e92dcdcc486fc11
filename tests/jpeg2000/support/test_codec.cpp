// The test-side whole codec: the module's encoder and decoder runs over memory images.
#include "jpeg2000/support/test_codec.h"

#include "jpeg2000/command_line.h"
#include "jpeg2000/component_demix.h"
#include "jpeg2000/component_mix.h"
#include "jpeg2000/constructors.h"
#include "jpeg2000/ebcot_decoder.h"
#include "jpeg2000/ebcot_encoder.h"
#include "jpeg2000/forward_info.h"
#include "jpeg2000/invocation.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/region_of_interest.h"
#include "jpeg2000/reverse_info.h"
#include "jpeg2000/stream_in.h"
#include "jpeg2000/stream_out.h"
#include "jpeg2000/wavelet_analysis.h"
#include "jpeg2000/wavelet_synthesis.h"

#include "support/test_support.h"

#include <algorithm>
#include <cmath>

using namespace zn::j2k;

namespace j2ktest {

std::vector<std::string> SettingWords(const CodecSettings &s)
{
    std::vector<std::string> w = {"-Flev", std::to_string(s.levels)};
    if (s.reversible)
        w.push_back("-Frev");
    if (s.guard_bits != 2)
        w.insert(w.end(), {"-Fguard_bits", std::to_string(s.guard_bits)});
    if (s.tile_height > 0)
        w.insert(w.end(), {"-Ftiles", std::to_string(s.tile_height), std::to_string(s.tile_width)});
    if (s.top > 0 || s.left > 0)
        w.insert(w.end(), {"-Fref", std::to_string(s.top), std::to_string(s.left)});
    return w;
}

namespace {
struct Arguments
{
    std::vector<std::string> words;
    std::vector<const char *> pointers;
    Arguments(const char *program, const std::vector<std::string> &args)
    {
        words.push_back(program);
        words.insert(words.end(), args.begin(), args.end());
        for (const std::string &w : words)
            pointers.push_back(w.c_str());
    }
};
} // namespace

std::vector<uint8_t> EncodeImage(const memory_image &image, const CodecSettings &s,
                                 const std::vector<std::string> &args, int64_t budget,
                                 const std::string &path)
{
    J2kRun run;
    std::vector<std::string> words = SettingWords(s);
    words.insert(words.end(), args.begin(), args.end());
    Arguments a("Jpeg2000Encoder", words);
    auto cl = create_command_line();
    cl->parse(static_cast<int>(a.pointers.size()), a.pointers.data());
    const int n = image.components();
    if (budget <= 0)
        budget = int64_t(double(image.heights[0]) * image.widths[0] * n * 12.5);
    budget = std::min<int64_t>(budget, INT32_MAX - 1);
    enc_constructor make;
    make_enc_constructor(make, cl.get());
    make.image_reader = [&image] { return std::make_unique<memory_image_reader>(image); };
    auto out = make.stream();
    out->initialize(static_cast<int32_t>(budget), path.c_str(), cl.get());
    out->declare_marker_elt(-1, elt::CSiz, 0, 16, 1);
    out->set_marker_val(-1, elt::CSiz, 0, n, 0);
    std::vector<int> precisions(size_t(n), image.precision);
    std::vector<canvas_rect> dims;
    for (int c = 0; c < n; ++c)
        dims.push_back(canvas_rect{image.heights[size_t(c)], image.widths[size_t(c)], 0, 0});
    auto info = make.info();
    info->initialize(n, precisions.data(), dims.data(), float(s.base_step), 0, 0, out.get(), cl.get());
    auto mix = make.mix();
    auto analysis = make.analysis();
    mix->initialize(n, info.get(), analysis.get(), out.get(), cl.get());
    auto roi = make.roi();
    roi->initialize(n, info.get(), out.get(), cl.get());
    auto ebcot = make.ebcot();
    ebcot->initialize(n, static_cast<int32_t>(budget), info.get(), roi.get(), out.get(), cl.get());
    auto quantizer = make.quant();
    quantizer->initialize(n, info.get(), ebcot.get(), out.get());
    analysis->initialize(n, info.get(), quantizer.get(), ebcot.get(), out.get(), cl.get());
    auto reader = make.image_reader();
    auto sink = as_line_sink(*mix);
    encode_lines(*info, *reader, *sink, n);
    mix->terminate();
    analysis->terminate();
    quantizer->terminate();
    ebcot->terminate();
    roi->terminate();
    info->terminate(1);
    out->terminate();
    cl->terminate(1);
    auto bytes = zntest::ReadFileBytes(path);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

namespace {
memory_image Decode(const std::string *path, const std::vector<uint8_t> *bytes, const DecodeOptions &o,
                    int32_t *bytes_used)
{
    J2kRun run;
    Arguments a("Jpeg2000Decoder", o.args);
    auto cl = create_command_line();
    cl->parse(static_cast<int>(a.pointers.size()), a.pointers.data());
    dec_constructor make;
    make_dec_constructor(make, cl.get());
    auto in = make.stream();
    if (path)
        in->initialize(path->c_str());
    else
        in->initialize_from_memory(*bytes);
    if (o.truncation > 0)
        in->set_truncation(static_cast<int>(std::min<int64_t>(o.truncation, INT32_MAX)));
    modify_dec_constructor(make, *in);
    const int n = in->get_marker_val(-1, elt::CSiz, 0, 0);
    if (n < 1 || (o.max_components > 0 && n > o.max_components))
        local_error("The test decoder takes 1 to %d components; the stream has %d!", o.max_components, n);
    auto info = make.info();
    info->initialize(n, in.get(), cl.get());
    std::vector<int> dims(size_t(4 * n));
    reduced_image_dims(*info, n, o.discard_levels, dims.data());
    for (int c = 0; c < n; ++c)
        if (dims[size_t(4 * c)] < 0 || dims[size_t(4 * c + 1)] < 0 ||
            (o.max_pixels > 0 && int64_t(dims[size_t(4 * c)]) * dims[size_t(4 * c + 1)] > o.max_pixels))
            local_error("The stream's picture is larger than the test decoder takes!");
    int precision = 8;
    info->get_tile_info(0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, &precision);
    auto roi = make.roi();
    roi->initialize(o.discard_levels, n, info.get(), in.get(), cl.get());
    auto ebcot = make.ebcot();
    ebcot->initialize(n, o.discard_levels, n, info.get(), roi.get(), in.get(), cl.get());
    auto dequantizer = make.dequant();
    dequantizer->initialize(n, info.get(), ebcot.get(), in.get(), cl.get());
    auto synthesis = make.synthesis();
    synthesis->initialize(o.discard_levels, n, info.get(), dequantizer.get(), ebcot.get(), in.get(),
                          cl.get());
    auto demix = make.demix();
    demix->initialize(o.discard_levels, n, n, info.get(), synthesis.get(), in.get());
    std::vector<int32_t> heights, widths;
    for (int c = 0; c < n; ++c) {
        heights.push_back(dims[size_t(4 * c)]);
        widths.push_back(dims[size_t(4 * c + 1)]);
    }
    make.image_writer = [&] {
        return std::make_unique<memory_image_writer>(std::clamp(std::abs(precision), 1, 30), heights, widths);
    };
    auto writer = make.image_writer();
    cl->terminate(1);
    auto source = as_line_source(*demix);
    decode_lines(*info, *writer, *source, n, o.discard_levels);
    demix->terminate();
    synthesis->terminate();
    dequantizer->terminate();
    const int32_t used = ebcot->terminate();
    if (bytes_used)
        *bytes_used = used;
    roi->terminate();
    info->terminate();
    in->terminate();
    return static_cast<memory_image_writer &>(*writer).image();
}
} // namespace

memory_image DecodeImage(const std::string &path, const DecodeOptions &o, int32_t *bytes_used)
{
    return Decode(&path, nullptr, o, bytes_used);
}

memory_image DecodeBytes(const std::vector<uint8_t> &bytes, const DecodeOptions &o, int32_t *bytes_used)
{
    return Decode(nullptr, &bytes, o, bytes_used);
}

double Psnr(const memory_image &a, const memory_image &b)
{
    double sum = 0;
    size_t count = 0;
    for (int c = 0; c < a.components() && c < b.components(); ++c)
        for (size_t i = 0; i < a.planes[size_t(c)].size() && i < b.planes[size_t(c)].size(); ++i) {
            const double d = a.planes[size_t(c)][i] - b.planes[size_t(c)][i];
            sum += d * d;
            ++count;
        }
    const double mse = count ? sum / double(count) : 0;
    return mse < 1e-10 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

int MaxDifference(const memory_image &a, const memory_image &b)
{
    int worst = 0;
    for (int c = 0; c < a.components() && c < b.components(); ++c)
        for (size_t i = 0; i < a.planes[size_t(c)].size() && i < b.planes[size_t(c)].size(); ++i)
            worst = std::max(worst, std::abs(a.planes[size_t(c)][i] - b.planes[size_t(c)][i]));
    return worst;
}

} // namespace j2ktest
