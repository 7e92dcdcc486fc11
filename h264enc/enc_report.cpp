// The end-of-run report (see the header). Rates per picture type divide by the pictures of that type
// actually coded, so a run stopped early reports what it made.
#include "h264enc/enc_report.h"

#include "h264enc/enc_run.h"
#include "h264enc/encoder_run_api.h"
#include "h264enc/picture_coding.h"
#include "platform/format.h"

#include <algorithm>

namespace h264enc {

namespace {

int CategorySum(const EncoderStats &s, int t)
{
    const size_t i = static_cast<size_t>(t);
    return s.header_bits[i] + s.mode_bits[i] + s.cbp_bits[i] + s.luma_bits[i] + s.chroma_bits[i] +
           s.delta_quant_bits[i] + s.stuffing_bits[i];
}

int MotionSum(const EncoderStats &s, int row)
{
    int sum = 0;
    for (int m = 0; m <= 10; ++m)
        sum += s.motion_bits[static_cast<size_t>(row)][static_cast<size_t>(m)];
    return sum;
}

int MotionModes(const EncoderStats &s, int row)
{
    const auto &m = s.motion_bits[static_cast<size_t>(row)];
    return m[0] + m[1] + m[2] + m[3] + m[8];
}

} // namespace

std::string SequenceTypeText(const EncoderRun &run)
{
    const EncoderParams &p = run.input;
    if (p.StoredBPictures > 0) {
        if (p.NumberBFrames == 0)
            return zn::Format("I-P-BS-BS (QP: I %d, P BS %d)", p.QPFirstFrame, p.QPRemainingFrame);
        if (p.NumberBFrames == 1)
            return zn::Format("I-B-P-BS-B-BS (QP: I %d, P BS %d, B %d)", p.QPFirstFrame, p.QPRemainingFrame,
                              p.QPBPicture);
        return zn::Format("I-B-B-P-B-B-BS (QP: I %d, P BS %d, B %d)", p.QPFirstFrame, p.QPRemainingFrame,
                          p.QPBPicture);
    }
    if (p.NumberBFrames == 1)
        return zn::Format("IBPBP (QP: I %d, P %d, B %d)", p.QPFirstFrame, p.QPRemainingFrame, p.QPBPicture);
    if (p.NumberBFrames == 2)
        return zn::Format("IBBPBBP (QP: I %d, P %d, B %d)", p.QPFirstFrame, p.QPRemainingFrame, p.QPBPicture);
    if (p.NumberBFrames == 0 && p.SPPicturePeriodicity == 0)
        return zn::Format("IPPP (QP: I %d, P %d)", p.QPFirstFrame, p.QPRemainingFrame);
    if (p.NumberBFrames >= 3) {
        // "I", then one "B" per B picture, then "P", twice over, as the shorter forms read.
        std::string pattern = "I";
        for (int k = 0; k < 2; ++k) {
            pattern += std::string(static_cast<size_t>(p.NumberBFrames), 'B');
            pattern += "P";
        }
        return zn::Format("%s (QP: I %d, P %d, B %d)", pattern.c_str(), p.QPFirstFrame, p.QPRemainingFrame,
                          p.QPBPicture);
    }
    return zn::Format("I-P-P-SP-P (QP: I %d, P %d, SP (%d, %d))", p.QPFirstFrame, p.QPRemainingFrame,
                      p.QPSPPicture, p.QPSP2Picture);
}

H264RunStatistics RunStatistics(const EncoderRun &run, const PictureLoop &loop)
{
    const EncoderParams &p = run.input;
    const EncoderStats &s = run.stats;
    H264RunStatistics r;
    r.seconds = static_cast<double>(loop.total_ms) * 0.001;
    r.sequence_type = SequenceTypeText(run);
    r.snr_ya = run.snr.snr_ya;
    r.snr_ua = run.snr.snr_ua;
    r.snr_va = run.snr.snr_va;
    r.zero = 0;
    r.bits_first_picture = s.bits_first_picture;
    r.bits_p = s.bits_p;
    // Pictures actually coded: a stopped run divides by what it made.
    const int ipCoded = std::max(static_cast<int>(run.picture_bits.size()) - loop.b_coded, 1);
    double bitrate;
    if (loop.b_coded > 0) {
        r.picture_rate = static_cast<float>(run.img.framerate * (p.NumberBFrames + 1) / (p.FrameSkip + 1.0));
        r.bits_b = s.bits_b;
        bitrate = (static_cast<double>(s.bits_first_picture) + s.bits_p + s.bits_b) * r.picture_rate /
                  (ipCoded + loop.b_coded);
        r.total_bits = s.bits_first_picture + s.bits_p + s.bits_b;
    } else {
        r.picture_rate = static_cast<float>(run.img.framerate / (p.FrameSkip + 1.0));
        r.bits_b = -1;
        bitrate = (static_cast<double>(s.bits_first_picture) + s.bits_p) * r.picture_rate / ipCoded;
        r.total_bits = s.bits_first_picture + s.bits_p;
    }
    r.kbit_per_second = static_cast<float>(bitrate * 0.001);
    return r;
}

std::string ModeAndBitUsageText(const EncoderRun &run, const PictureLoop &loop)
{
    const EncoderParams &p = run.input;
    const EncoderStats &s = run.stats;
    const int ipCoded = std::max(static_cast<int>(run.picture_bits.size()) - loop.b_coded, 1);
    const double pCount = std::max(ipCoded - 1, 1);
    const bool bCoded = loop.b_coded > 0 && p.NumberBFrames != 0;
    const double bCount = std::max(loop.b_coded, 1);
    std::string t;
    t += "\r\nEncoder mode selection and motion vector bit usage";
    t += "\r\n-------------------------------------------------------------\r\n";
    t += "|             Intra            |      Mode used   |\r\n";
    t += "-------------------------------------------------------------\r\n";
    t += zn::Format(" Mode 0  Intra(4x4)\t\t%d\r\n", s.mode_use_intra[9]);
    t += zn::Format(" Mode 1+ Intra(16x16)\t%d\r\n", s.mode_use_intra[10]);
    t += "\r\n-------------------------------------------------------------------\r\n";
    t += "|  Inter      |   Mode used   | MotionInfo bits |\r\n";
    t += "-------------------------------------------------------------------";
    const auto &pm = s.mode_use[0];
    const auto &pb = s.motion_bits[0];
    t += zn::Format("\r\n Mode 0  (copy)\t %5d\t%8.0f", pm[0], pb[0] / pCount);
    t += zn::Format("\r\n Mode 1  (16x16)\t %5d\t%8.0f", pm[1], pb[1] / pCount);
    t += zn::Format("\r\n Mode 2  (16x8)\t %5d\t%8.0f", pm[2], pb[2] / pCount);
    t += zn::Format("\r\n Mode 3  (8x16)\t %5d\t%8.0f", pm[3], pb[3] / pCount);
    t += zn::Format("\r\n Mode 4  (8x8)\t% 5d\t%8.0f", pm[8], pb[8] / pCount);
    t += zn::Format("\r\n Mode 5  Intra(4x4)\t %5d", pm[9]);
    t += zn::Format("\r\n Mode 6+ Intra(16x16) %5d", pm[10]);
    if (bCoded) {
        const auto &bm = s.mode_use[1];
        const auto &bb = s.motion_bits[1];
        t += "\r\n\r\n-------------------------------------------------------------------\r\n";
        t += " B frame   |   Mode used   |  MotionInfo bits\r\n";
        t += "-------------------------------------------------------------------";
        t += zn::Format("\r\n Mode 0  (copy)\t%5d\t%8.0f", bm[0], bb[0] / bCount);
        t += zn::Format("\r\n Mode 1  (16x16)\t%5d\t%8.0f", bm[1], bb[1] / bCount);
        t += zn::Format("\r\n Mode 2  (16x8)\t%5d\t%8.0f", bm[2], bb[2] / bCount);
        t += zn::Format("\r\n Mode 3  (8x16)\t%5d\t%8.0f", bm[3], bb[3] / bCount);
        t += zn::Format("\r\n Mode 4  (8x8)\t%5d\t%8.0f", bm[8], bb[8] / bCount);
        t += zn::Format("\r\n Mode 5  Intra(4x4)\t%5d", bm[9]);
        t += zn::Format("\r\n Mode 6+ Intra(16x16) %5d", bm[10]);
    }
    auto b = [&](const std::array<int, 5> &a) { return bCoded ? a[2] / bCount : 0.0; };
    auto pp = [&](const std::array<int, 5> &a) { return a[1] / pCount; };
    t += "\r\n\r\nEncoder bit usage bit category and per frame type";
    t += "\r\n-----------------------------------------------------------------\r\n";
    t += "|\t  Intra\t|  Inter\t|  B frame\t|\r\n";
    t += "-----------------------------------------------------------------\r\n";
    t += zn::Format(" Header\t  %8.0f\t%8.0f\t%8.0f\r\n", static_cast<double>(s.header_bits[0]),
                    pp(s.header_bits), b(s.header_bits));
    t += zn::Format(" Mode\t  %8.0f\t%8.0f\t%8.0f\r\n", static_cast<double>(s.mode_bits[0]), pp(s.mode_bits),
                    b(s.mode_bits));
    t += zn::Format(" Motion\t         -\t%8.0f\t%8.0f\r\n", MotionModes(s, 0) / pCount,
                    bCoded ? MotionModes(s, 1) / bCount : 0.0);
    t += zn::Format(" CBP Y/C\t  %8.0f\t%8.0f\t%8.0f\r\n", static_cast<double>(s.cbp_bits[0]), pp(s.cbp_bits),
                    b(s.cbp_bits));
    t += zn::Format(" Transform coefficients Y\r\n\t  %8.0f\t%8.0f\t%8.0f\r\n",
                    static_cast<double>(s.luma_bits[0]), pp(s.luma_bits), b(s.luma_bits));
    t += zn::Format(" Transform coefficients U/V\r\n\t  %8.0f\t%8.0f\t%8.0f\r\n",
                    static_cast<double>(s.chroma_bits[0]), pp(s.chroma_bits), b(s.chroma_bits));
    t += zn::Format(" Delta qnt\t  %8.0f\t%8.0f\t%8.0f\r\n", static_cast<double>(s.delta_quant_bits[0]),
                    pp(s.delta_quant_bits), b(s.delta_quant_bits));
    t += zn::Format(" Stuff bits\t  %8.0f\t%8.0f\t%8.0f\r\n", static_cast<double>(s.stuffing_bits[0]),
                    pp(s.stuffing_bits), b(s.stuffing_bits));
    const double iTotal = CategorySum(s, 0);
    const double pTotal = MotionSum(s, 0) + CategorySum(s, 1);
    const double bTotal = bCoded ? MotionSum(s, 1) + CategorySum(s, 2) : 0.0;
    t += zn::Format(" Aver/frm\t  %8.0f\t%8.0f\t%8.0f\r\n", iTotal, pTotal / pCount,
                    bCoded ? bTotal / bCount : 0.0);
    return t;
}

void h264enc_report(EncoderRun &run, const PictureLoop &loop, H264EncoderHost *host)
{
    if (!host)
        return;
    if (run.input.StoredBPictures <= 0)
        host->h264enc_show_statistics(RunStatistics(run, loop));
    host->h264enc_append_text(ModeAndBitUsageText(run, loop));
}

} // namespace h264enc
