// The coding loop: frames in coding order (each reference picture before the B pictures that lie
// before it in display order), GOP structure and picture types, and per picture the chain of motion
// estimation, prediction, transform, coding and reconstruction. A user may stop after any frame; the
// stream then still ends with a sequence end code.
#include "mpeg/mpgenc/mpgenc.h"

#include "mpeg/mpgenc/mpgenc_quant.h"
#include "platform/keypoll.h"
#include "platform/messages.h"

#include <utility>

void MpegEncoder::PictureChain(int secondField, int ipflag, uint8_t *cur[3], uint8_t *rec[3], int fieldCode,
                               int codedFrame, int frameNo)
{
    MpegEncoderState &s = m_s;
    s.secondfield = secondField;
    m_estimator.SetPicture(s.height, s.width, s.height2, s.width2, s.mb_width, s.mb_height2, s.pict_struct,
                           s.pict_type, s.M, s.frame_pred_dct, s.topfirst);
    m_estimator.EstimatePicture(m_oldorg[0], m_neworg[0], m_oldref[0], m_newref[0], cur[0], s.sxf, s.syf,
                                s.sxb, s.syb, m_mbinfo, secondField, ipflag);
    PredictPicture(m_oldref, m_newref, m_predframe);
    DctTypeEstimation(m_predframe, cur);
    Transform(m_predframe, cur);
    CodePicture(cur[0]);
    const bool mpeg1 = s.mpeg1 != 0;
    for (int k = 0; k < s.mb_width * s.mb_height2; ++k) {
        const MacroblockRecord &mb = m_mbinfo[k];
        int16_t *blocks = m_blocks.data() + static_cast<size_t>(k) * s.block_count * 64;
        for (int b = 0; b < s.block_count; ++b) {
            int16_t *blk = blocks + 64 * b;
            if (mb.mb_type & MB_INTRA)
                DequantIntra(blk, blk, s.dc_prec, s.intra_q, mb.mquant, mpeg1);
            else
                DequantNonIntra(blk, blk, s.inter_q, mb.mquant, mpeg1);
        }
    }
    InverseTransform(m_predframe, rec);

    MpegPictureReport report;
    report.codedFrame = codedFrame;
    report.field = fieldCode;
    report.frameNo = frameNo;
    report.type = "IPB"[s.pict_type - 1];
    CalcSnr(cur, rec, report.mse, report.snr);
    report.statistics = Statistics();
    report.bitsPerPixel = m_rc.bitsPerPixel;
    if (m_sink) {
        m_sink->ShowDecodingInfo(report);
        const uint8_t *planes[3] = {rec[0], rec[1], rec[2]};
        m_sink->ShowCodedFrame(planes, s.width, s.height, frameNo);
    }
}

// A P picture: forward f_codes and search widths of the nearest reference distance, no backward.
void MpegEncoder::BecomeP()
{
    MpegEncoderState &s = m_s;
    const MotionData &d = s.motion_data[0];
    s.pict_type = P_TYPE;
    s.forw_hor_f_code = d.forw_hor_f_code;
    s.forw_vert_f_code = d.forw_vert_f_code;
    s.back_hor_f_code = s.back_vert_f_code = 15;
    s.sxf = d.sxf;
    s.syf = d.syf;
}

void MpegEncoder::EncodeSequence()
{
    MpegEncoderState &s = m_s;
    RcInitSequence();
    WriteSequenceHeader();
    if (!s.mpeg1) {
        WriteSequenceExtension();
        WriteSequenceDisplayExtension();
    }
    const int N = s.N, M = s.M, nframes = s.nframes;
    // Only a key pressed while the frames are coded asks to stop; the file name typed before did not.
    zn::ForgetKeyPresses();
    for (int i = 0; i < nframes; ++i) {
        int f0 = N * ((i + M - 1) / N) - M + 1;
        if (f0 < 0)
            f0 = 0;
        int f;
        uint8_t **cur, **rec;
        if (i == 0 || (i - 1) % M == 0) {
            for (int c = 0; c < 3; ++c) {
                std::swap(m_oldorg[c], m_neworg[c]);
                std::swap(m_oldref[c], m_newref[c]);
            }
            cur = m_neworg;
            rec = m_newref;
            f = i == 0 ? 0 : i + M - 1;
            if (f >= nframes)
                f = nframes - 1;
            if (i == f0) {
                s.pict_type = I_TYPE;
                s.forw_hor_f_code = s.forw_vert_f_code = s.back_hor_f_code = s.back_vert_f_code = 15;
                int n = i == 0 ? N - M + 1 : N;
                if (n > nframes - f0)
                    n = nframes - f0;
                const int np = i == 0 ? (n + 2 * M - 2) / M - 1 : (n + M - 1) / M - 1;
                const int nb = n - np - 1;
                RcInitGop(np, nb);
                WriteGopHeader(f0, i == 0 ? 1 : 0);
            } else {
                BecomeP();
            }
        } else {
            cur = m_auxorg;
            rec = m_auxframe;
            f = i - 1;
            const MotionData &d = s.motion_data[(i - 2) % M + 1];
            s.pict_type = B_TYPE;
            s.forw_hor_f_code = d.forw_hor_f_code;
            s.forw_vert_f_code = d.forw_vert_f_code;
            s.back_hor_f_code = d.back_hor_f_code;
            s.back_vert_f_code = d.back_vert_f_code;
            s.sxf = d.sxf;
            s.syf = d.syf;
            s.sxb = d.sxb;
            s.syb = d.syb;
        }
        s.temp_ref = f - f0;
        const int t = s.pict_type - 1;
        s.frame_pred_dct = s.frame_pred_dct_tab[t];
        s.q_scale_type = s.qscale_tab[t];
        s.intravlc = s.intravlc_tab[t];
        s.altscan = s.altscan_tab[t];

        if (!m_source || !m_source->Read(f + 1, cur))
            break; // the source has shown its message; the stream ends after the last coded frame

        if (!s.fieldpic) {
            s.pict_struct = FRAME_PICTURE;
            PictureChain(0, 0, cur, rec, -1, i + 1, f + 1);
        } else {
            // Two field pictures; field pictures always choose their prediction per macroblock.
            s.frame_pred_dct = 0;
            const int first = s.topfirst ? TOP_FIELD : BOTTOM_FIELD;
            s.pict_struct = first;
            PictureChain(0, 0, cur, rec, first == TOP_FIELD ? 0 : 1, i + 1, f + 1);
            // The second field of an I frame is a P field predicted from the first.
            int ipflag = 0;
            if (s.pict_type == I_TYPE) {
                ipflag = 1;
                BecomeP();
            }
            s.pict_struct = first == TOP_FIELD ? BOTTOM_FIELD : TOP_FIELD;
            PictureChain(1, ipflag, cur, rec, first == TOP_FIELD ? 1 : 0, i + 1, f + 1);
        }

        if (zn::TakeKeyPress() &&
            zn::ShowMessage("Encoding interrupted by User\nContinue encoding this sequence?",
                            zn::MsgButtons::YesNo, zn::MsgIcon::Question) == zn::MsgAnswer::No)
            break;
    }
    WriteSequenceEnd();
}
