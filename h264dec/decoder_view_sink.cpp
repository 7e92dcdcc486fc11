// Reference pictures show their analysis when decoded and reach the document later, when the next
// reference picture starts; a non-reference B picture does both at once, the document first, so its
// views carry the frame number the document has just given it.
#include "h264dec/decoder_view_sink.h"

#include "h264dec/decoder_host.h"
#include "h264dec/decoder_state.h"
#include "image/yuv_writer.h"
#include "platform/format.h"
#include "platform/messages.h"

namespace {

H264PlaneSet PictureSet(const H264PictureRef &p)
{
    return {p.y, p.u, p.v};
}

H264PlaneSet AnalysisSet(const Array2D<uint8_t> &y, const Array3D<uint8_t> &uv)
{
    return {y.Data(), uv[0].Data(), uv[1].Data()};
}

bool AnalysisFits(const DecoderAnalysis &a, int width, int height)
{
    return a.vis_vec_y.Rows() >= height && a.vis_vec_y.Cols() == width && a.vis_bdiv_y.Rows() >= height &&
           a.vis_bdiv_y.Cols() == width && a.vis_vec_uv.Frames() == 2 && a.vis_bdiv_uv.Frames() == 2;
}

} // namespace

H264ViewPlanes H264ViewSink::Planes(const H264DecoderState &dec, const H264PictureRef &picture, bool analysis)
{
    H264ViewPlanes p;
    p.width = picture.width;
    p.height = picture.height;
    p.picture = PictureSet(picture);
    // Without analysis (the stored picture) the picture stands for every set.
    p.processing = p.vectors = p.bdiv = p.bits = p.picture;
    const DecoderAnalysis &a = dec.analysis;
    if (!analysis || !m_host || !AnalysisFits(a, picture.width, picture.height))
        return p;
    const H264ViewChoices &ch = m_host->ViewChoices();
    p.vectors = AnalysisSet(a.vis_vec_y, a.vis_vec_uv);
    p.bdiv = AnalysisSet(a.vis_bdiv_y, a.vis_bdiv_uv);
    if (ch.stream) {
        h264dec_processing_planes(p.picture, p.width, p.height, a, picture.type_index, m_processing);
        p.processing = m_processing.Set();
    }
    if (ch.bits) {
        h264dec_bits_planes(a, p.width, p.height, m_bits);
        p.bits = m_bits.Set();
    }
    return p;
}

void H264ViewSink::PictureDecoded(H264DecoderState &dec, const H264PictureRef &picture, bool views)
{
    // A picture whose macroblocks spent no bits scales them by 1.
    if (dec.analysis.mb_bits_max == 0)
        dec.analysis.mb_bits_max = 1;
    if (picture.type_index == kTypeIndexB) {
        m_pendingB = true;
        return;
    }
    if (views && m_host && picture.y)
        h264dec_build_views(*m_host, Planes(dec, picture, true), picture.number, picture.type_index, false,
                            true);
}

void H264ViewSink::PictureOutput(H264DecoderState &dec, const H264PictureRef &picture)
{
    const bool withViews = m_pendingB;
    m_pendingB = false;
    if (!picture.y)
        return;
    if (m_out && !m_outFailed) {
        const size_t luma = static_cast<size_t>(picture.width) * picture.height, chroma = luma / 4;
        if (std::fwrite(picture.y, 1, luma, m_out) != luma ||
            std::fwrite(picture.u, 1, chroma, m_out) != chroma ||
            std::fwrite(picture.v, 1, chroma, m_out) != chroma || std::fflush(m_out) != 0) {
            m_outFailed = true;
            zn::ShowMessage(
                zn::Format("Cannot write picture %d to the output file: no further pictures are written",
                           picture.number));
        }
    }
    if (m_host) {
        h264dec_build_views(*m_host, Planes(dec, picture, withViews), picture.number, picture.type_index,
                            true, withViews);
        Save(picture);
    }
}

void H264ViewSink::Save(const H264PictureRef &picture)
{
    CYuvFileWriter *save = m_host->SaveFile();
    if (!save)
        return;
    if (m_saveWidth == 0) {
        m_saveWidth = picture.width;
        m_saveHeight = picture.height;
    } else if (picture.width != m_saveWidth || picture.height != m_saveHeight) {
        if (m_saveRefused)
            return;
        m_saveRefused = true; // the writer says why with its own message
    }
    uint8_t *planes[3] = {const_cast<uint8_t *>(picture.y), const_cast<uint8_t *>(picture.u),
                          const_cast<uint8_t *>(picture.v)};
    save->SaveYUVFrame(picture.height, picture.width, planes);
}

void H264ViewSink::PictureText(H264DecoderState &, const std::string &text)
{
    if (m_host)
        m_host->h264dec_append_text(text);
}
