// The EZW module's Apply without the dialog: what the user gets from one press of Apply.
#include "modules/ezw/ezw_run.h"

#include "image/cdib.h"
#include "modules/ezw/ezw_coder.h"
#include "platform/errors.h"
#include "platform/format.h"

#include <algorithm>

namespace {

// The part of the source the decoder returned (the coder keeps the top-left multiple of 2^L).
void CropTo(const ZnImage &src, int rows, int cols, ZnImage *dst)
{
    dst->Alloc(rows, cols);
    for (int y = 0; y < rows; ++y)
        std::copy_n(src.Data() + static_cast<size_t>(y) * src.Cols(), cols,
                    dst->Data() + static_cast<size_t>(y) * cols);
}

} // namespace

void EzwSession::Forget()
{
    m_stream.Remove();
    m_fLastEncRate = 10.9f;
    m_nLastWaveletLevels = 0;
}

void EzwSession::Apply(const CDib &image, const std::string &T, const EzwParams &par,
                       const std::string &userDir, EzwApplyResult *out)
{
    ZnImage input;
    input.DibToZnImage(&image);
    const int L = par.nWaveletLevels;
    const float r = par.fDecRate;
    try {
        out->encoded = false;
        if (L != m_nLastWaveletLevels || par.fEncRate != m_fLastEncRate) {
            Forget();
            if (!m_stream.Create(userDir, "ezw"))
                throw zn::RunAborted("EZW: the temporary stream file could not be created in \"" + userDir +
                                     "\". Do you have write permission there?");
            m_sEncoderText = "EZW Encoder:\r\n" +
                             EzwEncodeImage(m_stream.File(), input, &out->originalBands, par.fEncRate, L);
            m_fLastEncRate = par.fEncRate;
            m_nLastWaveletLevels = L;
            out->encoded = true;
        }
        const EzwDecodeResult d = EzwDecodeImage(m_stream.File(), &out->decoded, &out->decodedBands, r);
        out->decRate = d.rate;
        out->results = m_sEncoderText + "\r\nEZW DECODING RESULTS:\r\n" + d.text;
    } catch (...) {
        Forget();
        throw;
    }

    ZnImage source;
    CropTo(input, out->decoded.Rows(), out->decoded.Cols(), &source);
    const zn::Measures m = zn::MeasureReconstruction(source, out->decoded);
    out->measures = m;
    if (m.errorFree)
        out->results += zn::Format(
            " Mean Square Error\t     :%6.1f\r\n Signal-to-Noise Ratio   : Infinite (dB)\r\n PSNR\t\t  "
            "   : Infinite (dB)\r\n\r\n",
            m.mse);
    else
        out->results += zn::Format(
            " Mean Square Error\t     :%6.1f\r\n Signal-to-Noise Ratio   :%6.1f (dB)\r\n PSNR\t\t  "
            "   :%6.1f (dB)\r\n\r\n",
            m.mse, m.snr, m.psnr);

    const std::string N = zn::Format("_%i_%1.2f", L, r);
    const std::string P = zn::Format(" Levels:%i Bitrate: %1.2f ", L, r);
    out->nameChain = zn::ResultImageName("EZW", T, N);
    out->captionChain = zn::ResultCaption("EZW", T, P);
    if (m.errorFree)
        out->descChain =
            zn::Format("EZW DECODED %s image\r\n   Encoded bit rate\t\t: %.2f (bpp)\r\n   #Wavelet "
                       "resolution levels\t: %i\r\n\r\n   Decoded bit rate\t\t: %3.2f (bpp)\r\n   Mean "
                       "Square Error\t\t:%6.1f\r\n   Signal-to-Noise Ratio\t\t: Infinite (dB)\r\n   "
                       "PSNR\t\t\t\t: Infinite (dB)\r\n\r\n",
                       T.c_str(), par.fEncRate, L + 1, out->decRate, m.mse);
    else
        out->descChain =
            zn::Format("EZW DECODED %s image\r\n   Encoded bit rate\t\t: %.2f (bpp)\r\n   #Wavelet "
                       "resolution levels\t: %i\r\n\r\n   Decoded bit rate\t\t: %3.2f (bpp)\r\n   Mean "
                       "Square Error\t\t:%6.1f\r\n   Signal-to-Noise Ratio\t\t:%6.1f (dB)\r\n   "
                       "PSNR\t\t\t\t:%6.1f (dB)\r\n\r\n",
                       T.c_str(), par.fEncRate, L + 1, out->decRate, m.mse, m.snr, m.psnr);
    out->nameA = out->nameChain + "_osub";
    out->captionA = "EZW: ORIGINAL SUBS(" + T + "): " + P;
    out->descA =
        out->encoded
            ? zn::Format("ORIGINAL WAVELET COEFFICIENTS (SUBBANDS)\r\nof the %s image\r\n   #Wavelet "
                         "resolution levels\t: %i\r\n",
                         T.c_str(), L + 1)
            : std::string();
    out->nameB = out->nameChain + "_csub";
    out->captionB = "EZW: DECODED SUBS(" + T + "): " + P;
    out->descB =
        zn::Format("WAVELET COEFFICIENTS (SUBBANDS) AFTER DECODING\r\nof the %s image\r\n   #Wavelet "
                   "resolution levels\t: %i\r\n   Decoded bit rate\t\t: %3.2f (bpp)\r\n",
                   T.c_str(), L + 1, out->decRate);
}
