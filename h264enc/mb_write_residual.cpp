// The residual of a macroblock: which 8x8 quarters and chroma parts carry coefficients (the coded block
// pattern; intra 16x16 carries it in its type), the quantiser change, then the luma blocks (the DC
// block first for intra 16x16) and the chroma DC and AC blocks, each a CAVLC block or, with CABAC, a
// series of (level, run) elements ended by a level of 0.
#include "h264enc/mb_write.h"

#include "h264enc/cabac_write.h"
#include "h264enc/cavlc_write.h"
#include "h264enc/enc_run.h"

namespace h264enc {

namespace {

// The (level, run) pairs of one block as CABAC elements, up to and including the level 0 that ends it
// (at most max_pairs elements).
int WritePairs(EncoderRun &run, const int *levels, const int *runs, int kind, int category, int max_pairs)
{
    int bits = 0;
    for (int k = 0; k < max_pairs; ++k) {
        SyntaxItem item;
        item.category = category;
        item.value = k == max_pairs - 1 ? 0 : levels[k];
        item.second_value = item.value ? runs[k] : 0;
        item.context = kind;
        item.write_fn = cabac_write_run_level;
        bits += write_syntax_element(run, item);
        if (item.value == 0)
            break;
    }
    return bits;
}

// CAVLC keeps the coefficient counts of a field macroblock of a macroblock-adaptive frame at its
// pair's row, as the decoder reads the residual in the field's view: while it lives the macroblock's
// row is that one (trial writes of the decision already run in that view).
class FieldCountRow
{
public:
    explicit FieldCountRow(EncoderRun &run) : m_img(run.img), m_row(run.img.mb_y)
    {
        if (!IsCabac(run) && m_img.mbaff && m_img.CurrentMb().field_pair_flag && !m_img.mbaff_field_view)
            m_img.mb_y /= 2;
    }
    ~FieldCountRow() { m_img.mb_y = m_row; }

private:
    EncoderImage &m_img;
    int m_row;
};

} // namespace

int write_luma_block_cabac(EncoderRun &run, int quarter, int block, int intra)
{
    EncoderImage &img = run.img;
    img.subblock_x = 2 * (quarter % 2) + block % 2;
    img.subblock_y = 2 * (quarter / 2) + block / 2;
    const int(*cof)[65] = img.cof.cofAC[quarter][block];
    const int bits =
        WritePairs(run, cof[0], cof[1], kKindLuma4x4, intra ? SE_LUM_AC_INTRA : SE_LUM_AC_INTER, 17);
    img.CurrentMb().bit_counts[kBitsLuma] += bits;
    return bits;
}

int write_luma_quarter(EncoderRun &run, int quarter, int intra)
{
    int bits = 0;
    for (int b = 0; b < 4; ++b)
        bits += IsCabac(run) ? write_luma_block_cabac(run, quarter, b, intra)
                             : writeCoeff4x4_CAVLC(run.input, run.img, kLuma, quarter, b, 0);
    return bits;
}

int write_cbp_qp_luma(EncoderRun &run)
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    const bool intra = IsIntraMacroblock(mb);
    int bits = 0;
    if (mb.mb_mode != kModeI16) {
        SyntaxItem item;
        item.category = intra ? SE_CBP_INTRA : SE_CBP_INTER;
        item.value = mb.coded_pattern;
        item.map = mb.mb_mode == kModeI4 || mb.mb_mode == kModeSI4 ? map_cbp_intra : map_cbp_inter;
        item.write_fn = cabac_write_cbp;
        const int b = write_syntax_element(run, item);
        mb.bit_counts[kBitsCbp] += b;
        bits += b;
    }
    if (mb.coded_pattern != 0 || mb.mb_mode == kModeI16) {
        SyntaxItem item;
        item.category = intra ? SE_DELTA_QUANT_INTRA : SE_DELTA_QUANT_INTER;
        item.value = mb.qp_delta;
        item.map = map_se;
        item.write_fn = cabac_write_dquant;
        const int b = write_syntax_element(run, item);
        mb.bit_counts[kBitsDeltaQuant] += b;
        bits += b;
    }
    const FieldCountRow row(run);
    if (!img.nzcoeff.empty())
        for (int j = 0; j < 6; ++j)
            for (int i = 0; i < 4; ++i)
                img.nzcoeff.at(img.mb_x, img.mb_y, i, j) = 0;

    const int before = mb.bit_counts[kBitsLuma];
    if (mb.mb_mode != kModeI16) {
        for (int q = 0; q < 4; ++q)
            if (mb.coded_pattern & (1 << q))
                write_luma_quarter(run, q, intra ? 1 : 0);
        return bits + mb.bit_counts[kBitsLuma] - before;
    }
    if (IsCabac(run)) {
        img.subblock_x = img.subblock_y = 0;
        mb.bit_counts[kBitsLuma] +=
            WritePairs(run, img.cof.cofDC[0][0], img.cof.cofDC[0][1], kKindLuma16DC, SE_LUM_DC_INTRA, 17);
    } else {
        writeCoeff4x4_CAVLC(run.input, img, kLum16DC, 0, 0, 0);
    }
    if (mb.coded_pattern & 15)
        for (int q = 0; q < 4; ++q)
            for (int b = 0; b < 4; ++b) {
                if (IsCabac(run)) {
                    img.subblock_x = 2 * (q % 2) + b % 2;
                    img.subblock_y = 2 * (q / 2) + b / 2;
                    mb.bit_counts[kBitsLuma] +=
                        WritePairs(run, img.cof.cofAC[q][b][0], img.cof.cofAC[q][b][1], kKindLuma16AC,
                                   SE_LUM_AC_INTRA, 16);
                } else {
                    writeCoeff4x4_CAVLC(run.input, img, kLum16AC, q, b, 0);
                }
            }
    return bits + mb.bit_counts[kBitsLuma] - before;
}

int write_chroma_blocks(EncoderRun &run)
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    const bool intra = IsIntraMacroblock(mb);
    const int cp = mb.coded_pattern;
    const int before = mb.bit_counts[kBitsChroma];
    const FieldCountRow row(run);
    if (cp >= 16)
        for (int plane = 0; plane < 2; ++plane) {
            if (IsCabac(run)) {
                img.subblock_x = img.subblock_y = 0;
                img.chroma_plane = plane;
                mb.bit_counts[kBitsChroma] +=
                    WritePairs(run, img.cof.cofDC[1 + plane][0], img.cof.cofDC[1 + plane][1], kKindChromaDC,
                               intra ? SE_CHR_DC_INTRA : SE_CHR_DC_INTER, 5);
            } else {
                writeCoeff4x4_CAVLC(run.input, img, kChrDC, 0, 0, plane);
            }
        }
    if (cp >= 32 && cp < 48)
        for (int plane = 0; plane < 2; ++plane)
            for (int b = 0; b < 4; ++b) {
                if (IsCabac(run)) {
                    img.subblock_x = b % 2;
                    img.subblock_y = b / 2;
                    img.chroma_plane = plane;
                    mb.bit_counts[kBitsChroma] +=
                        WritePairs(run, img.cof.cofAC[4 + plane][b][0], img.cof.cofAC[4 + plane][b][1],
                                   kKindChromaAC, intra ? SE_CHR_AC_INTRA : SE_CHR_AC_INTER, 16);
                } else {
                    writeCoeff4x4_CAVLC(run.input, img, kChrAC, 4 + plane, b,
                                        ((2 * plane + b % 2) << 4) | (4 + b / 2));
                }
            }
    return mb.bit_counts[kBitsChroma] - before;
}

} // namespace h264enc
