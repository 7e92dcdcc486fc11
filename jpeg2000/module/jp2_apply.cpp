// The two halves of a JPEG2000 Apply on the codec's objects: the encoder run from the document's
// image to the code-stream file, the decoder run from that file to the work image, each creating,
// setting up, driving and ending its objects in pipeline order; and the Apply that joins them.
#include "jpeg2000/module/jp2_apply.h"

#include "image/cdib.h"
#include "image/znimage.h"
#include "jpeg2000/command_line.h"
#include "jpeg2000/component_demix.h"
#include "jpeg2000/component_mix.h"
#include "jpeg2000/constructors.h"
#include "jpeg2000/dz_quantizer.h"
#include "jpeg2000/ebcot_decoder.h"
#include "jpeg2000/ebcot_encoder.h"
#include "jpeg2000/forward_info.h"
#include "jpeg2000/invocation.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/module/jp2_image_io.h"
#include "jpeg2000/region_of_interest.h"
#include "jpeg2000/reverse_info.h"
#include "jpeg2000/stream_in.h"
#include "jpeg2000/stream_out.h"
#include "jpeg2000/wavelet_analysis.h"
#include "jpeg2000/wavelet_synthesis.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "platform/tempfile.h"

#include <algorithm>
#include <cstdio>

using namespace zn::j2k;

namespace {

// The words of a vector as the pointer array the argument object parses; the words outlive it.
struct ArgumentVector
{
    std::vector<std::string> words;
    std::vector<const char *> pointers;
    explicit ArgumentVector(std::vector<std::string> w) : words(std::move(w))
    {
        for (const std::string &s : words)
            pointers.push_back(s.c_str());
    }
    int count() const { return static_cast<int>(pointers.size()); }
};

// The new stream is written beside the old one and takes its name only once it is complete.
class StreamReplacement
{
public:
    explicit StreamReplacement(const std::string &path) : m_path(path)
    {
        zn::TempFile t = zn::CreateTempFile(zn::DirName(path), "~j2k");
        if (!t.file)
            local_error("Unable to open output file, \"%s\"!", path.c_str());
        std::fclose(t.file);
        m_temp = t.path;
    }
    ~StreamReplacement()
    {
        if (!m_temp.empty())
            std::remove(m_temp.c_str());
    }
    StreamReplacement(const StreamReplacement &) = delete;
    StreamReplacement &operator=(const StreamReplacement &) = delete;

    const std::string &TempPath() const { return m_temp; }
    void Commit()
    {
        if (std::rename(m_temp.c_str(), m_path.c_str()) != 0)
            local_error("Unable to write the code-stream file, \"%s\"!", m_path.c_str());
        m_temp.clear();
    }

private:
    std::string m_path;
    std::string m_temp;
};

} // namespace

std::vector<std::string> Jpeg2000EncoderVector(const Jpeg2000Params &p)
{
    std::vector<std::string> v = {"Jpeg2000Encoder", "-Flev", zn::Format("%d", p.m_nLevels)};
    if (p.m_bReversible)
        v.push_back("-Frev");
    v.insert(v.end(), {"-Cblk", zn::Format("%d", p.m_nCodeBlock)});
    if (p.m_bSnrLayers)
        v.push_back("-Clayers");
    if (p.m_bTiling)
        v.insert(v.end(), {"-Ftiles", zn::Format("%d", p.m_nTileSize), zn::Format("%d", p.m_nTileSize)});
    if (p.m_bVisWeight)
        v.insert(v.end(), {"-Cvis", zn::Format("%f", double(p.m_fVisExponent))});
    // A circle in the middle of the image.
    if (p.m_bRoi)
        v.insert(v.end(), {"-Rrgn", zn::Format("%d", p.m_nRoiBoost), "C", "0.5", "0.5",
                           zn::Format("%f", double(p.m_fRoiRadius))});
    v.insert(v.end(), {"-Bresync", "N"});
    return v;
}

int32_t Jpeg2000ByteBudget(int cols, int rows, float rate)
{
    const long double bytes = static_cast<long double>(int64_t(cols) * rows) * rate / 8;
    if (!(bytes > 0))
        return 0;
    return static_cast<int32_t>(std::min<long double>(bytes, INT32_MAX - 1));
}

std::string Jpeg2000StreamPath(const std::string &userDir, const std::string &title)
{
    return zn::WithTrailingSlash(userDir) + title + "_BitStream.jp2";
}

Jpeg2000Encoding Jpeg2000Encode(const Jpeg2000Params &p, const CDib &source, const std::string &path,
                                std::string *text)
{
    StreamReplacement file(path); // outlives every object of the run
    J2kRun run;
    image_bindings bindings(&source, nullptr);
    ArgumentVector a(Jpeg2000EncoderVector(p));
    auto cl = create_command_line();
    cl->parse(a.count(), a.pointers.data());
    enc_constructor make;
    make_enc_constructor(make, cl.get());
    make.image_reader = [] { return Jp2_zantho_image_reader_interface::create(); };

    auto reader_object = make.image_reader();
    auto &reader = static_cast<Jp2_zantho_image_reader_interface &>(*reader_object);
    auto out = make.stream();
    auto info = make.info();
    auto ebcot = make.ebcot();
    auto roi = make.roi();
    auto quant = make.quant();
    auto analysis = make.analysis();
    auto mix = make.mix();

    Jp2_zantho_image_reader_interface::set_source(&source);
    int n = 0;
    reader.initialize(&n, cl.get());
    if (n != 1) {
        zn::ShowMessage("Jpeg2000Dlg (encoder) - Number of components should have been equal to 1");
        throw zn::RunAborted("", zn::kMessageShown);
    }
    std::vector<canvas_rect> dims(static_cast<size_t>(n));
    std::vector<int> precisions(static_cast<size_t>(n));
    int rows = 0, cols = 0;
    for (int c = 0; c < n; ++c) {
        int d[2] = {0, 0};
        reader.get_dims(c, d);
        dims[size_t(c)] = canvas_rect{d[0], d[1], 0, 0};
        precisions[size_t(c)] = reader.get_precision(c);
        rows = std::max(rows, d[0]);
        cols = std::max(cols, d[1]);
    }

    Jpeg2000Encoding e;
    e.budget = Jpeg2000ByteBudget(cols, rows, p.m_fEncRate);
    out->initialize(e.budget, file.TempPath().c_str(), cl.get());
    out->declare_marker_elt(-1, elt::CSiz, 0, 16, 1);
    out->set_marker_val(-1, elt::CSiz, 0, n, 0);
    info->initialize(n, precisions.data(), dims.data(), 0.0078125f, 0, 0, out.get(), cl.get());
    mix->initialize(n, info.get(), analysis.get(), out.get(), cl.get());
    roi->initialize(n, info.get(), out.get(), cl.get());
    ebcot->initialize(n, e.budget, info.get(), roi.get(), out.get(), cl.get());
    quant->initialize(n, info.get(), ebcot.get(), out.get());
    analysis->initialize(n, info.get(), quant.get(), ebcot.get(), out.get(), cl.get());
    if (p.Lossless())
        *text += "  File size will be determined by encoder\r\n  by lossless encoding wavelet coeffs\r\n";
    else
        *text += zn::Format("  Target file size\t\t:%5lld bits\r\n", 8LL * e.budget);

    auto sink = as_line_sink(*mix);
    encode_lines(*info, reader, *sink, n);

    reader.terminate();
    mix->terminate();
    analysis->terminate();
    quant->terminate();
    ebcot->terminate(); // forms the layers and writes the packets
    const int left = out->remaining_bytes();
    roi->terminate();
    e.generated = static_cast<int32_t>(std::clamp<int64_t>(int64_t(e.budget) - left, 0, INT32_MAX));
    *text += zn::Format("  Generated file size\t\t:%5lld bits\r\n\r\n", 8LL * e.generated);
    info->terminate(1);
    out->terminate(); // the end marker, and the file is closed
    cl->terminate(1);
    file.Commit();
    return e;
}

Jpeg2000Decoding Jpeg2000Decode(const Jpeg2000Params &p, const std::string &path, CDib *target)
{
    J2kRun run;
    image_bindings bindings(nullptr, target);
    ArgumentVector a({"Jpeg2000Decoder"});
    auto cl = create_command_line();
    cl->parse(a.count(), a.pointers.data());
    dec_constructor make;
    make_dec_constructor(make, cl.get());
    make.image_writer = [] { return Jp2_zantho_image_writer_interface::create(); };

    auto in = make.stream();
    in->initialize(path.c_str());
    modify_dec_constructor(make, *in);
    auto writer_object = make.image_writer();
    auto &writer = static_cast<Jp2_zantho_image_writer_interface &>(*writer_object);
    auto info = make.info();
    auto ebcot = make.ebcot();
    auto roi = make.roi();
    auto dequant = make.dequant();
    auto synthesis = make.synthesis();
    auto demix = make.demix();

    if (in->get_marker_val(-1, elt::CSiz, 0, 0) != 1) {
        zn::ShowMessage("Jpeg2000Dlg (decoder) - Number of components should have been equal to 1");
        throw zn::RunAborted("", zn::kMessageShown);
    }
    const int discard = p.m_nDiscardLevels;
    info->initialize(1, in.get(), cl.get());
    int dims[4] = {0, 0, 0, 0};
    Jpeg2000Decoding d;
    d.tiles = reduced_image_dims(*info, 1, discard, dims);
    d.rows = dims[0];
    d.cols = dims[1];
    int precision = 8;
    info->get_tile_info(0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, &precision);
    if (p.m_fTruncRate > 0) {
        d.truncBytes = Jpeg2000ByteBudget(d.cols, d.rows, p.m_fTruncRate);
        in->set_truncation(d.truncBytes);
    }
    roi->initialize(discard, 1, info.get(), in.get(), cl.get());
    ebcot->initialize(1, discard, 1, info.get(), roi.get(), in.get(), cl.get());
    dequant->initialize(1, info.get(), ebcot.get(), in.get(), cl.get());
    synthesis->initialize(discard, 1, info.get(), dequant.get(), ebcot.get(), in.get(), cl.get());
    demix->initialize(discard, 1, 1, info.get(), synthesis.get(), in.get());

    Jp2_zantho_image_writer_interface::set_target(target);
    writer.initialize(1, &precision, dims, cl.get());
    cl->terminate(1);

    auto source = as_line_source(*demix);
    decode_lines(*info, writer, *source, 1, discard);

    writer.terminate();
    demix->terminate();
    synthesis->terminate();
    dequant->terminate();
    d.bytesRead = ebcot->terminate();
    roi->terminate();
    info->terminate();
    in->terminate();
    return d;
}

Jpeg2000ApplyResult Jpeg2000ApplyRun(Jpeg2000Session &session, const Jpeg2000Params &p, const CDib &source,
                                     CDib *finalDib, const std::string &title, const std::string &userDir)
{
    const std::string path = Jpeg2000StreamPath(userDir, title);
    Jpeg2000ApplyResult r;
    try {
        if (session.m_bReencode) {
            std::string text = "JPEG2000 Encoder:\r\n";
            const Jpeg2000Encoding e = Jpeg2000Encode(p, source, path, &text);
            session.m_sEncoderText = text;
            session.nGeneratedBytes = e.generated;
            r.encoded = true;
        }
        r.decoding = Jpeg2000Decode(p, path, finalDib);
    } catch (...) {
        // Whatever failed, the next Apply writes the stream again.
        session.m_bReencode = 1;
        throw;
    }
    session.m_bReencode = 0;

    // With levels left out the picture is smaller than the source: there is nothing to compare.
    r.measured = p.m_nDiscardLevels == 0;
    if (r.measured) {
        ZnImage original, decoded;
        original.DibToZnImage(&source);
        decoded.DibToZnImage(finalDib);
        r.measures = zn::MeasureReconstruction(original, decoded);
    }
    r.description =
        Jpeg2000Description(p, title, session.nGeneratedBytes, r.decoding, r.measured, r.measures);
    r.result = Jpeg2000ResultText(session.m_sEncoderText, r.decoding, r.measured, r.measures);
    r.name = Jpeg2000ResultName(p, title);
    r.caption = Jpeg2000ResultCaption(p, title);
    finalDib->m_title = r.name;
    finalDib->m_caption = r.caption;
    return r;
}
