// Residual levels: the coded block pattern says which 8x8 quadrants (and which chroma parts) carry
// coefficients, each 4x4 block's levels come in scan order from low to high frequency, and
// dequantisation multiplies each level by a scale that doubles every six quantiser steps.
#include "h264dec/macroblock.h"

#include "h264dec/cabac_read.h"
#include "h264dec/cavlc_read.h"
#include "platform/format.h"

#include <algorithm>

const int kFrameScan[16][2] = {{0, 0}, {1, 0}, {0, 1}, {0, 2}, {1, 1}, {2, 0}, {3, 0}, {2, 1},
                               {1, 2}, {0, 3}, {1, 3}, {2, 2}, {3, 1}, {3, 2}, {2, 3}, {3, 3}};
const int kFieldScan[16][2] = {{0, 0}, {0, 1}, {1, 0}, {0, 2}, {0, 3}, {1, 1}, {1, 2}, {1, 3},
                               {2, 0}, {2, 1}, {2, 2}, {2, 3}, {3, 0}, {3, 1}, {3, 2}, {3, 3}};

const int kDequantCoef[6][4][4] = {
    {{10, 13, 10, 13}, {13, 16, 13, 16}, {10, 13, 10, 13}, {13, 16, 13, 16}},
    {{11, 14, 11, 14}, {14, 18, 14, 18}, {11, 14, 11, 14}, {14, 18, 14, 18}},
    {{13, 16, 13, 16}, {16, 20, 16, 20}, {13, 16, 13, 16}, {16, 20, 16, 20}},
    {{14, 18, 14, 18}, {18, 23, 18, 23}, {14, 18, 14, 18}, {18, 23, 18, 23}},
    {{16, 20, 16, 20}, {20, 25, 20, 25}, {16, 20, 16, 20}, {20, 25, 20, 25}},
    {{18, 23, 18, 23}, {23, 29, 23, 29}, {18, 23, 18, 23}, {23, 29, 23, 29}},
};

// Chroma follows luma up to 29 and then more slowly: chroma detail matters less to the eye.
const int kChromaQp[52] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17,
                           18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 29, 30, 31, 32, 32, 33,
                           34, 34, 35, 35, 36, 36, 37, 37, 37, 38, 38, 38, 39, 39, 39, 39};

namespace {

int &Nz(H264DecoderState &dec, int mbx, int mby, int i, int j)
{
    return (*dec.img.nzcoeff)[mbx][mby][i][j];
}

bool SameSliceMb(const H264DecoderState &dec, int index)
{
    const auto &mbs = *dec.img.mb_data;
    return index >= 0 && index < static_cast<int>(mbs.size()) &&
           mbs[static_cast<size_t>(index)].slice_number == dec.img.current_slice_nr;
}

int Average(int a, bool haveA, int b, bool haveB)
{
    haveA = haveA && a >= 0;
    haveB = haveB && b >= 0;
    const int n = (haveA ? 1 : 0) + (haveB ? 1 : 0);
    if (n == 0)
        return 0;
    return ((haveA ? a : 0) + (haveB ? b : 0)) / n;
}

const int (*Scan(const H264DecoderState &dec, const DecoderMacroblock &mb))[2]
{
    const bool field = dec.img.structure != kFrame || (dec.img.MbaffFrameFlag && mb.mb_field);
    return field ? kFieldScan : kFrameScan;
}

// The (level, run) pairs of one block, from CAVLC or CABAC, as positions and levels in scan order.
// first is -1 for blocks that start at the DC position, 0 for AC-only blocks.
struct BlockLevels
{
    int count = 0;
    int pos[17] = {};
    int level[17] = {};
};

BlockLevels ReadBlock(H264DecoderState &dec, int cavlcType, int cabacType, int i, int j, int first,
                      int maxPairs, int kind)
{
    BlockLevels out;
    int k = first;
    if (!h264dec_is_cabac(dec)) {
        int levels[16], runs[16], n = 0;
        readCoeff4x4_CAVLC(dec, cavlcType, i, j, levels, runs, &n);
        for (int c = 0; c < n; ++c) {
            if (levels[c] == 0)
                continue;
            k += runs[c] + 1;
            if (k > 15 || (cavlcType == 6 && k > 3))
                h264dec_macroblock_error(dec, "coefficient runs past the end of the block");
            out.pos[out.count] = k;
            out.level[out.count++] = levels[c];
        }
        return out;
    }
    for (int p = 0; p < maxPairs; ++p) {
        SyntaxSymbol sym;
        sym.context = cabacType;
        h264dec_read_mb_element(dec, sym, kind, cabac_read_run_level, "coefficient level");
        if (sym.value1 == 0)
            break;
        k += sym.value2 + 1;
        if (k > 15 || (cabacType == 6 && k > 3))
            h264dec_macroblock_error(dec, "coefficient runs past the end of the block");
        out.pos[out.count] = k;
        out.level[out.count++] = sym.value1;
    }
    return out;
}

} // namespace

int h264dec_predict_nc_luma(H264DecoderState &dec, int i, int j)
{
    const DecoderImage &img = dec.img;
    const int w = img.width / 16;
    int left = 0, up = 0;
    bool haveLeft = false, haveUp = false;
    if (i > 0) {
        left = Nz(dec, img.mb_x, img.mb_y, i - 1, j);
        haveLeft = true;
    } else if (img.mb_x > 0 && SameSliceMb(dec, img.mb_index - 1)) {
        left = Nz(dec, img.mb_x - 1, img.mb_y, 3, j);
        haveLeft = true;
    }
    if (j > 0) {
        up = Nz(dec, img.mb_x, img.mb_y, i, j - 1);
        haveUp = true;
    } else if (img.mb_y > 0 && SameSliceMb(dec, img.mb_index - w)) {
        up = Nz(dec, img.mb_x, img.mb_y - 1, i, 3);
        haveUp = true;
    }
    return Average(left, haveLeft, up, haveUp);
}

int h264dec_predict_nc_chroma(H264DecoderState &dec, int i, int j)
{
    const DecoderImage &img = dec.img;
    const int w = img.width / 16;
    int left = 0, up = 0;
    bool haveLeft = false, haveUp = false;
    if (i % 2 == 1) {
        left = Nz(dec, img.mb_x, img.mb_y, i - 1, j);
        haveLeft = true;
    } else if (img.mb_x > 0 && SameSliceMb(dec, img.mb_index - 1)) {
        left = Nz(dec, img.mb_x - 1, img.mb_y, i + 1, j);
        haveLeft = true;
    }
    if (j == 5) {
        up = Nz(dec, img.mb_x, img.mb_y, i, 4);
        haveUp = true;
    } else if (img.mb_y > 0 && SameSliceMb(dec, img.mb_index - w)) {
        up = Nz(dec, img.mb_x, img.mb_y - 1, i, 5);
        haveUp = true;
    }
    return Average(left, haveLeft, up, haveUp);
}

void readCoeff4x4_CAVLC(H264DecoderState &dec, int block_type, int i, int j, int levarr[16], int runarr[16],
                        int *number_coefficients)
{
    DecoderImage &img = dec.img;
    DecoderMacroblock &mb = h264dec_current_mb(dec);
    const bool intra = mb.mb_type == kMbIntra4x4 || mb.mb_type == kMbIntra16x16 || mb.mb_type == kMbSI;
    int maxCoeff, kind;
    switch (block_type) {
    case 0:
        maxCoeff = 16;
        kind = intra ? SE_LUM_AC_INTRA : SE_LUM_AC_INTER;
        break;
    case 1:
        maxCoeff = 16;
        kind = intra ? SE_LUM_DC_INTRA : SE_LUM_DC_INTER;
        break;
    case 2:
        maxCoeff = 15;
        kind = intra ? SE_LUM_AC_INTRA : SE_LUM_AC_INTER;
        break;
    case 6:
        maxCoeff = 4;
        kind = intra ? SE_CHR_DC_INTRA : SE_CHR_DC_INTER;
        break;
    case 7:
        maxCoeff = 15;
        kind = intra ? SE_CHR_AC_INTRA : SE_CHR_AC_INTER;
        break;
    default:
        h264_fatal_error("readCoeff4x4_CAVLC: invalid block type", 600);
    }
    DataPartition *dp = &h264dec_partition(dec, kind);
    auto check = [&dec](int r) {
        if (r < 0)
            h264dec_macroblock_error(dec, "coefficients: the slice data ends inside the macroblock");
    };
    Nz(dec, img.mb_x, img.mb_y, i, j) = 0;

    SyntaxSymbol sym;
    sym.kind = kind;
    if (block_type == 6) {
        check(h264dec_read_coeff_token_cdc(&sym, dp));
    } else {
        const int nc =
            block_type == 7 ? h264dec_predict_nc_chroma(dec, i, j) : h264dec_predict_nc_luma(dec, i, j);
        sym.value1 = nc < 2 ? 0 : nc < 4 ? 1 : nc < 8 ? 2 : 3;
        check(h264dec_read_coeff_token(&sym, dp));
    }
    const int total = sym.value1, trailing = sym.value2;
    if (total > maxCoeff || trailing > total)
        h264dec_macroblock_error(dec, zn::Format("%d coefficients in a block of %d", total, maxCoeff));
    if (block_type != 6)
        Nz(dec, img.mb_x, img.mb_y, i, j) = total;

    std::fill(levarr, levarr + maxCoeff, 0);
    std::fill(runarr, runarr + maxCoeff, 0);
    *number_coefficients = total;
    if (total == 0)
        return;

    int k = total - 1;
    if (trailing > 0) {
        SyntaxSymbol signs;
        signs.length = trailing;
        check(h264dec_read_fixed(&signs, dp->bitstream.get()));
        for (int t = 0; t < trailing; ++t, --k)
            levarr[k] = ((signs.info >> (trailing - 1 - t)) & 1) ? -1 : 1;
    }

    int vlc = total > 10 && trailing < 3 ? 1 : 0;
    static const int kThreshold[7] = {0, 3, 6, 12, 24, 48, 32768};
    for (bool first = true; k >= 0; --k, first = false) {
        SyntaxSymbol lev;
        lev.kind = kind;
        check(vlc == 0 ? h264dec_read_level_vlc0(&lev, dp) : h264dec_read_level_vlcn(&lev, vlc, dp));
        int level = lev.info;
        if (first && trailing < 3)
            level += level > 0 ? 1 : -1;
        levarr[k] = level;
        const int magnitude = level < 0 ? -level : level;
        if (magnitude > kThreshold[vlc] && vlc < 6)
            ++vlc;
        if (first && magnitude > 3)
            vlc = 2;
    }

    int zerosLeft = 0;
    if (total < maxCoeff) {
        SyntaxSymbol tz;
        tz.kind = kind;
        tz.value1 = total - 1;
        check(block_type == 6 ? h264dec_read_total_zeros_cdc(&tz, dp) : h264dec_read_total_zeros(&tz, dp));
        zerosLeft = tz.value1;
    }
    if (zerosLeft + total > maxCoeff)
        h264dec_macroblock_error(dec, "coefficient runs past the end of the block");
    int idx = total - 1;
    for (; idx > 0 && zerosLeft > 0; --idx) {
        SyntaxSymbol rb;
        rb.kind = kind;
        rb.value1 = std::min(zerosLeft - 1, 6);
        check(h264dec_read_run_before(&rb, dp));
        if (rb.value1 > zerosLeft)
            h264dec_macroblock_error(dec, "coefficient runs past the end of the block");
        runarr[idx] = rb.value1;
        zerosLeft -= rb.value1;
    }
    runarr[idx] = zerosLeft;
}

void h264dec_read_residual(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    DecoderMacroblock &mb = h264dec_current_mb(dec);
    const int m = mb.mb_type;
    const bool cabac = h264dec_is_cabac(dec);
    const bool intra = m == kMbIntra4x4 || m == kMbIntra16x16 || m == kMbSI;
    const bool spChroma = (IsSPPicture(img.type) && m != kMbIntra4x4 && m != kMbIntra16x16) ||
                          (img.type == kPictureSI && m == kMbSI);
    const int(*scan)[2] = Scan(dec, mb);

    if (m != kMbIntra16x16) {
        SyntaxSymbol sym;
        sym.map_fn = m == kMbIntra4x4 || m == kMbSI ? h264dec_map_cbp_intra : h264dec_map_cbp_inter;
        h264dec_read_mb_element(dec, sym, intra ? SE_CBP_INTRA : SE_CBP_INTER, cabac_read_cbp,
                                "coded_block_pattern");
        if (sym.value1 < 0 || sym.value1 > 47)
            h264dec_macroblock_error(dec, "coded_block_pattern beyond the table");
        mb.coded_block_pattern = sym.value1;
    }
    const int cbp = mb.coded_block_pattern;

    if (m == kMbIntra16x16 || cbp != 0) {
        SyntaxSymbol sym;
        sym.map_fn = h264dec_map_se;
        h264dec_read_mb_element(dec, sym, intra ? SE_DELTA_QUANT_INTRA : SE_DELTA_QUANT_INTER,
                                cabac_read_qp_delta, "mb_qp_delta");
        const int qp = img.qp + sym.value1;
        if (qp < 0 || qp > 51)
            h264dec_macroblock_error(
                dec, zn::Format("mb_qp_delta %d takes the quantiser to %d, outside 0..51", sym.value1, qp));
        mb.qp_delta = sym.value1;
        img.qp = (mb.qp_delta + img.qp + 52) % 52;
    }

    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (auto &row : img.coef[i][j])
                std::fill(std::begin(row), std::end(row), 0);

    img.cbf_intra_flag = intra ? 1 : 0;
    img.cbf_v_flag = 0;
    if (m == kMbIntra16x16) {
        for (int b = 0; b < 16; ++b)
            (*img.intra_modes)[img.block_x + b % 4 + 1][img.block_y + b / 4 + 1] = 2;
        img.subblock_x = img.subblock_y = 0;
        const BlockLevels dc = ReadBlock(dec, 1, 0, 0, 0, -1, 17, SE_LUM_DC_INTRA);
        for (int c = 0; c < dc.count; ++c)
            img.coef[scan[dc.pos[c]][0]][scan[dc.pos[c]][1]][0][0] = dc.level[c];
    }

    mb.qp = img.qp;
    const int qpPer = img.qp / 6, qpRem = img.qp % 6;

    for (int q = 0; q < 4; ++q)
        for (int b = 0; b < 4; ++b) {
            const int i = 2 * (q % 2) + b % 2, j = 2 * (q / 2) + b / 2;
            if (!(cbp & (1 << (2 * (j / 2) + i / 2)))) {
                if (!cabac)
                    Nz(dec, img.mb_x, img.mb_y, i, j) = 0;
                continue;
            }
            img.subblock_x = i;
            img.subblock_y = j;
            const bool ac = m == kMbIntra16x16;
            const BlockLevels blk = ReadBlock(dec, ac ? 2 : 0, ac ? 1 : 5, i, j, ac ? 0 : -1, ac ? 16 : 17,
                                              intra ? SE_LUM_AC_INTRA : SE_LUM_AC_INTER);
            for (int c = 0; c < blk.count; ++c) {
                mb.cbp_blocks |= 1 << (i + 4 * j);
                const int x = scan[blk.pos[c]][0], y = scan[blk.pos[c]][1];
                img.coef[i][j][x][y] = (blk.level[c] * kDequantCoef[qpRem][x][y]) << qpPer;
            }
        }

    for (int i = 0; i < 4; ++i)
        for (int j = 4; j < 6; ++j)
            for (auto &row : img.coef[i][j])
                std::fill(std::begin(row), std::end(row), 0);

    const int qpc = kChromaQp[img.qp];
    const int qpcPer = qpc / 6, qpcRem = qpc % 6;
    if (cbp > 15) {
        for (int plane = 0; plane < 2; ++plane) {
            std::fill(std::begin(img.chroma_dc), std::end(img.chroma_dc), 0);
            img.cbf_v_flag = plane;
            img.subblock_x = img.subblock_y = 0;
            const int c0 = 2 * plane;
            const BlockLevels dc =
                ReadBlock(dec, 6, 6, c0, 4, -1, 5, intra ? SE_CHR_DC_INTRA : SE_CHR_DC_INTER);
            for (int c = 0; c < dc.count; ++c) {
                img.chroma_dc[dc.pos[c]] = dc.level[c];
                mb.cbp_blocks |= 0xF << (16 + 4 * plane);
            }
            int *d = img.chroma_dc;
            if (spChroma) {
                img.coef[c0][4][0][0] = d[0];
                img.coef[c0 + 1][4][0][0] = d[1];
                img.coef[c0][5][0][0] = d[2];
                img.coef[c0 + 1][5][0][0] = d[3];
            } else {
                for (int k = 0; k < 4; ++k)
                    d[k] = (d[k] * kDequantCoef[qpcRem][0][0]) << qpcPer;
                img.coef[c0][4][0][0] = (d[0] + d[1] + d[2] + d[3]) >> 1;
                img.coef[c0 + 1][4][0][0] = (d[0] - d[1] + d[2] - d[3]) >> 1;
                img.coef[c0][5][0][0] = (d[0] + d[1] - d[2] - d[3]) >> 1;
                img.coef[c0 + 1][5][0][0] = (d[0] - d[1] - d[2] + d[3]) >> 1;
            }
        }
    }
    if (cbp <= 31) {
        for (int i = 0; i < 4; ++i)
            for (int j = 4; j < 6; ++j)
                Nz(dec, img.mb_x, img.mb_y, i, j) = 0;
        return;
    }
    for (int plane = 0; plane < 2; ++plane)
        for (int j = 4; j < 6; ++j)
            for (int i = 2 * plane; i < 2 * plane + 2; ++i) {
                img.cbf_v_flag = plane;
                img.subblock_x = i % 2;
                img.subblock_y = j - 4;
                const BlockLevels blk =
                    ReadBlock(dec, 7, 7, i, j, 0, 16, intra ? SE_CHR_AC_INTRA : SE_CHR_AC_INTER);
                for (int c = 0; c < blk.count; ++c) {
                    mb.cbp_blocks |= 1 << (16 + 4 * plane + 2 * (j - 4) + (i % 2));
                    const int x = scan[blk.pos[c]][0], y = scan[blk.pos[c]][1];
                    img.coef[i][j][x][y] = (blk.level[c] * kDequantCoef[qpcRem][x][y]) << qpcPer;
                }
            }
}
