// Coding of one picture: per macroblock the quantiser from the rate control, quantisation, the final
// macroblock type (coded blocks, quantiser change, skipping) and the variable-length codes. Slices
// hold one macroblock row each, so a damaged row costs at most that row.
#include "mpeg/mpgenc/mpgenc.h"

#include "mpeg/mpgenc/mpgenc_quant.h"
#include "mpeg/mpgenc/mpgenc_tables.h"
#include "platform/messages.h"

#include <array>
#include <cstdlib>

void MpegEncoder::WriteAddressIncrement(int a)
{
    while (a > 33) {
        WriteBits(0x08, 11); // escape: 33 more
        a -= 33;
    }
    WriteBits(kAddrIncTab[a].code, kAddrIncTab[a].len);
}

void MpegEncoder::WriteMbType(int pictType, int mbType)
{
    const int t = mbType & (MB_INTRA | MB_PATTERN | MB_BACKWARD | MB_FORWARD | MB_QUANT);
    struct Entry
    {
        int flags;
        VlcCode code;
    };
    static const Entry kI[] = {{MB_INTRA, {1, 1}}, {MB_INTRA | MB_QUANT, {1, 2}}};
    static const Entry kP[] = {{MB_FORWARD | MB_PATTERN, {1, 1}},
                               {MB_PATTERN, {1, 2}},
                               {MB_FORWARD, {1, 3}},
                               {MB_INTRA, {3, 5}},
                               {MB_FORWARD | MB_PATTERN | MB_QUANT, {2, 5}},
                               {MB_PATTERN | MB_QUANT, {1, 5}},
                               {MB_INTRA | MB_QUANT, {1, 6}}};
    static const Entry kB[] = {{MB_FORWARD | MB_BACKWARD, {2, 2}},
                               {MB_FORWARD | MB_BACKWARD | MB_PATTERN, {3, 2}},
                               {MB_BACKWARD, {2, 3}},
                               {MB_BACKWARD | MB_PATTERN, {3, 3}},
                               {MB_FORWARD, {2, 4}},
                               {MB_FORWARD | MB_PATTERN, {3, 4}},
                               {MB_INTRA, {3, 5}},
                               {MB_FORWARD | MB_BACKWARD | MB_PATTERN | MB_QUANT, {2, 5}},
                               {MB_FORWARD | MB_PATTERN | MB_QUANT, {3, 6}},
                               {MB_BACKWARD | MB_PATTERN | MB_QUANT, {2, 6}},
                               {MB_INTRA | MB_QUANT, {1, 6}}};
    const Entry *begin = pictType == I_TYPE ? kI : pictType == P_TYPE ? kP : kB;
    const int n = pictType == I_TYPE ? 2 : pictType == P_TYPE ? 7 : 11;
    for (int e = 0; e < n; ++e)
        if (begin[e].flags == t) {
            WriteBits(begin[e].code.code, begin[e].code.len);
            return;
        }
}

void MpegEncoder::WriteMotionCode(int code)
{
    const int a = std::abs(code);
    WriteBits(kMotionCodeTab[a].code, kMotionCodeTab[a].len);
    if (code != 0)
        WriteBits(code < 0 ? 1 : 0, 1);
}

void MpegEncoder::WriteMotionVector(int d, int fcode)
{
    const int rsize = fcode - 1;
    const int f = 1 << rsize;
    const int vmin = -16 * f, vmax = 16 * f - 1;
    // Vectors wrap around the range of the f_code: the decoder adds modulo 32 f.
    if (d > vmax)
        d -= 32 * f;
    else if (d < vmin)
        d += 32 * f;
    if (d > vmax)
        d = vmax;
    else if (d < vmin)
        d = vmin;
    const int t = std::abs(d) + f - 1;
    const int motionCode = d < 0 ? -(t >> rsize) : (t >> rsize);
    WriteMotionCode(motionCode);
    if (rsize > 0 && motionCode != 0)
        WriteBits(t & (f - 1), rsize);
}

void MpegEncoder::WriteDualPrimeVector(int value)
{
    if (value == 0)
        WriteBits(0, 1);
    else
        WriteBits(value > 0 ? 2 : 3, 2);
}

void MpegEncoder::WriteMotionVectors(const MacroblockRecord &mb, int s, int fh, int fv)
{
    // Each vector is sent as its difference to a predictor, the previous vector of the slice. Field
    // vectors of frame pictures keep frame units in the predictors and travel in field units.
    const bool frame = m_s.pict_struct == FRAME_PICTURE;
    auto vector = [&](int r, bool fieldInFrame) {
        WriteMotionVector(mb.MV[r][s][0] - m_pmv[r][s][0], fh);
        if (fieldInFrame)
            WriteMotionVector((mb.MV[r][s][1] >> 1) - (m_pmv[r][s][1] >> 1), fv);
        else
            WriteMotionVector(mb.MV[r][s][1] - m_pmv[r][s][1], fv);
    };
    auto keep = [&](int r, int from) {
        m_pmv[r][s][0] = mb.MV[from][s][0];
        m_pmv[r][s][1] = mb.MV[from][s][1];
    };
    const bool two = frame ? mb.motion_type == MC_FIELD : mb.motion_type == MC_16X8;
    if (two) {
        // Two vectors, each with its reference field.
        for (int r = 0; r < 2; ++r) {
            WriteBits(mb.mv_field_sel[r][s], 1);
            vector(r, frame);
            keep(r, r);
        }
        return;
    }
    if (mb.motion_type == MC_DMV) {
        const int p0 = m_pmv[0][s][0], p1 = m_pmv[0][s][1];
        WriteMotionVector(mb.MV[0][s][0] - p0, fh);
        WriteDualPrimeVector(mb.dmvector[0]);
        WriteMotionVector(frame ? (mb.MV[0][s][1] >> 1) - (p1 >> 1) : mb.MV[0][s][1] - p1, fv);
        WriteDualPrimeVector(mb.dmvector[1]);
    } else if (frame) {
        vector(0, false);
    } else {
        WriteBits(mb.mv_field_sel[0][s], 1);
        vector(0, false);
    }
    // One vector predicts both of the next ones.
    keep(0, 0);
    keep(1, 0);
}

void MpegEncoder::WriteCbp(int cbp)
{
    WriteBits(kCbpTab[cbp].code, kCbpTab[cbp].len);
}

void MpegEncoder::WriteDcDiff(int value, bool luminance)
{
    const int absval = std::abs(value);
    if (absval >= (m_s.mpeg1 ? 256 : 2048))
        zn::ShowMessage(zn::Format("MpegEncoder::putAC - DC value out of range (%d)\n", value));
    int size = 0;
    for (int v = absval; v; v >>= 1)
        ++size;
    size = size > 11 ? 11 : size;
    const VlcCode &c = luminance ? kDcLumTab[size] : kDcChromTab[size];
    WriteBits(c.code, c.len);
    if (size > 0)
        WriteBits(static_cast<uint32_t>(value >= 0 ? value : value + (1 << size) - 1), size);
}

void MpegEncoder::putAC(int run, int level, int vlcformat)
{
    const int absl = std::abs(level);
    if (run < 0 || run > 63 || level == 0 || absl > 2047 || (m_s.mpeg1 && absl > 255)) {
        zn::ShowMessage(
            zn::Format("MpegEncoder::putAC - AC value out of range (run=%d, signed_level=%d)\n", run, level));
    }
    const VlcCode *c = nullptr;
    if ((run <= 1 && absl <= 40) || (run <= 31 && absl <= 5))
        c = vlcformat ? DctCodeTable1(run, absl) : DctCodeTable0(run, absl);
    if (c) {
        WriteBits((static_cast<uint32_t>(c->code) << 1) | (level < 0 ? 1 : 0), c->len + 1); // code, sign
        return;
    }
    WriteBits(1, 6); // escape
    WriteBits(static_cast<uint32_t>(run) & 63, 6);
    if (!m_s.mpeg1) {
        WriteBits(static_cast<uint32_t>(level) & 0xFFF, 12);
    } else if (level >= 128) {
        WriteBits(0, 8);
        WriteBits(static_cast<uint32_t>(level) & 0xFF, 8);
    } else if (level <= -128) {
        WriteBits(128, 8);
        WriteBits(static_cast<uint32_t>(level) & 0xFF, 8);
    } else {
        WriteBits(static_cast<uint32_t>(level) & 0xFF, 8);
    }
}

void MpegEncoder::WriteFirstAC(int run, int level)
{
    if (run == 0 && (level == 1 || level == -1))
        WriteBits(level < 0 ? 3 : 2, 2);
    else
        putAC(run, level, 0);
}

namespace {

// Bit n set for each non-zero coefficient at scan position n (zig-zag order), so that the block
// writers visit only the coefficients they send.
uint64_t ScanMask(const int16_t *blk)
{
    static const auto scanPosition = [] {
        std::array<uint8_t, 64> pos{};
        for (int n = 0; n < 64; ++n)
            pos[kZigZag[n]] = static_cast<uint8_t>(n);
        return pos;
    }();
    uint64_t natural = 0;
    for (int i = 0; i < 64; ++i)
        natural |= static_cast<uint64_t>(blk[i] != 0) << i;
    uint64_t scan = 0;
    for (; natural; natural &= natural - 1)
        scan |= uint64_t{1} << scanPosition[static_cast<size_t>(__builtin_ctzll(natural))];
    return scan;
}

} // namespace

void MpegEncoder::WriteIntraBlock(const int16_t *blk, int cc)
{
    const int diff = blk[0] - m_dcPred[cc];
    m_dcPred[cc] = blk[0];
    WriteDcDiff(diff, cc == 0);
    // Each non-zero coefficient after the DC, with the zeros before it as its run.
    int last = 0;
    for (uint64_t mask = ScanMask(blk) & ~uint64_t{1}; mask; mask &= mask - 1) {
        const int n = __builtin_ctzll(mask);
        putAC(n - last - 1, blk[kZigZag[n]], m_s.intravlc);
        last = n;
    }
    if (m_s.intravlc)
        WriteBits(6, 4);
    else
        WriteBits(2, 2);
}

void MpegEncoder::WriteNonIntraBlock(const int16_t *blk)
{
    int last = -1;
    for (uint64_t mask = ScanMask(blk); mask; mask &= mask - 1) {
        const int n = __builtin_ctzll(mask);
        if (last < 0)
            WriteFirstAC(n, blk[kZigZag[n]]);
        else
            putAC(n - last - 1, blk[kZigZag[n]], 0);
        last = n;
    }
    WriteBits(2, 2);
}

void MpegEncoder::CodePicture(const uint8_t *luma)
{
    MpegEncoderState &s = m_s;
    RcInitPicture(luma);
    WritePictureHeader();
    if (!s.mpeg1) {
        WritePictureCodingExtension();
        WriteQuantMatrixExtension();
    }
    const bool frame = s.pict_struct == FRAME_PICTURE;
    const int parity = s.pict_struct == BOTTOM_FIELD ? 1 : 0;
    int prevMquant = RcStartMquant();
    FastQuantiser intraQuant(s.intra_q), interQuant(s.inter_q);
    int addrInc = 1;
    const bool mpeg1 = s.mpeg1 != 0;
    for (int r = 0, k = 0; r < s.mb_height2; ++r)
        for (int i = 0; i < s.mb_width; ++i, ++k) {
            MacroblockRecord &mb = m_mbinfo[k];
            if (i == 0) {
                AlignBits();
                if (!s.mpeg1 && s.vertical_size > 2800) {
                    WriteBits(0x100 + 1 + (r & 127), 32);
                    WriteBits(r >> 7, 3);
                } else {
                    WriteBits(0x100 + 1 + r, 32);
                }
                WriteBits(prevMquant / 2, 5);
                WriteBits(0, 1);
                m_dcPred[0] = m_dcPred[1] = m_dcPred[2] = 0;
                for (auto &a : m_pmv)
                    for (auto &b : a)
                        b[0] = b[1] = 0;
                addrInc = 1;
            }
            int mbType = mb.mb_type;
            const int mquant = RcMquant(k);
            mb.mquant = mquant;
            int16_t *blocks = m_blocks.data() + static_cast<size_t>(k) * s.block_count * 64;
            int cbp = 0;
            if (mbType & MB_INTRA) {
                for (int b = 0; b < s.block_count; ++b)
                    intraQuant.Intra(blocks + 64 * b, blocks + 64 * b, s.dc_prec, mquant, mpeg1);
                cbp = (1 << s.block_count) - 1;
            } else {
                for (int b = 0; b < s.block_count; ++b)
                    cbp = (cbp << 1) | interQuant.NonIntra(blocks + 64 * b, blocks + 64 * b, mquant, mpeg1);
                if (cbp)
                    mbType |= MB_PATTERN;
            }
            mb.cbp = cbp;
            if (cbp && mquant != prevMquant)
                mbType |= MB_QUANT;

            if (i != 0 && i != s.mb_width - 1 && !cbp) {
                bool skip = false;
                if (s.pict_type == P_TYPE && !(mbType & MB_FORWARD)) {
                    skip = true;
                    m_dcPred[0] = m_dcPred[1] = m_dcPred[2] = 0;
                    for (auto &a : m_pmv)
                        for (auto &b : a)
                            b[0] = b[1] = 0;
                } else if (s.pict_type == B_TYPE && !(mbType & MB_INTRA) &&
                           mb.motion_type == (frame ? MC_FRAME : MC_FIELD)) {
                    // A skipped B macroblock repeats the previous one's directions with the
                    // predicted vectors; in a field picture it predicts from the same-parity fields.
                    const MacroblockRecord &prev = m_mbinfo[k - 1];
                    const int dirs = MB_FORWARD | MB_BACKWARD;
                    skip = ((prev.mb_type ^ mbType) & dirs) == 0;
                    for (int d = 0; d < 2 && skip; ++d) {
                        if (!(mbType & (d ? MB_BACKWARD : MB_FORWARD)))
                            continue;
                        skip = mb.MV[0][d][0] == m_pmv[0][d][0] && mb.MV[0][d][1] == m_pmv[0][d][1] &&
                               (frame || mb.mv_field_sel[0][d] == parity);
                    }
                }
                if (skip) {
                    mb.mb_type = mbType;
                    mb.skipped = 1;
                    ++addrInc;
                    continue;
                }
            }
            mb.skipped = 0;
            // A P macroblock without coefficients still needs a type: forward with a zero vector.
            if (s.pict_type == P_TYPE && !cbp && !(mbType & MB_FORWARD)) {
                mbType |= MB_FORWARD;
                mb.MV[0][0][0] = mb.MV[0][0][1] = 0;
                mb.mv_field_sel[0][0] = parity;
            }
            WriteAddressIncrement(addrInc);
            addrInc = 1;
            WriteMbType(s.pict_type, mbType);
            if ((mbType & (MB_FORWARD | MB_BACKWARD)) && !s.frame_pred_dct)
                WriteBits(mb.motion_type, 2);
            if (frame && cbp && !s.frame_pred_dct)
                WriteBits(mb.dct_type, 1);
            if (mbType & MB_QUANT) {
                WriteBits(mquant / 2, 5);
                prevMquant = mquant;
            }
            if (mbType & MB_FORWARD)
                WriteMotionVectors(mb, 0, s.forw_hor_f_code, s.forw_vert_f_code);
            if (mbType & MB_BACKWARD)
                WriteMotionVectors(mb, 1, s.back_hor_f_code, s.back_vert_f_code);
            if (mbType & MB_PATTERN)
                WriteCbp(cbp & 63);
            for (int b = 0; b < s.block_count; ++b) {
                if (!(cbp & (1 << (s.block_count - 1 - b))))
                    continue;
                if (mbType & MB_INTRA)
                    WriteIntraBlock(blocks + 64 * b, b < 4 ? 0 : 1 + (b & 1));
                else
                    WriteNonIntraBlock(blocks + 64 * b);
            }
            if (!(mbType & MB_INTRA))
                m_dcPred[0] = m_dcPred[1] = m_dcPred[2] = 0;
            if ((mbType & MB_INTRA) || (s.pict_type == P_TYPE && !(mbType & MB_FORWARD)))
                for (auto &a : m_pmv)
                    for (auto &b : a)
                        b[0] = b[1] = 0;
            mb.mb_type = mbType;
        }
    RcUpdatePicture();
}
