// Rate control of the Test Model 5 kind. A GOP's bit budget is shared among I, P and B pictures by
// their measured complexities; one virtual buffer per picture type turns overspending into a coarser
// quantiser; and each macroblock's quantiser is scaled by its spatial activity, because errors in
// busy areas are masked and those in flat areas are not. The VBV model gives each picture's delay.
#include "mpeg/mpgenc/mpgenc.h"

#include <algorithm>
#include <cmath>

namespace {

int RoundHalfUp(double x)
{
    return static_cast<int>(std::floor(x + 0.5));
}

// The sums are of whole numbers far below 2^53, so summing them as integers (which vectorises) gives
// the very doubles a sum in doubles would.
double Variance8(const uint8_t *p, int stride)
{
    int s1 = 0, s2 = 0;
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i) {
            const int v = p[j * stride + i];
            s1 += v;
            s2 += v * v;
        }
    const double d1 = s1, d2 = s2;
    return d2 / 64.0 - (d1 / 64.0) * (d1 / 64.0);
}

} // namespace

void MpegEncoder::RcInitSequence()
{
    RateControlState &rc = m_rc;
    const double br = m_s.bit_rate, fr = m_s.frame_rate;
    if (rc.r == 0)
        rc.r = RoundHalfUp(2.0 * br / fr);
    if (rc.avg_act == 0.0)
        rc.avg_act = 400.0;
    rc.R = 0;
    if (rc.Xi == 0)
        rc.Xi = RoundHalfUp(br * 160.0 / 115.0);
    if (rc.Xp == 0)
        rc.Xp = RoundHalfUp(br * 60.0 / 115.0);
    if (rc.Xb == 0)
        rc.Xb = RoundHalfUp(br * 42.0 / 115.0);
    if (rc.d0i == 0)
        rc.d0i = RoundHalfUp(10.0 * rc.r / 31.0);
    if (rc.d0p == 0)
        rc.d0p = RoundHalfUp(10.0 * rc.r / 31.0);
    if (rc.d0b == 0)
        rc.d0b = RoundHalfUp(14.0 * rc.r / 31.0);
    rc.decoding_time = 0.0;
    rc.next_ip_delay = 0.0;
}

void MpegEncoder::RcInitGop(int np, int nb)
{
    RateControlState &rc = m_rc;
    rc.R += RoundHalfUp((1 + np + nb) * m_s.bit_rate / m_s.frame_rate);
    rc.Np = m_s.fieldpic ? 2 * np + 1 : np;
    rc.Nb = m_s.fieldpic ? 2 * nb : nb;
}

void MpegEncoder::RcInitPicture(const uint8_t *luma)
{
    RateControlState &rc = m_rc;
    const MpegEncoderState &s = m_s;
    const double Xi = rc.Xi, Xp = rc.Xp, Xb = rc.Xb;
    switch (s.pict_type) {
    case I_TYPE:
        rc.T = RoundHalfUp(rc.R / (1.0 + rc.Np * Xp / Xi + rc.Nb * Xb / (1.4 * Xi)));
        rc.d = rc.d0i;
        break;
    case P_TYPE:
        rc.T = RoundHalfUp(rc.R / (rc.Np + rc.Nb * Xb / (1.4 * Xp)));
        rc.d = rc.d0p;
        break;
    default:
        rc.T = RoundHalfUp(rc.R / (rc.Nb + 1.4 * rc.Np * Xp / Xb));
        rc.d = rc.d0b;
        break;
    }
    rc.T = std::max(rc.T, RoundHalfUp(s.bit_rate / (8.0 * s.frame_rate)));
    rc.S = BitCount();
    rc.Q = 0;
    rc.actsum = 0.0;

    const int stride = s.width2;
    const uint8_t *base = luma + (s.pict_struct == BOTTOM_FIELD ? s.width : 0);
    for (int j = 0, k = 0; j < s.height2; j += 16)
        for (int i = 0; i < s.width; i += 16, ++k) {
            const uint8_t *p = base + i + static_cast<size_t>(j) * stride;
            double var = std::min({Variance8(p, stride), Variance8(p + 8, stride),
                                   Variance8(p + 8 * stride, stride), Variance8(p + 8 * stride + 8, stride)});
            if (!s.fieldpic && !s.prog_seq) {
                const int fs = 2 * s.width;
                var = std::min({var, Variance8(p, fs), Variance8(p + 8, fs), Variance8(p + s.width, fs),
                                Variance8(p + s.width + 8, fs)});
            }
            m_mbinfo[k].act = 1.0 + var;
        }
}

int MpegEncoder::RcStartMquant()
{
    int mquant = 2 * RoundHalfUp(31.0 * m_rc.d / m_rc.r);
    mquant = std::clamp(mquant, 2, 62);
    m_rc.prev_mquant = mquant;
    return mquant;
}

int MpegEncoder::RcMquant(int k)
{
    RateControlState &rc = m_rc;
    const MpegEncoderState &s = m_s;
    const long long dj =
        rc.d + (BitCount() - rc.S) - static_cast<long long>(k) * (rc.T / (s.mb_width * s.mb_height2));
    const double Qj = dj * 31.0 / rc.r;
    const double actj = m_mbinfo[k].act;
    rc.actsum += actj;
    const double nAct = (2.0 * actj + rc.avg_act) / (actj + 2.0 * rc.avg_act);
    int mquant = 2 * RoundHalfUp(Qj * nAct);
    mquant = std::clamp(mquant, 2, 62);
    // Hysteresis: small changes of a coarse quantiser cost a quantiser code and buy nothing visible.
    if (mquant >= 8 && std::abs(mquant - rc.prev_mquant) <= 4)
        mquant = rc.prev_mquant;
    rc.prev_mquant = mquant;
    rc.Q += mquant;
    return mquant;
}

void MpegEncoder::RcUpdatePicture()
{
    RateControlState &rc = m_rc;
    const MpegEncoderState &s = m_s;
    const int mbs = s.mb_width * s.mb_height2;
    rc.S = BitCount() - rc.S;
    rc.R -= static_cast<int>(rc.S);
    const int X = RoundHalfUp(rc.S * 0.5 * rc.Q / mbs);
    rc.d += static_cast<int>(rc.S) - rc.T;
    rc.avg_act = rc.actsum / mbs;
    switch (s.pict_type) {
    case I_TYPE:
        rc.Xi = X;
        rc.d0i = rc.d;
        break;
    case P_TYPE:
        rc.Xp = X;
        rc.d0p = rc.d;
        rc.Np--;
        break;
    default:
        rc.Xb = X;
        rc.d0b = rc.d;
        rc.Nb--;
        break;
    }
    rc.bitsPerPixel =
        static_cast<float>(static_cast<double>(rc.S) / (static_cast<double>(s.width) * s.height));
}

void MpegEncoder::VbvDelay()
{
    RateControlState &rc = m_rc;
    MpegEncoderState &s = m_s;
    const double F = s.frame_rate;
    auto bDelay = [&]() {
        if (s.prog_seq)
            return s.repeatfirst ? (s.topfirst ? 270000.0 : 180000.0) / F : 90000.0 / F;
        if (s.fieldpic)
            return 90000.0 / (2.0 * F);
        return (s.repeatfirst ? 270000.0 : 180000.0) / (2.0 * F);
    };
    double pictureDelay;
    if (s.pict_type == B_TYPE) {
        pictureDelay = bDelay();
    } else {
        const bool firstField =
            s.pict_struct != FRAME_PICTURE &&
            ((s.topfirst && s.pict_struct == TOP_FIELD) || (!s.topfirst && s.pict_struct == BOTTOM_FIELD));
        if (s.pict_struct == FRAME_PICTURE)
            pictureDelay = rc.next_ip_delay;
        else if (firstField)
            pictureDelay = 90000.0 / (2.0 * F);
        else
            pictureDelay = rc.next_ip_delay - 90000.0 / (2.0 * F);
        if (!firstField)
            rc.next_ip_delay = bDelay();
    }
    if (rc.decoding_time == 0.0) {
        // The buffer starts seven eighths full.
        pictureDelay = ((s.vbv_buffer_size * 16384 * 7) / 8) * 90000.0 / s.bit_rate;
        if (s.fieldpic)
            rc.next_ip_delay = std::floor(90000.0 / F + 0.5);
    }
    rc.decoding_time += pictureDelay;
    const double delay = rc.decoding_time - BitCount() * 90000.0 / s.bit_rate;
    s.vbv_delay = static_cast<int>(std::clamp(delay, 0.0, 65535.0));
}
