// Allocation of the engine image record and its quality measures.
// Sums run in double precision so the MSE of 8-bit data stays exact for any practical image size.
#include "image/img.h"

#include "platform/large_memory.h"
#include "platform/messages.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

namespace {

size_t ElementSize(int rep)
{
    return rep == IMG_REP_BYTE ? 1 : 4;
}

void *AllocPlane(size_t bytes)
{
    void *p = std::calloc(bytes ? bytes : 1, 1);
    if (!p)
        zn::ShowMessage("Fatal: Not enough memory");
    else
        zn::AdviseLargeBlock(p, bytes); // the zeros are not written yet: calloc took fresh pages
    return p;
}

double Sample(const void *plane, int rep, long i)
{
    switch (rep) {
    case IMG_REP_BYTE:
        return static_cast<const uint8_t *>(plane)[i];
    case IMG_REP_INT:
        return static_cast<const int32_t *>(plane)[i];
    default:
        return static_cast<const float *>(plane)[i];
    }
}

bool ValidRep(int rep)
{
    return rep == IMG_REP_BYTE || rep == IMG_REP_INT || rep == IMG_REP_FLOAT;
}

} // namespace

void AllocImg(Img **img, int rows, int cols, int rep, int seqType)
{
    Img *r = new Img;
    *img = r;
    r->rows = rows;
    r->cols = cols;
    r->rep = rep;
    r->seqType = seqType;
    r->reserved = 0;
    if (rows <= 0 || cols <= 0)
        return;
    if (!ValidRep(rep)) {
        zn::ShowMessage("Fatal: AllocImg, Invalid representation type");
        return;
    }
    if (seqType < IMG_SEQ_MONO || seqType > IMG_SEQ_RGB) {
        zn::ShowMessage("Fatal: AllocImg, Invalid sequence type");
        return;
    }
    size_t n = static_cast<size_t>(rows) * static_cast<size_t>(cols);
    size_t es = ElementSize(rep);
    r->plane[0] = AllocPlane(n * es);
    if (seqType == IMG_SEQ_YUV) {
        r->plane[1] = AllocPlane(n * es / 2);
        r->plane[2] = AllocPlane(n * es / 2);
    } else if (seqType == IMG_SEQ_RGB) {
        r->plane[1] = AllocPlane(n * es);
        r->plane[2] = AllocPlane(n * es);
    }
}

void FreeImg(Img *img)
{
    if (!img)
        return;
    if (img->seqType == IMG_SEQ_MONO) {
        std::free(img->plane[0]);
    } else if (img->seqType == IMG_SEQ_YUV || img->seqType == IMG_SEQ_RGB) {
        for (void *p : img->plane)
            std::free(p);
    } else if (img->plane[0] || img->plane[1] || img->plane[2]) {
        zn::ShowMessage("Invalid sequence type");
    }
    delete img;
}

void MeanVari(float *mean, float *vari, const void *plane, int rep, long index, long count)
{
    double sum = 0, sum2 = 0;
    if (!ValidRep(rep)) {
        zn::ShowMessage("MeanVari: Unknown buffer type");
    } else {
        for (long i = index; i < index + count; ++i) {
            double v = Sample(plane, rep, i);
            sum += v;
            sum2 += v * v;
        }
    }
    double m = count > 0 ? sum / count : 0.0;
    double v = count > 0 ? sum2 / count - m * m : 0.0;
    *mean = static_cast<float>(m);
    *vari = static_cast<float>(v);
}

void MseSnr(float *mse, float *snr, const void *a, int repA, const void *b, int repB, long index, long count)
{
    double sa = 0, sa2 = 0, se = 0;
    if (!ValidRep(repA) || !ValidRep(repB)) {
        zn::ShowMessage("MseSnr-Unknown buffer type");
    } else {
        for (long i = index; i < index + count; ++i) {
            double x = Sample(a, repA, i);
            double d = x - Sample(b, repB, i);
            sa += x;
            sa2 += x * x;
            se += d * d;
        }
    }
    double m = count > 0 ? se / count : 0.0;
    *mse = static_cast<float>(m);
    if (m == 0.0) {
        *snr = 100000.0f;
    } else {
        double mean = sa / count;
        double var = sa2 / count - mean * mean;
        *snr = static_cast<float>(10.0 * std::log10(var / m));
    }
}

void CheckSelection(int *c1, int *c2, int *c3, int selection, int seqType1, int seqType2)
{
    *c1 = *c2 = *c3 = 0;
    if (selection > 9)
        selection = 9;
    if (selection < 0)
        selection = 0;
    if (seqType2 == 0)
        seqType2 = seqType1;
    bool bad1 = seqType1 < 1 || seqType1 > 3;
    bool bad2 = seqType2 < 1 || seqType2 > 3;
    if (bad1)
        zn::ShowMessage("Sorry wrong image type");
    if (bad2)
        zn::ShowMessage("Sorry wrong image type");
    if (seqType1 + seqType2 == 5 && !bad1 && !bad2)
        zn::ShowMessage("Sorry incompatible image types (YUV and RGB)");

    auto offers = [](int t, int comp) { return (t >= 1 && t <= 3) && (comp == 1 || t != 1); };
    bool avail[4] = {false, false, false, false};
    for (int k = 1; k <= 3; ++k)
        avail[k] = offers(seqType1, k) && offers(seqType2, k);

    if (selection == 0) {
        *c1 = 1;
        *c2 = avail[2] ? 1 : 0;
        *c3 = avail[3] ? 1 : 0;
    } else if (selection <= 7) {
        static const char *missing[3] = {"CheckSelection-Y or R component not in both image type(s)",
                                         "CheckSelection-U or G component not in both image type(s)",
                                         "CheckSelection-V or B component not in both image type(s)"};
        int *flags[3] = {c1, c2, c3};
        for (int k = 0; k < 3; ++k) {
            if (!(selection & (1 << k)))
                continue;
            if (avail[k + 1])
                *flags[k] = 1;
            else
                zn::ShowMessage(missing[k]);
        }
    } else {
        // A single chroma component, tested against the second image only.
        int comp = selection == 8 ? 2 : 3;
        if (!offers(seqType2, comp))
            zn::ShowMessage(selection == 8 ? "CheckSelection-U or G component not in file image type"
                                           : "CheckSelection-V or B component not in file image type");
        else
            *c1 = comp;
    }
}

int MseSnrImg(float mse[3], float snr[3], float *psnr, const Img *orig, const Img *recon, int selection)
{
    long n = static_cast<long>(orig->rows) * orig->cols;
    if (orig->rows != recon->rows || orig->cols != recon->cols) {
        zn::ShowMessage(
            "Fatal: \r\nMseSnrImg-Image dimensions not equal of\r\noriginal and reconstruction images");
        // Measure only the samples both images have.
        long m = static_cast<long>(recon->rows) * recon->cols;
        if (m < n)
            n = m;
    }
    int c[3];
    CheckSelection(&c[0], &c[1], &c[2], selection, orig->seqType, recon->seqType);
    if (selection >= 8 && c[0] >= 2) {
        // Single chroma component (not used by any module): measure it alone.
        int k = c[0] - 1;
        c[0] = 0;
        c[k] = 1;
    }
    int slot = 0;
    for (int k = 0; k < 3; ++k) {
        if (!c[k])
            continue;
        // Chroma planes of a YUV record hold half as many samples: an RGB record measured against a
        // YUV one (refused above with a message) must not read past the smaller plane.
        auto planeCount = [&](const Img *im) { return (k == 0 || im->seqType == IMG_SEQ_RGB) ? n : n / 2; };
        long count = std::min(planeCount(orig), planeCount(recon));
        if (!orig->plane[k] || !recon->plane[k])
            count = 0;
        MseSnr(&mse[slot], &snr[slot], orig->plane[k], orig->rep, recon->plane[k], recon->rep, 0, count);
        ++slot;
    }
    if (mse[0] < 1e-10f)
        return 1;
    *psnr = static_cast<float>(10.0 * std::log10(65025.0 / mse[0]));
    return 0;
}
