// The VQ coder behind the module's Apply: codebook checks, the full search per block, the channel,
// the measures and the texts the module reports.
#include "modules/vq/vq_coder.h"

#include "image/cdib.h"
#include "image/img.h"
#include "image/znimage.h"
#include "modules/sbc/sbc_quant.h"
#include "modules/vq/vq_codebook.h"
#include "modules/vq/vq_search.h"
#include "platform/errors.h"
#include "platform/messages.h"

#include <memory>
#include <new>
#include <vector>

namespace {

// The distance every block search starts from: above any distance of 8-bit blocks.
constexpr float kCodecStart = 1e16f;

constexpr zn::ValueTag kErrorTags[] = {
    {0.0f, "No", "No"},          {0.005f, "005", "0.005"},    {0.001f, "001", "0.001"},
    {0.0005f, "0005", "0.0005"}, {0.0001f, "0001", "0.0001"},
};

// Row rmin, column rmax (1..12 each); entries below the diagonal are never asked for.
constexpr unsigned char kDefaultBits[12][12] = {
    {1, 2, 2, 2, 3, 3, 4, 4, 5, 5, 5, 5},   {0, 2, 2, 2, 3, 3, 4, 4, 5, 5, 5, 5},
    {0, 0, 3, 3, 4, 4, 5, 5, 6, 6, 6, 6},   {0, 0, 0, 4, 4, 5, 5, 6, 7, 7, 7, 7},
    {0, 0, 0, 0, 5, 5, 6, 6, 7, 7, 7, 7},   {0, 0, 0, 0, 0, 6, 6, 7, 7, 8, 8, 8},
    {0, 0, 0, 0, 0, 0, 7, 7, 8, 8, 8, 8},   {0, 0, 0, 0, 0, 0, 0, 8, 8, 9, 9, 9},
    {0, 0, 0, 0, 0, 0, 0, 0, 9, 9, 9, 9},   {0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 10, 10},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 11, 11}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 12},
};

bool IsFloatPlane(const Img *im)
{
    return im && im->rep == IMG_REP_FLOAT && im->rows > 0 && im->cols > 0 && im->FloatPlane();
}

} // namespace

int VqDefaultBits(int rmin, int rmax)
{
    if (rmin < kVqMinRate || rmax > kVqMaxRate || rmin > rmax)
        return rmin;
    return kDefaultBits[rmin - 1][rmax - 1];
}

const zn::ValueTag &VqErrorTag(float prob)
{
    return zn::FindValueTag(prob, kErrorTags);
}

float VqCodec(const Img *src, const Img *codebook, Img *rec, int bits, float errorProb)
{
    if (!IsFloatPlane(src) || !IsFloatPlane(rec) || rec->rows != src->rows || rec->cols != src->cols)
        throw zn::RunAborted("VqCodec - Source and reconstruction images do not match.");
    if (!IsFloatPlane(codebook))
        throw zn::RunAborted("VqCodec - No codebook.");
    VqCodebookHeader hd;
    const std::string problem = VqReadHeader(codebook, &hd);
    if (!problem.empty())
        throw zn::RunAborted("VqCodec - " + problem);
    if (bits < hd.rmin || bits > hd.rmax) {
        zn::ShowMessage("VqCodec - No codebook for requested bit rate.");
        return 0.0f;
    }
    const int w = hd.w, h = hd.h, rows = src->rows, cols = src->cols;
    if (rows % h != 0 || cols % w != 0)
        throw zn::RunAborted(
            zn::Format("VqCodec - The image (%ix%i) is not made of whole %ix%i blocks.", cols, rows, w, h));

    std::vector<float> vectors;
    const int n = 1 << bits, dim = w * h;
    std::unique_ptr<const VqNearestSearch> searchOwner;
    try {
        vectors = VqGetRateVectors(codebook, hd, bits);
        searchOwner = std::make_unique<const VqNearestSearch>(vectors.data(), n, dim, kCodecStart);
    } catch (const std::bad_alloc &) {
        throw zn::RunAborted("VqCodec-Memory allocation problem");
    }
    const VqNearestSearch &search = *searchOwner;
    const float *in = src->FloatPlane();
    float *out = rec->FloatPlane();
    std::vector<float> block(dim);
    for (int top = 0; top < rows; top += h)
        for (int left = 0; left < cols; left += w) {
            float *b = block.data();
            for (int y = 0; y < h; ++y)
                for (int k = 0; k < w; ++k)
                    *b++ = in[static_cast<size_t>(top + y) * cols + left + k];
            float dist = 0.0f;
            int index = search.Find(block.data(), &dist);
            if (errorProb > 0.0f)
                index = SbcBitErrors(index, bits, errorProb);
            const float *c = &vectors[static_cast<size_t>(index) * dim];
            for (int y = 0; y < h; ++y)
                for (int k = 0; k < w; ++k)
                    out[static_cast<size_t>(top + y) * cols + left + k] = *c++;
        }
    return static_cast<float>(bits) / static_cast<float>(dim);
}

VqRunResult VqCodeImage(const VqParams &par, const CDib *image, const std::string &title,
                        const ZnImage &codebook, ZnImage *decoded)
{
    if (!image || !image->IsValid())
        throw zn::RunAborted("OnVqApply: No image to code");
    ZnImage source;
    source.DibToZnImage(image);
    decoded->Alloc(source.Rows(), source.Cols());
    VqRunResult out;
    out.rate = VqCodec(source.img, codebook.img, decoded->img, par.nBits, par.fErrorProb);
    if (out.rate == 0.0f)
        throw zn::RunAborted("VqCodec - No codebook for requested bit rate.", zn::kMessageShown);

    zn::RoundToGreyLevels(decoded);
    out.measures = zn::MeasureReconstruction(source, *decoded);
    const zn::Measures &m = out.measures;
    const double rate = out.rate, mse = m.mse, snr = m.snr, psnr = m.psnr;

    out.results = "-------------------------------------------------------------------\r\n";
    if (m.errorFree)
        out.results +=
            zn::Format("  Coded Bitrate\t\t:%5.2f (bpp)\r\n  Mean Square Error\t\t:%6.1f\r\n"
                       "  Signal-to-Noise Ratio\t: Infinite (dB)\r\n  PSNR\t\t\t: Infinite (dB)\r\n\r\n",
                       rate, mse);
    else
        out.results += zn::Format("  Coded Bitrate\t\t:%5.2f (bpp)\r\n  Mean Square Error\t\t:%6.1f\r\n"
                                  "  Signal-to-Noise Ratio\t:%5.1f (dB)\r\n  PSNR\t\t\t:%5.1f (dB)\r\n\r\n",
                                  rate, mse, snr, psnr);

    const std::string errorLine = par.fErrorProb != 0.0f ? zn::Format("Channel Errors Probability\t: %1.4f",
                                                                      static_cast<double>(par.fErrorProb))
                                                         : "No Channel Errors Simulated";
    out.description =
        zn::Format("VECTOR QUANTIZATION ENCODED %s image\r\n   Number of Bits per Vector\t: %i\r\n   "
                   "%s\r\n",
                   title.c_str(), par.nBits, errorLine.c_str());
    if (m.errorFree)
        out.description +=
            zn::Format("\r\n   Coded Bitrate\t\t\t:%7.2f (bpp)\r\n   Mean Square Error\t\t:%7.1f\r\n"
                       "   Signal-to-Noise Ratio\t\t: Infinite (dB)\r\n   PSNR\t\t\t\t: Infinite (dB)",
                       rate, mse);
    else
        out.description +=
            zn::Format("\r\n   Coded Bitrate\t\t\t:%7.2f (bpp)\r\n   Mean Square Error\t\t:%7.1f\r\n"
                       "   Signal-to-Noise Ratio\t\t:%7.1f (dB)\r\n   PSNR\t\t\t\t:%7.1f (dB)",
                       rate, mse, snr, psnr);

    const zn::ValueTag &et = VqErrorTag(par.fErrorProb);
    out.name = zn::ResultImageName("VQ", title, zn::Format("_%i_%s", par.nBits, et.name));
    out.caption = zn::ResultCaption("VQ", title, zn::Format("Bits:%i Errors:%s", par.nBits, et.caption));
    return out;
}
