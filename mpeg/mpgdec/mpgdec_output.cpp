// Frame stores and output: three stores rotate, two references and one for B pictures; B frames are
// shown as soon as they are decoded and each reference frame one reference later, which turns the
// coded order back into display order. The output modes show the decoded picture, the prediction
// alone or the coded difference; the references hold what is shown, so the error of modes 1 and 2
// builds up over a group of pictures.
#include "mpeg/mpgdec/mpgdec_picture.h"

#include "image/cdib.h"
#include "mpeg/mpgdec/mpgdec_display.h"
#include "platform/messages.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace zn {

namespace {

constexpr int kClipSize = 1024, kClipZero = 384;

// Pictures larger than this are refused: the standards' levels stop well below it, and the stores
// of a damaged header could otherwise claim gigabytes.
constexpr int kMaxPictureSide = 8192;

inline uint8_t Clip(int v)
{
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

void ComputeLayout(const CMpegDecoder &d, int &mbWidth, int &mbHeight)
{
    mbWidth = (d.horizontal_size + 15) / 16;
    mbHeight = (d.base_layer.mpeg2 && !d.progressive_sequence) ? 2 * ((d.vertical_size + 31) / 32)
                                                               : (d.vertical_size + 15) / 16;
}

} // namespace

CMpegDecoder::CMpegDecoder()
{
    // An uncoded MPEG-2 block carries only the mismatch-control bit; when the transform maps that to
    // zero, uncoded blocks can be left out of the reconstruction.
    short probe[64] = {};
    probe[63] = 1;
    InverseDct(probe);
    m_mismatchOnlyBlockIsZero = std::all_of(probe, probe + 64, [](short v) { return v == 0; });
}

CMpegDecoder::~CMpegDecoder() = default;

void CMpegDecoder::mpgdec_initdecoder()
{
    if (initialised)
        mpgdec_freedecoder();
    // The clip table first; without it no block can be written, so the run ends here.
    m_clipBlock.reset(new (std::nothrow) uint8_t[kClipSize]);
    if (!m_clipBlock) {
        ShowMessage("mpgdec_initdecoder - malloc failed\n");
        throw MpegDecodeError("malloc failed");
    }
    for (int i = 0; i < kClipSize; ++i)
        m_clipBlock[i] = Clip(i - kClipZero);
    clip = m_clipBlock.get() + kClipZero;
    if (!base_layer.mpeg2) {
        progressive_sequence = 1;
        progressive_frame = 1;
        picture_structure = 3;
        frame_pred_frame_dct = 1;
        chroma_format = 1;
        matrix_coefficients = 5;
    }
    if (horizontal_size <= 0 || vertical_size <= 0) {
        ShowMessage("MpegDecoder - The stream gives a picture size of 0.");
        throw MpegDecodeError("picture size 0");
    }
    if (horizontal_size > kMaxPictureSide || vertical_size > kMaxPictureSide) {
        ShowMessage(
            Format("MpegDecoder - Pictures of %d x %d are larger than this decoder accepts (%d x %d).",
                   horizontal_size, vertical_size, kMaxPictureSide, kMaxPictureSide));
        throw MpegDecodeError("picture too large");
    }
    if (chroma_format < 1 || chroma_format > 3) {
        ShowMessage("MpegDecoder - The stream gives a reserved chroma format.");
        throw MpegDecodeError("reserved chroma format");
    }
    if (base_layer.scalable_mode == 2 && m_shown.insert("SC_SPAT").second) {
        // The lower layer that would predict a spatially scalable stream is not decoded: the pictures
        // go without its prediction. Told for each component's lower-layer store and for the layer.
        for (int c = 0; c < 4; ++c)
            ShowMessage("Scalability SC_SPAT no longer supported");
    }
    ComputeLayout(*this, mb_width, mb_height);
    coded_width = 16 * mb_width;
    coded_height = 16 * mb_height;
    chroma_width = chroma_format == 3 ? coded_width : coded_width / 2;
    chroma_height = chroma_format == 1 ? coded_height / 2 : coded_height;
    block_count = chroma_format == 1 ? 6 : chroma_format == 2 ? 8 : 12;
    try {
        for (int s = 0; s < 3; ++s)
            for (int c = 0; c < 3; ++c) {
                size_t n = c ? static_cast<size_t>(chroma_width) * chroma_height
                             : static_cast<size_t>(coded_width) * coded_height;
                // Grey until decoded: a stream that starts with a P or B picture predicts from grey.
                m_store[s][c].assign(n, 128);
            }
        if (mv_overlay) {
            size_t n = static_cast<size_t>(mb_width) * mb_height;
            mv_i.assign(n, {});
            mv_p_a.assign(n, {});
            mv_p_b.assign(n, {});
            mv_b.assign(n, {});
        }
    } catch (const std::bad_alloc &) {
        mpgdec_freedecoder();
        ShowMessage("mpgdec_initdecoder - malloc failed");
        throw MpegDecodeError("malloc failed");
    }
    for (int c = 0; c < 3; ++c) {
        backward_ref[c] = m_store[0][c].data();
        forward_ref[c] = m_store[1][c].data();
        aux_frame[c] = m_store[2][c].data();
        current_frame[c] = backward_ref[c];
    }
    m_storeWidth = mb_width;
    m_storeHeight = mb_height;
    m_storeChroma = chroma_format;
    second_field = 0;
    initialised = 1;
}

void CMpegDecoder::mpgdec_freedecoder()
{
    for (auto &store : m_store)
        for (auto &plane : store)
            std::vector<uint8_t>().swap(plane);
    for (int c = 0; c < 3; ++c)
        backward_ref[c] = forward_ref[c] = aux_frame[c] = current_frame[c] = nullptr;
    clip = nullptr;
    m_clipBlock.reset();
    initialised = 0;
}

bool CMpegDecoder::StoresMatchHeaders() const
{
    if (!initialised)
        return false;
    int w = 0, h = 0;
    ComputeLayout(*this, w, h);
    int cf = base_layer.mpeg2 ? chroma_format : 1;
    return w == m_storeWidth && h == m_storeHeight && cf == m_storeChroma;
}

bool CMpegDecoder::PictureDecodable()
{
    if (picture_coding_type < 1 || picture_coding_type > 4) {
        MessageOnce("MpegDecoder - A picture of a reserved coding type was skipped.");
        return false;
    }
    if (picture_structure < 1 || picture_structure > 3) {
        MessageOnce("MpegDecoder - A picture of a reserved picture structure was skipped.");
        return false;
    }
    if (picture_structure != 3 && (mb_height & 1)) {
        MessageOnce("MpegDecoder - A field picture in a progressive sequence was skipped.");
        return false;
    }
    return true;
}

void CMpegDecoder::mpgdec_getpicture(int frame_number)
{
    if (!StoresMatchHeaders())
        mpgdec_initdecoder(); // the sequence changed its size or chroma format
    if (current_layer->scalable_mode == 1) {
        ShowMessage("Scalability SC_DP no longer supported");
        throw MpegDecodeError("data partitioning");
    }
    if (!PictureDecodable())
        return;
    if (picture_structure == 3 && second_field) {
        MessageOnce("mpgdec_getpicture - odd number of field pictures\n");
        second_field = 0;
    }
    for (int c = 0; c < 3; ++c) {
        if (picture_coding_type == 3) {
            current_frame[c] = aux_frame[c];
        } else {
            if (!second_field)
                std::swap(forward_ref[c], backward_ref[c]);
            current_frame[c] = backward_ref[c];
        }
        if (picture_structure == 2)
            current_frame[c] += c ? chroma_width : coded_width;
    }
    if (current_layer->pict_scal && !second_field)
        MessageOnce("MpgDecGetPic - Picture Scalability no longer supported");
    getpic();
    if (frame_number != 0 && (picture_structure == 3 || second_field)) {
        if (picture_coding_type == 3) {
            if (!skip_b_frames)
                mpgdec_storeframe(aux_frame, frame_number, "B", 3);
        } else if (ref_picture_type == 1 || frame_number == 1) {
            mpgdec_storeframe(forward_ref, frame_number, "I", 1);
        } else {
            mpgdec_storeframe(forward_ref, frame_number, "P", 2);
        }
    }
    if (picture_structure != 3)
        second_field ^= 1;
}

void CMpegDecoder::mpgdec_lastframe(int frame_number)
{
    if (!initialised)
        return;
    if (second_field) {
        ShowMessage("MpegDecoder - Last frame incomplete, not displayed\n");
        return;
    }
    if (ref_picture_type == 1)
        mpgdec_storeframe(backward_ref, frame_number, "I (last)", 1);
    else
        mpgdec_storeframe(backward_ref, frame_number, "P (last)", 2);
}

void CMpegDecoder::mpgdec_storeframe(uint8_t *const planes[3], int frame_number, const char *type_text,
                                     int kind)
{
    if (!doc_sink && !dib_sink) {
        ShowMessage(
            "CMpegDecoder::mpgdec_storeframe() implementation error.\r\nMust use display routine from "
            "CMpgdecDlg or CDibDoc.");
        return;
    }
    MpegFrame f;
    f.y = planes[0];
    f.cb = planes[1];
    f.cr = planes[2];
    f.width = coded_width;
    f.height = coded_height;
    f.chromaWidth = chroma_width;
    f.chromaHeight = chroma_height;
    f.chromaFormat = chroma_format;
    ++frames_output;
    if (doc_sink) {
        doc_sink(f, frame_number, type_text, kind);
        return;
    }
    if (dib_sink->GetWidth() != f.width || dib_sink->GetHeight() != f.height)
        dib_sink->Create24(f.width, f.height); // the sequence changed its size
    uint8_t *rgbPlanes[3];
    std::vector<uint8_t> cb, cr;
    FramePlanes420(f, cb, cr, rgbPlanes);
    dib_sink->ConvertYUV420Dib(rgbPlanes);
}

// Places one transformed block in the picture. With field DCT the block's lines alternate between
// the macroblock's two fields; in a field picture every line of the store's field is two lines
// apart.
void MpegPictureDecoder::mpgdec_blocktoframe(int comp, int bx, int by, bool nonIntra)
{
    const int cf = d.chroma_format;
    int c = comp < 4 ? 0 : (comp & 1) ? 2 : 1;
    int width = c ? d.chroma_width : d.coded_width;
    int x, y, step;
    bool frame = d.picture_structure == 3;
    int half = (comp & 2) >> 1; // lower row of blocks
    if (c == 0) {
        x = bx + 8 * (comp & 1);
        y = by;
    } else {
        x = (cf == 3 ? bx : bx / 2) + ((cf == 3 && (comp & 8)) ? 8 : 0);
        y = cf == 1 ? by / 2 : by;
    }
    bool fieldDct = frame && dct_type && (c == 0 || cf != 1);
    uint8_t *p;
    if (frame) {
        if (fieldDct) {
            p = d.current_frame[c] + static_cast<ptrdiff_t>(y + half) * width + x;
            step = 2 * width;
        } else {
            p = d.current_frame[c] + static_cast<ptrdiff_t>(y + 8 * half) * width + x;
            step = width;
        }
    } else {
        p = d.current_frame[c] + static_cast<ptrdiff_t>(2 * (y + 8 * half)) * width + x;
        step = 2 * width;
    }
    const short *b = ld.block[comp];
    const int mode = d.output_mode;
    const uint8_t *clip = d.clip; // the transform's output lies in -256..255
    for (int j = 0; j < 8; ++j, p += step, b += 8) {
        for (int i = 0; i < 8; ++i) {
            if (mode == 0)
                p[i] = nonIntra ? clip[b[i] + p[i]] : clip[b[i] + 128];
            else if (mode == 1)
                p[i] = nonIntra ? p[i] : clip[b[i] + 128];
            else
                p[i] = clip[b[i] + 128];
        }
    }
}

} // namespace zn
