// The PCM run behind the module's Apply: quantiser, dither, channel, measures and the texts the
// module reports. A uniform quantiser with mid-step reconstruction is the plainest coder there is;
// the dither trades its contouring for noise, and subtracting the known dither at the receiver
// turns the quantisation error into noise independent of the picture.
#include "modules/pcm/pcm_coder.h"

#include "image/cdib.h"
#include "image/tables.h"
#include "image/znimage.h"
#include "modules/sbc/sbc_quant.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/random.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

constexpr zn::ValueTag kDitherTags[] = {
    {0.0f, "No", "No"}, {0.75f, "075", "0.75"}, {1.0f, "1", "1"}, {1.5f, "15", "1.5"}, {2.0f, "2", "2"},
};
constexpr zn::ValueTag kErrorTags[] = {
    {0.0f, "No", "No"},          {0.005f, "005", "0.005"},    {0.001f, "001", "0.001"},
    {0.0005f, "0005", "0.0005"}, {0.0001f, "0001", "0.0001"},
};

struct QuantDeleter
{
    void operator()(Quant *q) const { FreeQuant(q); }
};

// Uniform dither of factor x step, centred on 0. The generator restarts at every dithered run.
void AddDither(const ZnImage &source, ZnImage &coded, ZnImage &dither, float factor, int step)
{
    zn::SeedRandFromClock();
    const float inv = 1.0f / 32767.0f;
    const long n = static_cast<long>(source.Rows()) * source.Cols();
    const float *src = source.Data();
    float *d = dither.Data();
    float *c = coded.Data();
    for (long i = 0; i < n; ++i) {
        const long double r = zn::Rand();
        d[i] = static_cast<float>((r * inv - 0.5L) * factor * step);
        c[i] = src[i] + d[i];
    }
}

std::string MeasureLines(const char *fmt, float value)
{
    return zn::Format(fmt, static_cast<double>(value));
}

} // namespace

const zn::ValueTag &PcmDitherTag(float factor)
{
    return zn::FindValueTag(factor, kDitherTags);
}

const zn::ValueTag &PcmErrorTag(float prob)
{
    return zn::FindValueTag(prob, kErrorTags);
}

Quant *PcmMakeQuantizer(int bits)
{
    const int levels = static_cast<int>(std::pow(2.0, bits));
    const int step = 256 / levels;
    Quant *q = nullptr;
    AllocQuant(&q, levels, bits);
    std::unique_ptr<Quant, QuantDeleter> guard(q);
    if (q->levels != levels || !q->code)
        throw zn::RunAborted("PcmMakeQuantizer: Not enough memory", zn::kMessageShown);
    q->type = 0;
    q->rate = static_cast<float>(bits);
    q->distortion = 0;
    q->entropy = 0;
    for (int i = 0; i < levels; ++i) {
        q->reconstruction[i] = static_cast<float>(i * step + step / 2);
        q->thresholds[i] = static_cast<float>(i > 0 ? i * step : 0);
        q->probabilities[i] = 1.0f / static_cast<float>(levels);
        q->code->VlcCodeLen[i] = bits;
    }
    return guard.release();
}

PcmRunResult PcmCodeImage(const PcmParams &par, const CDib *image, const std::string &title, ZnImage *decoded)
{
    if (par.nBits < 1 || par.nBits > 7)
        throw zn::RunAborted(zn::Format("OnPcmApply: %d bits per pixel cannot be coded (1 to 7)", par.nBits));
    if (!image || !image->IsValid())
        throw zn::RunAborted("OnPcmApply: No image to code");

    PcmRunResult out;
    const int b = par.nBits;
    const bool errors = par.fErrorProb != 0.0f;
    const bool dithered = par.fDitherFactor != 0.0f;

    ZnImage source, dither;
    source.DibToZnImage(image);
    const int rows = source.Rows(), cols = source.Cols();
    decoded->Alloc(rows, cols);
    dither.Alloc(rows, cols);
    const int levels = static_cast<int>(std::pow(2.0, b));
    const int step = 256 / levels;

    out.results = "Selected Uniform Quantizer:\r\n";
    out.results += zn::Format("   Quantizer #levels                : %i \r\n", levels);
    out.results += zn::Format("   Quantizer stepsize               : %i \r\n", step);
    out.results += "\r\n";

    std::unique_ptr<Quant, QuantDeleter> q(PcmMakeQuantizer(b));

    const long n = static_cast<long>(rows) * cols;
    if (dithered)
        AddDither(source, *decoded, dither, par.fDitherFactor, step);
    else
        std::copy(source.Data(), source.Data() + n, decoded->Data());

    float rate = 0, distortion = 0;
    SbcPcmQuantize(&rate, &distortion, q.get(), errors ? par.fErrorProb : 0.0f, decoded->Data(),
                   IMG_REP_FLOAT, rows, cols, 0, cols);

    if (dithered && par.bSubtractDither) {
        float *c = decoded->Data();
        const float *d = dither.Data();
        for (long i = 0; i < n; ++i) {
            const float v = c[i] - d[i];
            c[i] = v < 0.0f ? 0.0f : (v >= 255.0f ? 255.0f : v);
        }
    }

    out.rate = rate;
    zn::RoundToGreyLevels(decoded);
    out.measures = zn::MeasureReconstruction(source, *decoded);
    const zn::Measures &m = out.measures;

    out.results += "PCM CODING RESULTS:\r\n";
    out.results += MeasureLines("   Coded bitrate \t\t: %.1f (bpp)\r\n", rate);
    out.results += MeasureLines("   Mean square error\t\t: %.1f \r\n", m.mse);
    if (m.errorFree) {
        out.results += "   Signal-to-noise ratio\t: Infinite (dB)\r\n";
        out.results += "   PSNR\t\t\t: Infinite (dB)\r\n";
    } else {
        out.results += MeasureLines("   Signal-to-noise ratio\t: %.1f (dB)\r\n", m.snr);
        out.results += MeasureLines("   PSNR\t\t\t: %.1f (dB)\r\n", m.psnr);
    }

    std::string ditherLine, subtractLine, errorLine;
    if (dithered) {
        ditherLine = zn::Format("Dithering Stepsize\t\t: %1.2f", static_cast<double>(par.fDitherFactor));
        subtractLine = par.bSubtractDither == 1 ? "Dithering is subtracted from encoded image"
                                                : "Dithering not subtracted from encoded image";
    } else {
        ditherLine = "No Dithering applied";
    }
    errorLine = errors
                    ? zn::Format("Channel Errors Probability\t: %1.4f", static_cast<double>(par.fErrorProb))
                    : "No Channel Errors Simulated";
    out.description =
        zn::Format("PCM ENCODED %s image\r\n   Bitrate\t\t\t\t: %i\r\n   %s\r\n   %s\r\n\r\n   %s\r\n",
                   title.c_str(), b, ditherLine.c_str(), errorLine.c_str(), subtractLine.c_str());
    if (m.errorFree)
        out.description +=
            zn::Format("\r\n   Coded Bitrate\t\t\t:%7.2f (bpp)\r\n   Mean Square Error\t\t:%7.1f\r\n"
                       "   Signal-to-Noise Ratio\t\t: Infinite (dB)\r\n   PSNR\t\t\t\t: Infinite (dB)",
                       static_cast<double>(rate), static_cast<double>(m.mse));
    else
        out.description +=
            zn::Format("\r\n   Coded Bitrate\t\t\t:%7.2f (bpp)\r\n   Mean Square Error\t\t:%7.1f\r\n"
                       "   Signal-to-Noise Ratio\t\t:%7.1f (dB)\r\n   PSNR\t\t\t\t:%7.1f (dB)",
                       static_cast<double>(rate), static_cast<double>(m.mse), static_cast<double>(m.snr),
                       static_cast<double>(m.psnr));

    const zn::ValueTag &dt = PcmDitherTag(par.fDitherFactor);
    const zn::ValueTag &et = PcmErrorTag(par.fErrorProb);
    out.name = zn::ResultImageName("PCM", title, zn::Format("_%i_%s_%s", b, dt.name, et.name));
    out.caption =
        zn::ResultCaption("PCM", title, zn::Format("Bitr:%i Dith:%s Errors:%s", b, dt.caption, et.caption));
    return out;
}
