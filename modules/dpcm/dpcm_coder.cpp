// The DPCM run behind the module's Apply. The predictor is fitted to the image itself (the
// Yule-Walker equations on its autocorrelation), so the report can show what prediction buys: the
// prediction gain is the ratio of the image variance to the variance left in the prediction error,
// and a quantiser of b bits spends them on that much smaller signal. The quantiser tables hold
// unit-variance quantisers; scaling levels and thresholds by the error's standard deviation fits
// one to the image.
#include "modules/dpcm/dpcm_coder.h"

#include "image/cdib.h"
#include "image/numeric.h"
#include "image/tables.h"
#include "image/znimage.h"
#include "modules/sbc/sbc_quant.h"
#include "modules/sbc/subb.h"
#include "platform/errors.h"
#include "platform/messages.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

constexpr zn::ValueTag kErrorTags[] = {
    {0.0f, "No", "No"},          {0.005f, "005", "0.005"},    {0.001f, "001", "0.001"},
    {0.0005f, "0005", "0.0005"}, {0.0001f, "0001", "0.0001"},
};

struct QuantDeleter
{
    void operator()(Quant *q) const { FreeQuant(q); }
};
struct SubbDeleter
{
    void operator()(Subb *s) const { FreeSubb(s); }
};
struct MatrixDeleter
{
    void operator()(float **m) const { FreeMatrix(m, -2, 2, -2, 2); }
};

double D(float v)
{
    return static_cast<double>(v);
}

void CheckParams(const DpcmParams &par, const CDib *image, const std::string &tableDir)
{
    if (par.nBits < 1 || par.nBits > 6)
        throw zn::RunAborted(
            zn::Format("OnDpcmApply: %d bits per sample cannot be coded (1 to 6)", par.nBits));
    if (par.nLevels != DpcmLevelsFor(par.nBits, true) && par.nLevels != DpcmLevelsFor(par.nBits, false))
        throw zn::RunAborted(zn::Format("OnDpcmApply: %d levels cannot be coded with %d bits per sample",
                                        par.nLevels, par.nBits));
    if (!(par.fErrorProb >= 0.0f && par.fErrorProb <= 1.0f))
        throw zn::RunAborted("OnDpcmApply: The channel error probability must lie between 0 and 1");
    if (tableDir.empty())
        throw zn::RunAborted(zn::kNoTablesDirMessage);
    if (!image || !image->IsValid())
        throw zn::RunAborted("OnDpcmApply: No image to code");
}

// Rows of the normalised autocorrelation and the predictor, laid out as the neighbours stand
// around the predicted sample x.
std::string StatisticsText(float vari, float **cc, const float *coef, float predVari)
{
    // A flat image has no variance to normalise by; its correlations are all 0 and stay so.
    const double norm = vari > 0 ? D(vari) : 1.0;
    std::string t = zn::Format("  Variance of original image        :%7.1f \r\n", D(vari));
    t += "  Normalized Autocorrelation matrix:\r\n";
    for (int dy = -2; dy <= 2; ++dy) {
        t += "     |";
        for (int dx = -2; dx <= 2; ++dx)
            t += zn::Format(" %5.3f ", D(cc[dy][dx]) / norm);
        t += "|\r\n";
    }
    t += "\r\n";
    t += "  Optimal Prediction Coefficients:\r\n";
    t += zn::Format("     %6.3f    %6.3f    %6.3f\r\n", D(coef[PRED_UPPER_LEFT]), D(coef[PRED_UPPER]),
                    D(coef[PRED_UPPER_RIGHT]));
    t += zn::Format("     %6.3f       x \r\n", D(coef[PRED_LEFT]));
    t += "\r\n";
    t += zn::Format("  Variance of prediction error\t:%7.1f\r\n", D(predVari));
    if (predVari > 0)
        t += zn::Format("  Prediction gain\t\t:%7.1f\r\n", D(vari) / D(predVari));
    else if (vari > 0)
        t += "  Prediction gain\t\t: Infinite\r\n";
    else
        t += zn::Format("  Prediction gain\t\t:%7.1f\r\n", 1.0); // nothing to predict
    t += "\r\n";
    return t;
}

std::string MeasureLines(float rate, float entropy, const zn::Measures &m)
{
    std::string t = "DPCM CODING RESULTS:\r\n";
    t += zn::Format("   Coded bitrate\t\t: %.1f (bpp)\r\n", D(rate));
    t += zn::Format("   Est. entropy-coded bitrate\t: %.1f (bpp)\r\n", D(entropy));
    t += zn::Format("   Mean square error\t\t: %.1f \r\n", D(m.mse));
    if (m.errorFree) {
        t += "   Signal-to-noise ratio\t: Infinite (dB)\r\n";
        t += "   PSNR\t\t\t: Infinite (dB)\r\n";
    } else {
        t += zn::Format("   Signal-to-noise ratio\t: %.1f (dB)\r\n", D(m.snr));
        t += zn::Format("   PSNR\t\t\t: %.1f (dB)\r\n", D(m.psnr));
    }
    return t;
}

} // namespace

int DpcmLevelsFor(int bits, bool fewer)
{
    if (bits <= 1)
        return 2;
    const int all = 1 << std::min(bits, 30);
    return fewer ? all - 1 : all;
}

const zn::ValueTag &DpcmErrorTag(float prob)
{
    return zn::FindValueTag(prob, kErrorTags);
}

DpcmRunResult DpcmCodeImage(const DpcmParams &par, const CDib *image, const std::string &title,
                            const std::string &tableDir, ZnImage *decoded, ZnImage *predError)
{
    CheckParams(par, image, tableDir);
    DpcmRunResult out;
    const int b = par.nBits;
    const int levels = par.nLevels;
    const float p = par.fErrorProb;

    ZnImage source;
    source.DibToZnImage(image);
    const int rows = source.Rows(), cols = source.Cols();
    decoded->Alloc(rows, cols);

    Quant *raw = nullptr;
    ReadQuant(&raw, tableDir, kDpcmQuantStem, kDpcmQuantPdf, levels);
    std::unique_ptr<Quant, QuantDeleter> q(raw);
    if (!SbcQuantUsable(q.get()) || q->levels != levels)
        throw zn::RunAborted("", zn::kMessageShown); // the reader has said why

    // Every index goes out as a b-bit word, also when only 2^b - 1 of the words are used.
    q->rate = static_cast<float>(b);
    q->code->type = VLC_TYPE_FLC;
    for (int i = 0; i < levels; ++i)
        q->code->VlcCodeLen[i] = b;
    const int model = std::clamp(par.nPredModel, 1, 4);

    Subb *sbRaw = nullptr;
    AllocSubb(&sbRaw, rows, cols, IMG_REP_FLOAT, IMG_SEQ_MONO);
    std::unique_ptr<Subb, SubbDeleter> sb(sbRaw);
    if (!sb->plane[0])
        throw zn::RunAborted("Fatal: Not enough memory");

    float mean = 0, vari = 0;
    SbcMeanVari(&mean, &vari, source.Data(), IMG_REP_FLOAT, rows, cols, 0, cols);
    const long n = static_cast<long>(rows) * cols;
    const float *src = source.Data();
    float *dec = decoded->Data();
    for (long i = 0; i < n; ++i)
        dec[i] = src[i] - mean;

    std::unique_ptr<float *, MatrixDeleter> ccHold(matrix(-2, 2, -2, 2));
    float **cc = ccHold.get();
    if (!cc)
        throw zn::RunAborted("Fatal: Not enough memory");
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            cc[dy][dx] = 0;
    SbcCorr2d(cc, 5, source.Data(), IMG_REP_FLOAT, rows, cols, 0, cols);

    float *coef = out.coef;
    float predVari = 0;
    YuleWalker2d(&predVari, coef, cc, 5, model);
    // Rounding can leave a hair below zero for a perfectly predictable image; a variance cannot be.
    if (!(predVari > 0))
        predVari = 0;
    out.variance = vari;
    out.predVariance = predVari;
    out.results = StatisticsText(vari, cc, coef, predVari);

    const float sigma = std::sqrt(predVari);
    q->distortion *= predVari;
    for (int i = 0; i < levels; ++i) {
        q->reconstruction[i] *= sigma;
        q->thresholds[i] *= sigma;
    }

    float rate = 0, distortion = 0;
    SbcDpcmQuantPred(&rate, &distortion, q.get(), coef, p, sb->plane[0], dec, IMG_REP_FLOAT, rows, cols, 0,
                     cols);
    for (long i = 0; i < n; ++i)
        dec[i] += mean;

    out.rate = rate;
    out.entropy = q->entropy;
    zn::RoundToGreyLevels(decoded);
    out.measures = zn::MeasureReconstruction(source, *decoded);
    const zn::Measures &m = out.measures;
    out.results += MeasureLines(rate, q->entropy, m);

    const std::string errorLine =
        p != 0.0f ? zn::Format("Channel Errors Probability\t: %1.4f", D(p)) : "No Channel Errors Simulated";
    const char *head = "%s image\r\n   Bitrate\t\t\t\t: %i\r\n   Number of Levels\t\t: %i\r\n   %s\r\n";
    out.description = zn::Format((std::string("DPCM ENCODED ") + head).c_str(), title.c_str(), b, levels,
                                 errorLine.c_str());
    if (m.errorFree)
        out.description +=
            zn::Format("\r\n   Coded Bitrate\t\t\t:%7.2f (bpp)\r\n   Est. entropy-coded Bitrate\t:%7.2f "
                       "(bpp)\r\n   Mean Square Error\t\t:%7.1f\r\n   Signal-to-Noise Ratio\t\t: "
                       "Infinite (dB)\r\n   PSNR\t\t\t\t: Infinite (dB)",
                       D(rate), D(q->entropy), D(m.mse));
    else
        out.description +=
            zn::Format("\r\n   Coded Bitrate\t\t\t:%7.2f (bpp)\r\n   Est. entropy-coded Bitrate\t:%7.2f "
                       "(bpp)\r\n   Mean Square Error\t\t:%7.1f\r\n   Signal-to-Noise Ratio\t\t:%7.1f "
                       "(dB)\r\n   PSNR\t\t\t\t:%7.1f (dB)",
                       D(rate), D(q->entropy), D(m.mse), D(m.snr), D(m.psnr));
    out.descriptionA = zn::Format((std::string("DPCM PREDICTION ERROR of the ") + head).c_str(),
                                  title.c_str(), b, levels, errorLine.c_str());

    const zn::ValueTag &et = DpcmErrorTag(p);
    const std::string tag = zn::Format("Bitr:%i Levels:%i Errors:%s", b, levels, et.caption);
    out.name = zn::ResultImageName("DPCM", title, zn::Format("_%i_%i_%s", b, levels, et.name));
    out.caption = zn::ResultCaption("DPCM", title, tag);
    out.nameA = zn::ResultImageName("DPCM", title, "_pred");
    out.captionA = "DPCM: PRED.ERROR(" + title + ") " + tag;

    // The errors are drawn scaled to their own largest magnitude around mid-grey.
    if (predError)
        predError->DispSubb(sb.get(), 0);
    return out;
}
