// Picture data, block layer: DC differentials, run/level coefficient codes and inverse
// quantisation of both standards, then saturation, mismatch control and the inverse transform of
// each block of a macroblock.
#include "mpeg/mpgdec/mpgdec_picture.h"

#include "mpeg/mpgdec/mpgdec_vlc.h"
#include "platform/log.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace zn {

namespace {

inline short Saturate(int v)
{
    return static_cast<short>(std::clamp(v, -2048, 2047));
}

// MPEG-1 keeps reconstructed coefficients odd, away from zero: the decoder's and the encoder's
// inverse transforms then drift apart more slowly (MPEG-2 toggles one coefficient instead). A product
// that rounds to 0 (matrix entries below 8) comes out as -1 before its sign, as other decoders of
// these streams read it.
inline int Oddify(int v)
{
    return (v - 1) | 1;
}

} // namespace

// One run/level pair of either standard, escapes included. A position past the block's end counts as
// an invalid code, like a code the table does not hold.
MpegPictureDecoder::CoefficientRead MpegPictureDecoder::ReadRunLevel(const mpgvlc::Table &table, int i,
                                                                     const char *reader, int &pos, int &level,
                                                                     bool &negative)
{
    const mpgvlc::Entry &e = table.Look(d.mpgdec_showbits(32));
    if (!e.len) {
        LogF(LogLevel::Error, "invalid Huffman code in %s()\n", reader);
        fault = true;
        return CoefficientRead::Fault;
    }
    int run;
    if (e.value == mpgvlc::kEob) {
        d.mpgdec_flushbits(e.len);
        return CoefficientRead::EndOfBlock;
    }
    if (e.value == mpgvlc::kEscapeCode) {
        d.mpgdec_flushbits(e.len);
        run = static_cast<int>(d.mpgdec_getbits(6));
        if (ld.mpeg2) {
            int v = static_cast<int>(d.mpgdec_getbits(12));
            if ((v & 2047) == 0) {
                LogF(LogLevel::Error, "invalid signed_level (escape) in %s()\n", reader);
                fault = true;
                return CoefficientRead::Fault;
            }
            level = v >= 2048 ? v - 4096 : v;
        } else {
            int v = static_cast<int>(d.mpgdec_getbits(8));
            if (v == 0)
                level = static_cast<int>(d.mpgdec_getbits(8));
            else if (v == 128)
                level = static_cast<int>(d.mpgdec_getbits(8)) - 256;
            else
                level = v > 128 ? v - 256 : v;
        }
        negative = level < 0;
        level = std::abs(level);
    } else {
        d.mpgdec_flushbits(e.len);
        run = e.run;
        level = e.value;
        negative = d.mpgdec_getbit();
    }
    pos = i + run;
    if (pos > 63) {
        LogF(LogLevel::Error, "invalid Huffman code in %s()\n", reader);
        fault = true;
        return CoefficientRead::Fault;
    }
    return CoefficientRead::Coefficient;
}

// The run/level pairs of a block from position i to its end of block, each coefficient dequantised
// at its natural position j by dequant(level, j). The first pair may use a code table of its own.
template <typename Dequant>
void MpegPictureDecoder::ReadAcCoefficients(short *bp, int i, const mpgvlc::Table &firstTable,
                                            const mpgvlc::Table &table, const uint8_t *scan,
                                            const char *reader, Dequant dequant)
{
    for (const mpgvlc::Table *t = &firstTable;; t = &table) {
        int pos, level;
        bool negative;
        if (ReadRunLevel(*t, i, reader, pos, level, negative) != CoefficientRead::Coefficient)
            return;
        const int j = scan[pos];
        const int v = dequant(level, j);
        // MPEG-1 products reach 2^18; held to 12 bits they stay within the transform's 16-bit rows.
        bp[j] = Saturate(negative ? -v : v);
        i = pos + 1;
    }
}

// The DC differential of an intra block, accumulated in its component's predictor. Returns the
// component (0 Y, 1 Cb, 2 Cr), or -1 after an invalid size code.
int MpegPictureDecoder::ReadIntraDc(int comp)
{
    const int cc = comp < 4 ? 0 : (comp & 1) ? 2 : 1;
    const mpgvlc::Entry &dc = mpgvlc::DcSize(cc != 0).Look(d.mpgdec_showbits(32));
    if (!dc.len) {
        fault = true;
        return -1;
    }
    d.mpgdec_flushbits(dc.len);
    const int size = dc.value;
    if (size) {
        int v = static_cast<int>(d.mpgdec_getbits(size));
        if (!(v & (1 << (size - 1))))
            v = v - (1 << size) + 1;
        dcPred[cc] = std::clamp(dcPred[cc] + v, -(1 << 16), 1 << 16);
    }
    return cc;
}

// Chroma blocks have matrices of their own only in 4:2:2 and 4:4:4.
const int *MpegPictureDecoder::IntraMatrix(int cc) const
{
    return (cc != 0 && d.chroma_format != 1) ? ld.chroma_intra_quantizer_matrix : ld.intra_quantizer_matrix;
}

const int *MpegPictureDecoder::NonIntraMatrix(int comp) const
{
    return (comp >= 4 && d.chroma_format != 1) ? ld.chroma_non_intra_quantizer_matrix
                                               : ld.non_intra_quantizer_matrix;
}

void MpegPictureDecoder::getintrablock(int comp)
{
    const int cc = ReadIntraDc(comp);
    if (cc < 0)
        return;
    short *bp = ld.block[comp];
    bp[0] = Saturate(dcPred[cc] * 8);
    const int *w = IntraMatrix(cc);
    const int q = ld.quantizer_scale;
    const mpgvlc::Table &table = mpgvlc::Coefficients(false, false);
    ReadAcCoefficients(bp, 1, table, table, kMpegZigZag, "getintrablock",
                       [&](int level, int j) { return Oddify((level * q * w[j]) >> 3); });
}

void MpegPictureDecoder::getinterblock(int comp)
{
    const int *w = NonIntraMatrix(comp);
    const int q = ld.quantizer_scale;
    ReadAcCoefficients(ld.block[comp], 0, mpgvlc::Coefficients(true, false),
                       mpgvlc::Coefficients(false, false), kMpegZigZag, "getinterblock",
                       [&](int level, int j) { return Oddify(((2 * level + 1) * w[j] * q) >> 4); });
}

void MpegPictureDecoder::getmpg2intrablock(int comp)
{
    const int cc = ReadIntraDc(comp);
    if (cc < 0)
        return;
    short *bp = ld.block[comp];
    bp[0] = Saturate(dcPred[cc] * (1 << (3 - d.intra_dc_precision)));
    const int *w = IntraMatrix(cc);
    const int q = ld.quantizer_scale;
    const mpgvlc::Table &table = mpgvlc::Coefficients(false, d.intra_vlc_format);
    ReadAcCoefficients(bp, 1, table, table, ld.alternate_scan ? kMpegAlternateScan : kMpegZigZag,
                       "getmpg2intrablock", [&](int level, int j) { return (w[j] * q * level) >> 4; });
}

void MpegPictureDecoder::getmpg2interblock(int comp)
{
    const int *w = NonIntraMatrix(comp);
    const int q = ld.quantizer_scale;
    ReadAcCoefficients(ld.block[comp], 0, mpgvlc::Coefficients(true, false),
                       mpgvlc::Coefficients(false, false),
                       ld.alternate_scan ? kMpegAlternateScan : kMpegZigZag, "getmpg2interblock",
                       [&](int level, int j) { return ((2 * level + 1) * w[j] * q) >> 5; });
}

void MpegPictureDecoder::Reconstruct(int mba, bool skipped, int cbp)
{
    const bool bSkipped = d.picture_coding_type == 3 && d.skip_b_frames;
    if (bSkipped)
        return;
    int bx = 16 * (mba % d.mb_width);
    int by = 16 * (mba / d.mb_width);
    bool intra = macroblock_type & kMbIntra;
    if (!intra)
        mpgdec_mcpredict(bx, by);
    if (skipped)
        return; // a skipped macroblock is its prediction, in every output mode
    for (int comp = 0; comp < d.block_count; ++comp) {
        short *bp = ld.block[comp];
        bool coded = cbp & (1 << (d.block_count - 1 - comp));
        if (!coded && !intra && d.output_mode == 0 && (!ld.mpeg2 || d.m_mismatchOnlyBlockIsZero))
            continue; // adds nothing to the prediction
        if (ld.mpeg2) {
            // Mismatch control: an odd coefficient sum keeps the inverse transforms of encoder and
            // decoder from rounding a half the same wrong way, picture after picture.
            int sum = 0;
            for (int k = 0; k < 64; ++k)
                sum += bp[k];
            if ((sum & 1) == 0)
                bp[63] = static_cast<short>(bp[63] ^ 1);
        }
        CMpegDecoder::InverseDct(bp);
        mpgdec_blocktoframe(comp, bx, by, !intra);
    }
}

} // namespace zn
