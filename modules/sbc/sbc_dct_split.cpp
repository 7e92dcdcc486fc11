// The block DCT as a subband decomposition. After the blocks are transformed, coefficient (j, k) of
// block (p, q) moves to sample (p, q) of subband (j, k), divided by sqrt(B_r B_c) so that band (0, 0)
// holds the block means of the mean-free image. The reconstruction undoes the regrouping, then the
// transforms.
#include "modules/sbc/sbc_dct.h"

#include "modules/sbc/plane_lines.h"
#include "platform/messages.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

bool ValidSide(int b)
{
    return b >= 2 && b <= 16 && (b & (b - 1)) == 0;
}

// Transforms every line in blocks of b samples with one kernel.
template <class Kernel> void BlockLines(const PlaneLines &lines, int b, Kernel k)
{
    const SbcDctTable t = SbcDctTables(b);
    std::vector<float> in(b), out(b), batch;
    ForEachLine(lines, batch, [&](float *line) {
        for (int s0 = 0; s0 + b <= lines.length; s0 += b) {
            std::copy_n(line + s0, b, in.begin());
            k(t, in.data(), out.data(), b);
            std::copy_n(out.begin(), b, line + s0);
        }
    });
}

// Along every line of blocks of b samples, sample j of block q moves to j * (length / b) + q
// (forward) or back from there, scaled.
void RegroupLines(const PlaneLines &lines, int b, double scale, bool forward)
{
    const int nb = lines.length / b;
    std::vector<float> line(lines.length), batch;
    ForEachLine(lines, batch, [&](float *samples) {
        for (int q = 0; q < nb; ++q) {
            for (int j = 0; j < b; ++j) {
                const int inBlocks = j + q * b, inBands = j * nb + q;
                if (forward)
                    line[inBands] = static_cast<float>(samples[inBlocks] * scale);
                else
                    line[inBlocks] = static_cast<float>(samples[inBands] * scale);
            }
        }
        std::copy(line.begin(), line.end(), samples);
    });
}

// Rows: column j + q*bc <-> j*(cols/bc) + q; columns: row j + p*br <-> j*(rows/br) + p.
void Regroup(float *plane, int rows, int cols, int br, int bc, bool forward)
{
    const PlaneLines byRow = RowsOf(plane, cols, 0, rows, cols);
    const PlaneLines byCol = ColumnsOf(plane, cols, 0, rows, cols);
    if (forward) {
        RegroupLines(byRow, bc, 1.0 / std::sqrt(static_cast<double>(br)), true);
        RegroupLines(byCol, br, 1.0 / std::sqrt(static_cast<double>(bc)), true);
    } else {
        RegroupLines(byRow, bc, std::sqrt(static_cast<double>(bc)), false);
        RegroupLines(byCol, br, std::sqrt(static_cast<double>(br)), false);
    }
}

} // namespace

void SbcDctBlocks(float *plane, int rows, int cols, int br, int bc)
{
    BlockLines(RowsOf(plane, cols, 0, rows, cols), bc, SbcDct2);
    BlockLines(ColumnsOf(plane, cols, 0, rows, cols), br, SbcDct2);
}

void SbcIdctBlocks(float *plane, int rows, int cols, int br, int bc)
{
    BlockLines(ColumnsOf(plane, cols, 0, rows, cols), br, SbcIdct2);
    BlockLines(RowsOf(plane, cols, 0, rows, cols), bc, SbcIdct2);
}

void SbcDctSubbLayout(Subb *sb)
{
    for (SubbComponent &comp : sb->comp) {
        int br = comp.splits[0] & ~1, bc = comp.splits[1] & ~1;
        br = std::clamp(br, 2, 16);
        bc = std::clamp(bc, 2, 16);
        comp.splits[0] = br;
        comp.splits[1] = bc;
        comp.levelsDone = 1;
        comp.count = br * bc;
        const int bandRows = sb->rows / br, bandCols = sb->cols / bc;
        for (int j = 0; j < br; ++j) {
            for (int k = 0; k < bc; ++k) {
                const int i = j * bc + k;
                comp.bandRows[i] = bandRows;
                comp.bandCols[i] = bandCols;
                comp.first[i] = j * bandRows * sb->cols + k * bandCols;
            }
        }
    }
}

void SbcSplitDct(Subb **out, Img *src, int br, int bc, int takeOver)
{
    *out = nullptr;
    if (!src || src->seqType != IMG_SEQ_MONO || src->rep != IMG_REP_FLOAT || !src->plane[0]) {
        zn::ShowMessage(
            "SbcSplitDct - Sorry the DCT based subband decomposition is \nonly supported for floating Y "
            "images");
        return;
    }
    bool ok = true;
    if (!ValidSide(br)) {
        zn::ShowMessage("SbcSplitDct - Sorry blnrow must be a power of 2 and greater then 1");
        ok = false;
    }
    if (!ValidSide(bc)) {
        zn::ShowMessage("SbcSplitDct - Sorry blncol must be a power of 2 and greater then 1");
        ok = false;
    }
    const int rows = src->rows, cols = src->cols;
    if (ok && (rows <= 0 || cols <= 0 || rows % br || cols % bc)) {
        zn::ShowMessage("SbcSplitDct - Sorry the image size must be a multiple of the block size");
        ok = false;
    }
    if (!ok)
        return;
    const long n = static_cast<long>(rows) * cols;
    Subb *sb;
    if (takeOver) {
        sb = SubbTakingPlane(src);
    } else {
        AllocSubb(&sb, rows, cols, IMG_REP_FLOAT, IMG_SEQ_MONO);
        if (!sb->plane[0]) {
            zn::ShowMessage("SbcSplitDct - Sorry allocation failure");
            FreeSubb(sb);
            return;
        }
        std::memcpy(sb->plane[0], src->plane[0], n * sizeof(float));
    }
    *out = sb;
    SubbComponent &comp = sb->comp[0];
    sb->decomposed = SUBB_BLOCK_DCT;
    comp.levelsDone = 1;
    comp.splits[0] = br;
    comp.splits[1] = bc;
    float *plane = sb->FloatPlane();
    MeanVari(&comp.mean, &comp.vari, plane, IMG_REP_FLOAT, 0, n);
    for (long k = 0; k < n; ++k)
        plane[k] -= comp.mean;
    SbcDctBlocks(plane, rows, cols, br, bc);
    SbcDctSubbLayout(sb);
    Regroup(plane, rows, cols, br, bc, true);
    if (takeOver)
        FreeImg(src);
}

void SbcReconDct(Img **out, Subb *sb, int takeOver)
{
    *out = nullptr;
    if (!sb || sb->seqType != IMG_SEQ_MONO || sb->rep != IMG_REP_FLOAT || sb->decomposed != SUBB_BLOCK_DCT ||
        !sb->plane[0] || sb->comp.empty()) {
        zn::ShowMessage(
            "SbcReconDct - Sorry the DCT-based subband reconstruction is\nonly supported for floating Y "
            "subbands.");
        return;
    }
    const int rows = sb->rows, cols = sb->cols;
    const int br = sb->comp[0].splits[0], bc = sb->comp[0].splits[1];
    if (!ValidSide(br) || !ValidSide(bc) || rows % br || cols % bc)
        return; // a record no split made; its layout cannot be trusted
    const long n = static_cast<long>(rows) * cols;
    const float mean = sb->comp[0].mean;
    Img *img;
    if (takeOver) {
        img = ImgTakingPlane(sb);
    } else {
        AllocImg(&img, rows, cols, IMG_REP_FLOAT, IMG_SEQ_MONO);
        if (!img->plane[0]) {
            zn::ShowMessage("SbcReconDct - Sorry allocation failure");
            FreeImg(img);
            return;
        }
        std::memcpy(img->plane[0], sb->plane[0], n * sizeof(float));
    }
    *out = img;
    float *plane = img->FloatPlane();
    Regroup(plane, rows, cols, br, bc, false);
    SbcIdctBlocks(plane, rows, cols, br, bc);
    for (long k = 0; k < n; ++k)
        plane[k] += mean;
    if (takeOver)
        FreeSubb(sb);
}
