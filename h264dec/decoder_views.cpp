// The processing and bits planes, and the images of the document and the analysis views. The overlays
// are composed sample by sample: an overlay's lines replace the luma under them, and wherever an
// overlay leaves its colour planes at the neutral 127 the picture underneath keeps its own colour.
#include "h264dec/decoder_views.h"

#include "h264dec/decoder_analysis.h"
#include "h264dec/decoder_host.h"
#include "image/cdib.h"
#include "platform/format.h"

#include <algorithm>
#include <cstring>

namespace {

size_t Samples(int width, int height)
{
    return static_cast<size_t>(width) * static_cast<size_t>(height);
}

void Resize(H264PlaneBuffers &b, size_t luma, size_t chroma)
{
    b.y.resize(luma);
    b.u.resize(chroma);
    b.v.resize(chroma);
}

// A work image of the picture's size with its title and caption.
CDib *Prepare(CDib *dib, int width, int height, const std::string &title, const std::string &caption)
{
    if (!dib)
        return nullptr;
    if (dib->GetWidth() != width || dib->GetHeight() != height || dib->GetInfoHeader()->biBitCount != 24 ||
        !dib->GetBits())
        dib->Create24(width, height);
    dib->m_title = title;
    dib->m_caption = caption;
    dib->m_bValid = 1;
    return dib;
}

// The conversions and the save file only read the planes they are given.
void Convert(CDib *dib, const H264PlaneSet &s, bool full)
{
    uint8_t *planes[3] = {const_cast<uint8_t *>(s.y), const_cast<uint8_t *>(s.u), const_cast<uint8_t *>(s.v)};
    if (full)
        dib->ConvertYUV444Dib(planes);
    else
        dib->ConvertYUV420Dib(planes);
}

// Where an overlay's colour planes are neutral, the picture's chroma (at half resolution) shows.
void PictureChromaUnderNeutral(H264PlaneBuffers &out, const H264PlaneSet &picture, int width, int height)
{
    const int cw = width / 2;
    for (int r = 0; r < height; ++r) {
        uint8_t *u = out.u.data() + static_cast<size_t>(r) * width;
        uint8_t *v = out.v.data() + static_cast<size_t>(r) * width;
        const uint8_t *pu = picture.u + static_cast<size_t>(r / 2) * cw;
        const uint8_t *pv = picture.v + static_cast<size_t>(r / 2) * cw;
        for (int c = 0; c < width; ++c)
            if (u[c] == 127 && v[c] == 127) {
                u[c] = pu[c / 2];
                v[c] = pv[c / 2];
            }
    }
}

void CopySet(H264PlaneBuffers &out, const H264PlaneSet &in, size_t luma, size_t chroma)
{
    Resize(out, luma, chroma);
    std::memcpy(out.y.data(), in.y, luma);
    std::memcpy(out.u.data(), in.u, chroma);
    std::memcpy(out.v.data(), in.v, chroma);
}

void ComposeBits(H264PlaneBuffers &out, const H264ViewPlanes &p, const H264ViewChoices &ch)
{
    const size_t n = Samples(p.width, p.height);
    CopySet(out, p.bits, n, n);
    auto overlay = [&](const H264PlaneSet &o) {
        for (size_t i = 0; i < n; ++i)
            if (o.y[i] != 0)
                out.y[i] = o.y[i];
        std::memcpy(out.u.data(), o.u, n);
        std::memcpy(out.v.data(), o.v, n);
    };
    if (ch.bits_bdiv)
        overlay(p.bdiv);
    if (ch.bits_mv)
        overlay(p.vectors);
}

void ComposeVectors(H264PlaneBuffers &out, const H264ViewPlanes &p, const H264ViewChoices &ch)
{
    const size_t n = Samples(p.width, p.height);
    CopySet(out, p.vectors, n, n);
    if (ch.intra && !ch.vectors) {
        // Only the coloured intra strokes stay.
        for (size_t i = 0; i < n; ++i)
            if (out.u[i] != 0) {
                out.y[i] = 0;
                out.u[i] = 127;
            }
    }
    if (ch.vectors_on_picture) {
        for (size_t i = 0; i < n; ++i)
            if (out.y[i] == 0)
                out.y[i] = p.picture.y[i];
        PictureChromaUnderNeutral(out, p.picture, p.width, p.height);
    }
}

void ComposeBdiv(H264PlaneBuffers &out, const H264ViewPlanes &p, const H264ViewChoices &ch)
{
    const size_t n = Samples(p.width, p.height);
    CopySet(out, p.bdiv, n, n);
    if (ch.bdiv_on_picture) {
        // The borders stay visible through their colours alone.
        std::memcpy(out.y.data(), p.picture.y, n);
        PictureChromaUnderNeutral(out, p.picture, p.width, p.height);
    }
}

} // namespace

const char *h264dec_type_text(int type_index)
{
    static const char *const kText[5] = {"I", "P", "SP", "SI", "BS"};
    return type_index >= 0 && type_index < 5 ? kText[type_index] : "B";
}

void h264dec_processing_planes(const H264PlaneSet &picture, int width, int height, const DecoderAnalysis &a,
                               int type_index, H264PlaneBuffers &out)
{
    const size_t luma = Samples(width, height), chroma = Samples(width / 2, height / 2);
    Resize(out, luma, chroma);
    const bool intraPicture = type_index == 0;
    const bool marks = a.vis_intra_mark.Rows() >= height && a.vis_intra_mark.Cols() >= width;
    const bool residual = a.vis_residual_y.Rows() >= height && a.vis_residual_y.Cols() >= width;
    for (int r = 0; r < height; ++r) {
        const uint8_t *pic = picture.y + static_cast<size_t>(r) * width;
        uint8_t *o = out.y.data() + static_cast<size_t>(r) * width;
        for (int c = 0; c < width; ++c) {
            const bool intra = intraPicture || (marks && a.vis_intra_mark[r][c] == 127);
            // The error of an inter sample wraps around the mid-grey 127.
            o[c] =
                intra ? pic[c] : static_cast<uint8_t>(((residual ? a.vis_residual_y[r][c] : 0) + 127) & 255);
        }
    }
    const int cw = width / 2, chh = height / 2;
    for (int i = 0; i < chh; ++i)
        for (int j = 0; j < cw; ++j) {
            const size_t k = static_cast<size_t>(i) * cw + j;
            const bool intra = intraPicture || (marks && a.vis_intra_mark[2 * i][2 * j] == 127);
            out.u[k] = intra ? picture.u[k] : 127;
            out.v[k] = intra ? picture.v[k] : 127;
        }
}

void h264dec_bits_planes(const DecoderAnalysis &a, int width, int height, H264PlaneBuffers &out)
{
    const size_t n = Samples(width, height);
    Resize(out, n, n);
    std::fill(out.u.begin(), out.u.end(), 127);
    std::fill(out.v.begin(), out.v.end(), 127);
    const int maxBits = a.mb_bits_max == 0 ? 1 : a.mb_bits_max;
    const int mbRows = a.mb_bits.Rows(), mbCols = a.mb_bits.Cols();
    for (int r = 0; r < height; ++r) {
        uint8_t *o = out.y.data() + static_cast<size_t>(r) * width;
        for (int c = 0; c < width; ++c) {
            const int bits = r / 16 < mbRows && c / 16 < mbCols ? a.mb_bits[r / 16][c / 16] : 0;
            o[c] = static_cast<uint8_t>(std::clamp(bits * 200 / maxBits + 55, 0, 255));
        }
    }
}

void h264dec_build_views(H264DecoderHost &host, const H264ViewPlanes &p, int number, int type_index,
                         bool showInDocument, bool views)
{
    const std::string type = h264dec_type_text(type_index);
    const int w = p.width, h = p.height;
    if (w <= 0 || h <= 0 || !p.picture.y)
        return;
    if (showInDocument) {
        bool resized = false;
        if (CDib *doc = host.DocumentImage()) {
            if (doc->GetWidth() != w || doc->GetHeight() != h || !doc->GetBits()) {
                resized = doc->GetWidth() != w || doc->GetHeight() != h;
                doc->Create24(w, h);
            }
            Convert(doc, p.picture, false);
        }
        const int n = host.FrameCounter()++;
        host.OnApplyH264Decoding(number, n, type);
        // The stream changed its picture size: the document's window has just taken the new size, and
        // the legend, placed by that window, moves with it.
        if (resized)
            h264dec_build_legend(host, host.ViewChoices().LegendShown());
    }
    if (!views)
        return;

    const H264ViewChoices &ch = host.ViewChoices();
    const std::string title = host.DocumentTitle();
    const int n = host.FrameCounter();
    auto caption = [&](const char *what) {
        return zn::Format("%s ( %s #%d(%s) )", what, title.c_str(), n, type.c_str());
    };
    const std::string captionD = caption("MB Bits Usage"), captionChain = caption("Mot./Pred. Vectors");
    const std::string captionB = caption("Block Division"), captionA = caption("Processing Stream");
    H264PlaneBuffers work;
    if (ch.bits) {
        ComposeBits(work, p, ch);
        if (CDib *d = Prepare(host.WorkImage(H264Window::D), w, h, "H264_" + title + "_BITS", captionD))
            Convert(d, work.Set(), true);
    }
    if (ch.VectorsOrIntra()) {
        ComposeVectors(work, p, ch);
        if (CDib *d = Prepare(host.WorkImage(H264Window::Chain), w, h, "H264_" + title + "_MV", captionChain))
            Convert(d, work.Set(), true);
    }
    if (ch.bdiv) {
        ComposeBdiv(work, p, ch);
        if (CDib *d = Prepare(host.WorkImage(H264Window::B), w, h, "H264_" + title + "_BDIV", captionB))
            Convert(d, work.Set(), true);
    }
    if (ch.stream) {
        if (CDib *d = Prepare(host.WorkImage(H264Window::A), w, h, "H264_" + title + "_IS", captionA))
            Convert(d, p.processing, false);
    }
    host.ShowSequenceResultImages(ch.VectorsOrIntra(), ch.stream, ch.bdiv, captionChain, captionA, captionB);
    host.ShowResultImageD(ch.bits, captionD, ch.stream, ch.VectorsOrIntra(), ch.bdiv);
}
