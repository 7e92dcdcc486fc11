// The fractal module's run: encoder, decoder, measures and texts.
#include "modules/fractal/fractal_coder.h"

#include "image/cdib.h"
#include "image/znimage.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/messages.h"

namespace {

double D(float v)
{
    return static_cast<double>(v);
}

std::string ResultText(const FicRunResult &r)
{
    const zn::Measures &m = r.measures;
    std::string text;
    if (r.encoded)
        text = zn::Format("  Coded Bitrate\t\t:%6.2f (bpp)\r\n  Fitting Blocks\t\t:%6.2f\r\n", D(r.rate),
                          D(r.fitting));
    text += zn::Format("  Mean Square Error\t\t:%6.1f\r\n", D(m.mse));
    if (m.errorFree)
        text += "  Signal-to-Noise Ratio\t: Infinite (dB)\r\n  PSNR\t\t\t: Infinite (dB)\r\n\r\n";
    else
        text += zn::Format("  Signal-to-Noise Ratio\t:%6.1f (dB)\r\n  PSNR\t\t\t:%6.1f (dB)\r\n\r\n",
                           D(m.snr), D(m.psnr));
    return text;
}

std::string Description(const FicParams &p, const FicRunResult &r, const std::string &title)
{
    const zn::Measures &m = r.measures;
    std::string text = zn::Format("FRACTAL ENCODED %s image\r\n   Minimum Block Size\t\t:  %i\r\n"
                                  "   Maximum Block Size\t\t:  %i\r\n   Threshold\t\t\t:  %i\r\n"
                                  "   Bits for Scaling\t\t\t:  %i\r\n   Bits for Offset\t\t\t:  %i\r\n"
                                  "   Number of Iterations\t\t:  %i\r\n\r\n",
                                  title.c_str(), p.nMinBlock, p.nMaxBlock, p.nThreshold, p.nScalingBits,
                                  p.nOffsetBits, p.nIterations);
    if (r.encoded)
        text +=
            zn::Format("   Coded Bitrate\t\t\t: %7.2f (bpp)\r\n   Percentage of Fitting Blocks\t: %7.2f\r\n",
                       D(r.rate), D(r.fitting));
    text += zn::Format("\r\n   Mean Square Error\t\t:%7.1f\r\n", D(m.mse));
    if (m.errorFree)
        text += "   Signal-to-Noise Ratio\t\t: Infinite (dB)\r\n   PSNR\t\t\t\t: Infinite (dB)";
    else
        text += zn::Format("   Signal-to-Noise Ratio\t\t:%7.1f (dB)\r\n   PSNR\t\t\t\t:%7.1f (dB)", D(m.snr),
                           D(m.psnr));
    return text;
}

} // namespace

std::string FicNameSuffix(const FicParams &p)
{
    return zn::Format("_%i_%i_%i_%i_%i_%i", p.nMinBlock, p.nMaxBlock, p.nThreshold, p.nScalingBits,
                      p.nOffsetBits, p.nIterations);
}

std::string FicCaptionTags(const FicParams &p)
{
    return zn::Format("MinSz:%i MaxSz:%i Acc:%i Scal:%i Off:%i Iter:%i", p.nMinBlock, p.nMaxBlock,
                      p.nThreshold, p.nScalingBits, p.nOffsetBits, p.nIterations);
}

FicRunResult FicCodeImage(const FicParams &par, bool encode, float lastRate, const CDib *image,
                          const std::string &title, const std::string &userDir, ZnImage *decoded)
{
    if (!image || !image->IsValid())
        throw zn::RunAborted("OnFICApply: No image to code");
    if (par.nIterations < 1)
        throw zn::RunAborted(zn::Format("OnFICApply: %i iterations cannot be decoded", par.nIterations));
    const FicEncodeParams ep{par.nMaxBlock, par.nMinBlock, par.nThreshold, par.nScalingBits, par.nOffsetBits};

    ZnImage source;
    source.DibToZnImage(image);
    const int rows = source.Rows(), cols = source.Cols();
    // Refused before anything is written, so the code file of an earlier run stays as it was.
    const std::string settings = FicSettingsProblem(rows, cols, ep);
    if (!settings.empty())
        throw zn::RunAborted(settings);
    decoded->Alloc(rows, cols);
    const std::string path = userDir + kFicCodeFileName;

    FicRunResult r;
    r.rate = lastRate;
    if (!encode) {
        // The file is shared: another document's encoding may have replaced it since.
        if (FicCheckCodeFile(path, rows, cols) == kFicCodeDoesNotFit)
            encode = true;
    }
    if (encode) {
        float out[2] = {0, 0};
        std::string problem;
        if (!FractalEncoder(source, ep, path, out, &problem))
            throw zn::RunAborted(problem);
        r.encoded = true;
        r.rate = out[0];
        r.fitting = out[1];
    }
    if (FractalDecoder(decoded, par.nIterations, path) != kFicDecoded) {
        r.noCodeFile = true;
        zn::ShowMessage(kFicNoCodeMessage);
    }

    zn::RoundToGreyLevels(decoded);
    r.measures = zn::MeasureReconstruction(source, *decoded);
    r.results = ResultText(r);
    r.description = Description(par, r, title);
    r.name = zn::ResultImageName("FIC", title, r.encoded ? FicNameSuffix(par) : "");
    r.caption = zn::ResultCaption("FIC", title, r.encoded ? FicCaptionTags(par) : "");
    return r;
}
