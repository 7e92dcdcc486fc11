// Picture data, macroblock layer: slices, macroblock addressing and modes, quantiser changes and
// motion vectors. A bit error drops the rest of its slice: decoding picks up at the next slice start
// code, whose header says where in the picture it begins.
#include "mpeg/mpgdec/mpgdec_picture.h"

#include "mpeg/mpgdec/mpgdec_vlc.h"
#include "platform/log.h"

#include <algorithm>
#include <cstring>

namespace zn {

void CMpegDecoder::getpic()
{
    MpegPictureDecoder pic(*this);
    pic.Run();
}

void MpegPictureDecoder::Run()
{
    mbaMax = d.mb_width * d.mb_height;
    if (d.picture_structure != 3)
        mbaMax /= 2;
    int mba = 0, mbaInc = 0;
    for (;;) {
        if (mbaInc == 0) {
            if (d.mpgdec_showbits(23) == 0 || fault) {
                if (!Resync(mba, mbaInc))
                    return;
            } else {
                if (mba >= mbaMax)
                    return;
                mbaInc = ReadAddressIncrement();
                if (fault && !Resync(mba, mbaInc))
                    return;
            }
        }
        if (mba >= mbaMax)
            return;
        bool skipped = mbaInc > 1;
        int cbp = 0;
        if (skipped) {
            dcPred[0] = dcPred[1] = dcPred[2] = 0;
            if (d.picture_coding_type == 2)
                std::memset(PMV, 0, sizeof PMV);
            if (d.picture_structure == 3) {
                motion_type = 2;
            } else {
                motion_type = 1;
                int bottom = d.picture_structure == 2 ? 1 : 0;
                field_select[0][0] = field_select[0][1] = field_select[1][0] = field_select[1][1] = bottom;
            }
            mvCount = 1;
            mvFormatField = d.picture_structure != 3;
            dualPrime = 0;
            macroblock_type &= ~kMbIntra;
            if (d.picture_coding_type == 2)
                macroblock_type = kMbForward;
        } else {
            ReadMacroblockModes();
            if (!fault) {
                if (macroblock_type & kMbQuant)
                    ReadQuantiserScale();
                bool concealment = (macroblock_type & kMbIntra) && d.concealment_motion_vectors;
                if ((macroblock_type & kMbForward) || concealment)
                    ReadMotionVectors(0);
                if (!fault && (macroblock_type & kMbBackward))
                    ReadMotionVectors(1);
                if (concealment)
                    d.mpgdec_flushbits(1);
            }
            if (!fault) {
                if (macroblock_type & kMbPattern) {
                    const mpgvlc::Entry &e = mpgvlc::CodedBlockPattern().Look(d.mpgdec_showbits(32));
                    if (!e.len) {
                        fault = true;
                    } else {
                        d.mpgdec_flushbits(e.len);
                        cbp = e.value;
                        if (d.chroma_format == 2)
                            cbp = (cbp << 2) | static_cast<int>(d.mpgdec_getbits(2));
                        else if (d.chroma_format == 3)
                            cbp = (cbp << 6) | static_cast<int>(d.mpgdec_getbits(6));
                    }
                } else if (macroblock_type & kMbIntra) {
                    cbp = (1 << d.block_count) - 1;
                }
            }
            for (int comp = 0; comp < d.block_count && !fault; ++comp) {
                std::memset(ld.block[comp], 0, sizeof ld.block[comp]);
                if (cbp & (1 << (d.block_count - 1 - comp))) {
                    if (macroblock_type & kMbIntra)
                        ld.mpeg2 ? getmpg2intrablock(comp) : getintrablock(comp);
                    else
                        ld.mpeg2 ? getmpg2interblock(comp) : getinterblock(comp);
                }
            }
            if (fault) {
                mbaInc = 0;
                continue; // resynchronise at the next slice
            }
            if (!(macroblock_type & kMbIntra))
                dcPred[0] = dcPred[1] = dcPred[2] = 0;
            if ((macroblock_type & kMbIntra) && !d.concealment_motion_vectors)
                std::memset(PMV, 0, sizeof PMV);
            if (d.picture_coding_type == 2 && !(macroblock_type & (kMbIntra | kMbForward))) {
                std::memset(PMV, 0, sizeof PMV);
                if (d.picture_structure == 3) {
                    motion_type = 2;
                    mvFormatField = 0;
                } else {
                    motion_type = 1;
                    field_select[0][0] = field_select[1][0] = d.picture_structure == 2 ? 1 : 0;
                    mvFormatField = 1;
                }
                dualPrime = 0;
            }
        }
        if (d.mv_overlay)
            RecordOverlay(mba);
        Reconstruct(mba, skipped, cbp);
        ++mba;
        --mbaInc;
    }
}

bool MpegPictureDecoder::Resync(int &mba, int &mbaInc)
{
    fault = false;
    if (mba >= mbaMax)
        return false;
    for (;;) {
        d.mpgdec_next_start_code();
        uint32_t code = d.mpgdec_showbits(32);
        if (code < 0x00000101 || code > 0x000001AF)
            return false;
        d.mpgdec_flushbits(32);
        int ext = 0;
        if (ld.mpeg2 && d.vertical_size > 2800)
            ext = static_cast<int>(d.mpgdec_getbits(3));
        ReadSliceHeader();
        int inc = ReadAddressIncrement();
        if (fault) {
            fault = false;
            continue;
        }
        mba = (static_cast<int>(code & 255) + 128 * ext - 1) * d.mb_width + inc - 1;
        mbaInc = 1;
        dcPred[0] = dcPred[1] = dcPred[2] = 0;
        std::memset(PMV, 0, sizeof PMV);
        return true;
    }
}

void MpegPictureDecoder::ReadSliceHeader()
{
    if (ld.scalable_mode == 1)
        ld.priority_breakpoint = static_cast<int>(d.mpgdec_getbits(7)); // data partitioning
    ReadQuantiserScale();
    if (d.mpgdec_getbit()) {
        ld.intra_slice = static_cast<int>(d.mpgdec_getbit());
        d.mpgdec_flushbits(7);
        while (d.mpgdec_getbit())
            d.mpgdec_flushbits(8);
    }
}

void MpegPictureDecoder::ReadQuantiserScale()
{
    int code = static_cast<int>(d.mpgdec_getbits(5));
    if (!ld.mpeg2)
        ld.quantizer_scale = code;
    else
        ld.quantizer_scale = ld.q_scale_type ? kMpegNonLinearScale[code] : code * 2;
}

int MpegPictureDecoder::ReadAddressIncrement()
{
    int inc = 0;
    for (;;) {
        const mpgvlc::Entry &e = mpgvlc::AddressIncrement().Look(d.mpgdec_showbits(32));
        if (!e.len) {
            fault = true;
            return 1;
        }
        d.mpgdec_flushbits(e.len);
        if (e.value == mpgvlc::kStuffing)
            continue;
        if (e.value == mpgvlc::kEscape) {
            inc += 33;
            continue;
        }
        return inc + e.value;
    }
}

void MpegPictureDecoder::ReadMacroblockModes()
{
    const mpgvlc::Entry &e = mpgvlc::MacroblockType(d.picture_coding_type).Look(d.mpgdec_showbits(32));
    if (!e.len) {
        fault = true;
        return;
    }
    d.mpgdec_flushbits(e.len);
    macroblock_type = e.value;
    bool frame = d.picture_structure == 3;
    if (macroblock_type & (kMbForward | kMbBackward)) {
        if (frame && d.frame_pred_frame_dct)
            motion_type = 2;
        else
            motion_type = static_cast<int>(d.mpgdec_getbits(2));
        if (motion_type == 0) {
            d.MessageOnce("invalid motion_type\n");
            fault = true;
            return;
        }
    } else if ((macroblock_type & kMbIntra) && d.concealment_motion_vectors) {
        motion_type = frame ? 2 : 1;
    }
    if (frame) {
        mvCount = motion_type == 1 ? 2 : 1;
        mvFormatField = motion_type != 2;
    } else {
        mvCount = motion_type == 2 ? 2 : 1;
        mvFormatField = 1;
    }
    dualPrime = motion_type == 3;
    mvScale = mvFormatField && frame;
    dct_type = 0;
    if (frame && !d.frame_pred_frame_dct && (macroblock_type & (kMbIntra | kMbPattern)))
        dct_type = static_cast<int>(d.mpgdec_getbit());
}

void MpegPictureDecoder::ReadMotionVectors(int s)
{
    if (!ld.mpeg2) {
        int r = s == 0 ? d.forward_r_size : d.backward_r_size;
        bool fullPel = s == 0 ? d.full_pel_forward_vector : d.full_pel_backward_vector;
        ReadMotionVector(PMV[0][s], r, r, false, false, fullPel);
        PMV[1][s][0] = PMV[0][s][0];
        PMV[1][s][1] = PMV[0][s][1];
        return;
    }
    int hr = d.f_code[s][0], vr = d.f_code[s][1];
    bool dmv = dualPrime && s == 0;
    if (mvCount == 1) {
        if (mvFormatField && !dmv)
            field_select[1][s] = field_select[0][s] = static_cast<int>(d.mpgdec_getbit());
        ReadMotionVector(PMV[0][s], hr, vr, dmv, mvScale, false);
        PMV[1][s][0] = PMV[0][s][0];
        PMV[1][s][1] = PMV[0][s][1];
    } else {
        field_select[0][s] = static_cast<int>(d.mpgdec_getbit());
        ReadMotionVector(PMV[0][s], hr, vr, false, mvScale, false);
        field_select[1][s] = static_cast<int>(d.mpgdec_getbit());
        ReadMotionVector(PMV[1][s], hr, vr, false, mvScale, false);
    }
}

int MpegPictureDecoder::ReadMotionCode()
{
    const mpgvlc::Entry &e = mpgvlc::MotionCode().Look(d.mpgdec_showbits(32));
    if (!e.len) {
        fault = true;
        return 0;
    }
    d.mpgdec_flushbits(e.len);
    return e.value;
}

// Vectors are sent as differences from the previous one, modulo the range the f_code allows: the
// wrap lets a small code reach the far end of the range.
void MpegPictureDecoder::UpdateVector(int &pred, int rSize, int code, int residual, bool fullPel)
{
    int lim = 16 << rSize;
    int vec = fullPel ? pred >> 1 : pred;
    if (code > 0) {
        vec += ((code - 1) << rSize) + residual + 1;
        if (vec >= lim)
            vec -= lim + lim;
    } else if (code < 0) {
        vec -= ((-code - 1) << rSize) + residual + 1;
        if (vec < -lim)
            vec += lim + lim;
    }
    vec = std::clamp(vec, -lim, lim - 1); // a damaged predictor stays within the range
    pred = fullPel ? vec * 2 : vec;
}

void MpegPictureDecoder::ReadMotionVector(int *pmv, int hRSize, int vRSize, bool dmv, bool mvscale,
                                          bool fullPel)
{
    if (hRSize < 0 || vRSize < 0 || hRSize > 14 || vRSize > 14) {
        d.MessageOnce("MpegDecoder - Invalid f_code in picture header: picture data not decoded");
        fault = true;
        return;
    }
    int code = ReadMotionCode();
    int residual = (hRSize && code) ? static_cast<int>(d.mpgdec_getbits(hRSize)) : 0;
    UpdateVector(pmv[0], hRSize, code, residual, fullPel);
    if (dmv)
        dmvector[0] = d.mpgdec_getbit() ? (d.mpgdec_getbit() ? -1 : 1) : 0;
    code = ReadMotionCode();
    residual = (vRSize && code) ? static_cast<int>(d.mpgdec_getbits(vRSize)) : 0;
    if (mvscale)
        pmv[1] >>= 1;
    UpdateVector(pmv[1], vRSize, code, residual, fullPel);
    if (mvscale)
        pmv[1] *= 2;
    if (dmv)
        dmvector[1] = d.mpgdec_getbit() ? (d.mpgdec_getbit() ? -1 : 1) : 0;
}

void MpegPictureDecoder::RecordOverlay(int mba)
{
    if (mba < 0)
        return;
    int div = d.full_pel_forward_vector ? 1 : 2;
    auto put = [&](std::vector<MotionVector> &arr, int x, int y) {
        if (static_cast<size_t>(mba) < arr.size())
            arr[static_cast<size_t>(mba)] = {x / div, y / div};
    };
    bool intra = macroblock_type & kMbIntra;
    switch (d.picture_coding_type) {
    case 3:
        if (macroblock_type & kMbForward)
            put(d.mv_b, PMV[0][0][0], PMV[0][0][1]);
        else if (macroblock_type & kMbBackward)
            put(d.mv_b, PMV[0][1][0], PMV[0][1][1]);
        else if (intra)
            put(d.mv_b, 0, 0);
        else
            put(d.mv_b, PMV[0][0][0], PMV[0][0][1]);
        break;
    case 2: {
        auto &arr = d.mv_p_select ? d.mv_p_a : d.mv_p_b;
        if (intra)
            put(arr, 0, 0);
        else
            put(arr, PMV[0][0][0], PMV[0][0][1]);
        break;
    }
    default:
        put(d.mv_i, 0, 0);
        break;
    }
}

} // namespace zn
