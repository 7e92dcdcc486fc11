// The SPIHT module's Apply without the dialog: what the user gets from one press of Apply.
#include "modules/spiht/spiht_run.h"

#include "image/cdib.h"
#include "modules/spiht/spiht_coder.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/tempfile.h"

#include <vector>

void SpihtSession::CloseStream()
{
    zn::CloseAndRemove(&m_pStream, &m_szStreamName);
}

void SpihtSession::Forget()
{
    CloseStream();
    m_nLastSmoothing = -1;
    m_fLastEncRate = -1.0f;
}

void SpihtSession::Apply(const CDib &image, const std::string &T, const SpihtParams &parIn,
                         const std::string &userDir, SpihtApplyResult *out)
{
    SpihtParams par = parIn;
    if (par.m_fDecRate > par.m_fEncRate)
        par.m_fDecRate = par.m_fEncRate;
    ZnImage O;
    O.DibToZnImage(&image);
    try {
        out->encoded = false;
        if (par.m_fEncRate != m_fLastEncRate || par.m_nSmoothing != m_nLastSmoothing) {
            Forget();
            m_sEncoderText = "SPIHT Encoder:\r\n";
            Spiht_Image_Encoder encoder(userDir, &m_sEncoderText);
            m_nLevels = encoder.compress(O, &out->originalBands, &m_pStream, &m_szStreamName, par.m_fEncRate,
                                         par.m_nSmoothing);
            if (m_nLevels == 0)
                return; // refused with its message; no stream, and the next Apply encodes again
            m_fLastEncRate = par.m_fEncRate;
            m_nLastSmoothing = par.m_nSmoothing;
            out->encoded = true;
        }
        Spiht_Image_Decoder decoder;
        decoder.recover(&out->decoded, &out->decodedBands, m_pStream, par.m_fDecRate);
        // A stream that ends short of the budget of the rate asked, by more than the report's two
        // decimals show, was decoded whole, at the rate it holds.
        const double pixels = double(out->decoded.Rows()) * out->decoded.Cols();
        const long budget = SpihtByteBudget(out->decoded.Cols(), out->decoded.Rows(), par.m_fDecRate);
        const bool whole = pixels > 0 && 8.0 * double(budget - decoder.BytesUsed()) > 0.005 * pixels;
        out->decRate = whole ? static_cast<float>(8.0 * decoder.BytesUsed() / pixels) : par.m_fDecRate;
    } catch (...) {
        Forget();
        throw;
    }
    out->done = true;
    out->levels = m_nLevels;
    m_fLastDecRate = par.m_fDecRate;
    zn::RoundToGreyLevels(&out->decoded);
    const zn::Measures m = zn::MeasureReconstruction(O, out->decoded);
    out->measures = m;
    const int L = m_nLevels, s = par.m_nSmoothing;
    const float r = par.m_fDecRate;
    out->results = m_sEncoderText + "SPIHT DECODING RESULTS:\r\n";
    if (m.errorFree)
        out->results += zn::Format(
            "  #Wavelet resolution levels\t:  %i\r\n  Decoded Bitrate\t\t:%6.2f (bpp)\r\n  Smoothing "
            "level\t\t:  %i\r\n  Mean Square Error\t\t:%6.1f\r\n  Signal-to-Noise Ratio\t: "
            "Infinite (dB)\r\n  PSNR\t\t\t: Infinite (dB)\r\n\r\n",
            L, out->decRate, s, m.mse);
    else
        out->results += zn::Format(
            "  #Wavelet resolution levels\t:  %i\r\n  Decoded Bitrate\t\t:%6.2f (bpp)\r\n  Smoothing "
            "level\t\t:  %i\r\n  Mean Square Error\t\t:%6.1f\r\n  Signal-to-Noise "
            "Ratio\t:%6.1f (dB)\r\n  PSNR\t\t\t:%6.1f (dB)\r\n\r\n",
            L, out->decRate, s, m.mse, m.snr, m.psnr);

    const std::string N = zn::Format("_%i_%1.2f_%i", L, r, s);
    const std::string tags = zn::Format(" Enc Levels:%i Dec Bitr %2.2f Smoothing: %i", L, r, s);
    out->nameChain = zn::ResultImageName("SPIHT", T, N);
    out->captionChain = zn::ResultCaption("SPIHT", T, tags);
    if (m.errorFree)
        out->descChain =
            zn::Format("SPIHT ENCODED %s image\r\n   Encoded bitrate\t\t:  %3.2f (bpp)\r\n   #Wavelet "
                       "resolution levels\t:  %i\r\n\r\n   Decoded bitrate\t\t:  %3.2f (bpp)\r\n   "
                       "Smoothing\t\t\t:  %i\r\n   Mean Square Error\t\t:%6.1f\r\n   Signal-to-Noise "
                       "Ratio\t\t: Infinite (dB)\r\n   PSNR\t\t\t\t: Infinite (dB)\r\n\r\n",
                       T.c_str(), par.m_fEncRate, L, out->decRate, s, m.mse);
    else
        out->descChain =
            zn::Format("SPIHT ENCODED %s image\r\n   Encoded bitrate\t\t:  %3.2f (bpp)\r\n   #Wavelet "
                       "resolution levels\t:  %i\r\n\r\n   Decoded bitrate\t\t:  %3.2f (bpp)\r\n   "
                       "Smoothing\t\t\t:  %i\r\n   Mean Square Error\t\t:%6.1f\r\n   Signal-to-Noise "
                       "Ratio\t\t:%6.1f (dB)\r\n   PSNR\t\t\t\t:%6.1f (dB)\r\n\r\n",
                       T.c_str(), par.m_fEncRate, L, out->decRate, s, m.mse, m.snr, m.psnr);
    out->nameA = out->nameChain + "_osub";
    out->captionA = "SPIHT: ORIGINAL SUBS(" + T + "): " + tags;
    out->descA =
        out->encoded
            ? zn::Format("ORIGINAL SUBBANDS of the %s image\r\n   #Wavelet resolution levels\t: %i\r\n",
                         T.c_str(), L)
            : std::string();
    out->nameB = out->nameChain + "_csub";
    out->captionB = "SPIHT: CODED SUBS(" + T + "): " + tags;
    out->descB =
        zn::Format("ENCODED SUBBANDS of the %s image\r\n   #Wavelet resolution levels\t: %i\r\n   Decoded "
                   "bitrate\t\t: %3.2f (bpp)\r\n   Smoothing\t\t\t: %i",
                   T.c_str(), L, out->decRate, s);
}
