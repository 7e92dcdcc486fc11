// Picture hand-off in output order.
#include "h264dec/picture_output.h"

#include <algorithm>
#include <cstring>

namespace {

H264PictureRef Ref(const DecodedPlanes &p, int width, int height, int number, int type_index)
{
    H264PictureRef r;
    if (!p.y.HasData() || p.uv.Frames() < 2)
        return r;
    r.y = p.y.Data();
    r.u = p.uv[0].Data();
    r.v = p.uv[1].Data();
    r.width = std::min(width, p.y.Cols());
    r.height = std::min(height, p.y.Rows());
    r.number = number;
    r.type_index = type_index;
    return r;
}

void CopyPlanes(const DecodedPlanes &from, DecodedPlanes &to)
{
    auto copy = [](const Array2D<uint8_t> &a, Array2D<uint8_t> &b) {
        if (b.Rows() != a.Rows() || b.Cols() != a.Cols())
            b.Reset(a.Rows(), a.Cols());
        std::memcpy(b.Data(), a.Data(), static_cast<size_t>(a.Rows()) * static_cast<size_t>(a.Cols()));
    };
    copy(from.y, to.y);
    if (to.uv.Frames() != 2)
        to.uv.Reset(2, 0, 0);
    for (int c = 0; c < 2; ++c)
        copy(from.uv[c], to.uv[c]);
}

} // namespace

H264PictureRef h264dec_current_picture_ref(const H264DecoderState &dec, int type_index)
{
    return Ref(dec.dec_picture_frame, dec.run_width, dec.run_height, dec.img.number, type_index);
}

H264PictureRef h264dec_stored_picture_ref(const H264DecoderState &dec, int type_index)
{
    return Ref(dec.stored_picture, dec.run_width, dec.run_height, dec.img.number, type_index);
}

void h264dec_show_picture(H264DecoderState &dec, bool views, int type_index)
{
    dec.analysis.vis_pic_type = type_index;
    CopyPlanes(dec.dec_picture_frame, dec.stored_picture);
    dec.stored_valid = dec.stored_pending = true;
    if (dec.sink)
        dec.sink->PictureDecoded(dec, h264dec_current_picture_ref(dec, type_index), views);
    dec_reset_analysis_planes(dec.analysis);
}

void h264dec_output_picture(H264DecoderState &dec, int type_index)
{
    if (dec.sink) {
        const H264PictureRef picture = h264dec_current_picture_ref(dec, type_index);
        dec.sink->PictureDecoded(dec, picture, true);
        dec.sink->PictureOutput(dec, picture);
    }
    dec_reset_analysis_planes(dec.analysis);
}

void h264dec_output_stored_picture(H264DecoderState &dec, int type_index)
{
    // Once only: a picture that started and never finished must not bring the same one out twice.
    if (!dec.stored_pending)
        return;
    dec.stored_pending = false;
    if (dec.sink)
        dec.sink->PictureOutput(dec, h264dec_stored_picture_ref(dec, type_index));
}

bool h264dec_copy_picture(const H264PictureRef &p, std::vector<uint8_t> planes[3])
{
    if (!p.y || p.width <= 0 || p.height <= 0)
        return false;
    const size_t luma = static_cast<size_t>(p.width) * p.height, chroma = luma / 4;
    planes[0].assign(p.y, p.y + luma);
    planes[1].assign(p.u, p.u + chroma);
    planes[2].assign(p.v, p.v + chroma);
    return true;
}

bool h264dec_copy_stored_picture(const H264DecoderState &dec, std::vector<uint8_t> planes[3], int &width,
                                 int &height)
{
    const H264PictureRef p = h264dec_stored_picture_ref(dec, 0);
    if (!dec.stored_valid || !h264dec_copy_picture(p, planes))
        return false;
    width = p.width;
    height = p.height;
    return true;
}
