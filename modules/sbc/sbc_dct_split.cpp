// The block DCT as a subband decomposition. After the blocks are transformed, coefficient (j, k) of
// block (p, q) moves to sample (p, q) of subband (j, k), divided by sqrt(B_r B_c) so that band (0, 0)
// holds the block means of the mean-free image. The reconstruction undoes the regrouping, then the
// transforms.
#include "modules/sbc/sbc_dct.h"

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

// Transforms every block's rows of bc samples, or columns of br samples, with one kernel.
template <class Kernel> void BlockRows(float *plane, int rows, int cols, int bc, Kernel k)
{
    const SbcDctTable t = SbcDctTables(bc);
    std::vector<float> in(bc), out(bc);
    for (int r = 0; r < rows; ++r) {
        float *row = plane + static_cast<long>(r) * cols;
        for (int c0 = 0; c0 + bc <= cols; c0 += bc) {
            std::memcpy(in.data(), row + c0, bc * sizeof(float));
            k(t, in.data(), out.data(), bc);
            std::memcpy(row + c0, out.data(), bc * sizeof(float));
        }
    }
}

template <class Kernel> void BlockCols(float *plane, int rows, int cols, int br, Kernel k)
{
    const SbcDctTable t = SbcDctTables(br);
    std::vector<float> in(br), out(br);
    for (int c = 0; c < cols; ++c) {
        for (int r0 = 0; r0 + br <= rows; r0 += br) {
            for (int i = 0; i < br; ++i)
                in[i] = plane[static_cast<long>(r0 + i) * cols + c];
            k(t, in.data(), out.data(), br);
            for (int i = 0; i < br; ++i)
                plane[static_cast<long>(r0 + i) * cols + c] = out[i];
        }
    }
}

// Rows: column j + q*bc <-> j*(cols/bc) + q; columns: row j + p*br <-> j*(rows/br) + p.
void Regroup(float *plane, int rows, int cols, int br, int bc, bool forward)
{
    std::vector<float> line(std::max(rows, cols));
    const int nbc = cols / bc, nbr = rows / br;
    if (forward) {
        const double sr = 1.0 / std::sqrt(static_cast<double>(br)),
                     sc = 1.0 / std::sqrt(static_cast<double>(bc));
        for (int r = 0; r < rows; ++r) {
            float *row = plane + static_cast<long>(r) * cols;
            for (int q = 0; q < nbc; ++q)
                for (int j = 0; j < bc; ++j)
                    line[j * nbc + q] = static_cast<float>(row[j + q * bc] * sr);
            std::memcpy(row, line.data(), cols * sizeof(float));
        }
        for (int c = 0; c < cols; ++c) {
            for (int p = 0; p < nbr; ++p)
                for (int j = 0; j < br; ++j)
                    line[j * nbr + p] =
                        static_cast<float>(plane[static_cast<long>(j + p * br) * cols + c] * sc);
            for (int r = 0; r < rows; ++r)
                plane[static_cast<long>(r) * cols + c] = line[r];
        }
    } else {
        const double sc = std::sqrt(static_cast<double>(bc)), sr = std::sqrt(static_cast<double>(br));
        for (int r = 0; r < rows; ++r) {
            float *row = plane + static_cast<long>(r) * cols;
            for (int q = 0; q < nbc; ++q)
                for (int j = 0; j < bc; ++j)
                    line[j + q * bc] = static_cast<float>(row[j * nbc + q] * sc);
            std::memcpy(row, line.data(), cols * sizeof(float));
        }
        for (int c = 0; c < cols; ++c) {
            for (int p = 0; p < nbr; ++p)
                for (int j = 0; j < br; ++j)
                    line[j + p * br] =
                        static_cast<float>(plane[static_cast<long>(j * nbr + p) * cols + c] * sr);
            for (int r = 0; r < rows; ++r)
                plane[static_cast<long>(r) * cols + c] = line[r];
        }
    }
}

} // namespace

void SbcDctBlocks(float *plane, int rows, int cols, int br, int bc)
{
    BlockRows(plane, rows, cols, bc, SbcDct2);
    BlockCols(plane, rows, cols, br, SbcDct2);
}

void SbcIdctBlocks(float *plane, int rows, int cols, int br, int bc)
{
    BlockCols(plane, rows, cols, br, SbcIdct2);
    BlockRows(plane, rows, cols, bc, SbcIdct2);
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
        AllocSubb(&sb, 0, 0, IMG_REP_FLOAT, IMG_SEQ_MONO);
        sb->rows = rows;
        sb->cols = cols;
        sb->plane[0] = src->plane[0];
        src->plane[0] = nullptr;
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
        AllocImg(&img, 0, 0, IMG_REP_FLOAT, IMG_SEQ_MONO);
        img->rows = rows;
        img->cols = cols;
        img->plane[0] = sb->plane[0];
        sb->plane[0] = nullptr;
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
