// The subsampling Apply as a sequence of engine calls, with the module's texts.
#include "modules/subsampling/ss_run.h"

#include "image/cdib.h"
#include "image/numeric.h"
#include "image/tables.h"
#include "modules/subsampling/ss_engine.h"
#include "platform/messages.h"

#include <memory>

namespace {

struct FiltDeleter
{
    void operator()(Filt *f) const { FreeFilt(f); }
};
struct SpectrumDeleter
{
    void operator()(Spectrum *s) const { FreeSpectrum(s); }
};
using FiltPtr = std::unique_ptr<Filt, FiltDeleter>;
using SpectrumPtr = std::unique_ptr<Spectrum, SpectrumDeleter>;

SpectrumPtr NewSpectrum(int rows, int cols)
{
    Spectrum *s = nullptr;
    AllocSpectrum(&s, rows, cols);
    return SpectrumPtr(s);
}

} // namespace

const char *SsWindowName(int window)
{
    switch (window) {
    case 0:
        return "NONE";
    case 1:
        return "TRIANGULAR";
    default:
        return "HAMMING";
    }
}

void SsRun(const SsParams &par, const CDib *image, const std::string &title, SsRunResult *out)
{
    const int f = par.factor, taps = par.taps;
    const char *windowName = SsWindowName(par.window);
    const int rows = image->GetHeight(), cols = image->GetWidth();
    // A factor beyond a side would leave an image without rows or columns: nothing to show, and
    // nothing the spectrum could be repeated from.
    if (f < 0 || f > rows || f > cols) {
        zn::ShowMessage(
            zn::Format("Sorry: Subsampling factor %i is larger than the image (%i x %i).", f, rows, cols));
        out->refused = true;
        return;
    }

    ZnImage input;
    input.DibToZnImage(image);
    out->result.Alloc(rows, cols);
    out->spectrum.Alloc(rows, cols);

    if (f != 0) {
        Filt *raw = nullptr;
        if (taps != 0) {
            SsMakeFIR(&raw, taps, 0.5f / static_cast<float>(f), TAPER_HAMMING);
            if (!raw) {
                out->refused = true; // SsMakeFIR has said why
                return;
            }
            out->chainDescription = zn::Format("SUBSAMPLED %s image\r\n   Subsampling factor\t\t: %i\r\n"
                                               "   Anti-alias filter number of taps\t: %i\r\n",
                                               title.c_str(), f, taps);
        } else {
            // One tap of weight 1: plain decimation, every f-th sample as it is.
            AllocFilt1d(&raw, 1, 1, FILT_FIR);
            raw->coef1[0] = 1.0f;
            out->chainDescription = zn::Format("Subsampled %s image\r\n   Subsampling factor\t: %i\r\n"
                                               "   No anti-alias filter applied\r\n",
                                               title.c_str(), f);
        }
        FiltPtr filt(raw);
        DemoSsImg(input.img, filt.get(), f, out->result.img);
        filt.reset();

        out->results =
            zn::Format("  New image dimensions : %d x %d\r\n", out->result.Rows(), out->result.Cols());
        if (par.blowUp)
            out->results += "  Subsampled image is magnified by pixel\r\n  repeating\r\n";
        out->results += "\r\n";
        out->replaceText = true;

        if (par.window != -1) {
            SpectrumPtr spectrum = NewSpectrum(rows, cols);
            ImgFFT(out->result.img, spectrum.get(), par.window);
            // No quadrant swap: for an even factor the repeated plane looks the same shifted by half.
            SsRepeatSpectrum(spectrum.get(), f);
            out->spectrum.LogPowerSpectrum(spectrum.get());
            if (taps != 0)
                out->spectrumDescription = zn::Format("SPECTRUM of the %s image\r\n   Window type\t\t\t: "
                                                      "%s\r\n   Subsampling factor\t\t: %i\r\n"
                                                      "   Anti-alias filter number of taps\t: %i\r\n",
                                                      title.c_str(), windowName, f, taps);
            else
                out->spectrumDescription = zn::Format("SPECTRUM of the %s image\r\n   Window type\t\t\t: "
                                                      "%s\r\n   Subsampling factor\t\t: %i\r\n"
                                                      "   No anti-alias filter used\r\n",
                                                      title.c_str(), windowName, f);
            out->hasSpectrum = true;
        }
        if (par.blowUp)
            SsBlowUpImg(out->result.img, f);
        out->hasChain = true;
    } else if (par.window != -1) {
        SpectrumPtr spectrum = NewSpectrum(rows, cols);
        ImgFFT(input.img, spectrum.get(), par.window);
        SwapQuadrants(spectrum.get()); // frequency 0 in the centre
        out->spectrum.LogPowerSpectrum(spectrum.get());
        out->spectrumDescription =
            zn::Format("SPECTRUM of the %s image\r\n   Window type\t\t: %s\r\n   No subsampling\r\n",
                       title.c_str(), windowName);
        out->hasSpectrum = true;
    }

    out->chainCaption = "SS(" + title + "): " + zn::Format("Factor:%i Taps:%i", f, taps);
    out->chainName = "SS_" + title + zn::Format("_%i_%i", f, taps);
    out->spectrumCaption = "SPECTRUM(" + title + ") Window: " + windowName;
    out->spectrumName = "SPEC_" + title + zn::Format("_%i_%i", f, taps);
}
