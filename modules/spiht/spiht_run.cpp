// The SPIHT module's Apply without the dialog: what the user gets from one press of Apply.
#include "modules/spiht/spiht_run.h"

#include "image/cdib.h"
#include "modules/spiht/spiht_coder.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/messages.h"

#include <vector>

namespace {

bool WriteAll(std::FILE *f, const std::vector<uint8_t> &bytes)
{
    std::rewind(f);
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && std::fflush(f) == 0;
    std::rewind(f);
    return ok;
}

bool ReadAll(std::FILE *f, std::vector<uint8_t> *bytes)
{
    std::rewind(f);
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes->insert(bytes->end(), buf, buf + n);
    const bool ok = !std::ferror(f);
    std::clearerr(f);
    std::rewind(f);
    return ok;
}

} // namespace

void SpihtSession::Forget()
{
    m_stream.Remove();
    m_nLastSmoothing = -1;
    m_fLastEncRate = -1.0f;
}

void SpihtSession::Apply(const CDib &image, const std::string &T, const SpihtParams &parIn,
                         const std::string &userDir, SpihtApplyResult *out)
{
    SpihtParams par = parIn;
    if (par.fDecRate > par.fEncRate)
        par.fDecRate = par.fEncRate;
    ZnImage O;
    O.DibToZnImage(&image);
    try {
        out->encoded = false;
        if (par.fEncRate != m_fLastEncRate || par.nSmoothing != m_nLastSmoothing) {
            Forget();
            SpihtEncodeResult e = SpihtCompress(O, &out->originalBands, par.fEncRate, par.nSmoothing);
            if (e.levels == 0)
                return; // refused with its message; no stream, and the next Apply encodes again
            if (!m_stream.Create(userDir, "sph")) {
                zn::ShowMessage(
                    "(CSpiht_Encoder::reset) Error creating temporary output file.\nDo you have correct "
                    "write permission?");
                throw zn::RunAborted("", zn::kMessageShown);
            }
            if (!WriteAll(m_stream.File(), e.stream))
                throw zn::RunAborted("SPIHT: the stream could not be written to its temporary file.");
            m_nLevels = e.levels;
            m_sEncoderText = "SPIHT Encoder:\r\n" + e.text;
            m_fLastEncRate = par.fEncRate;
            m_nLastSmoothing = par.nSmoothing;
            out->encoded = true;
        }
        std::vector<uint8_t> bytes;
        if (!ReadAll(m_stream.File(), &bytes))
            throw zn::RunAborted("SPIHT: the stream could not be read from its temporary file.");
        const SpihtDecodeResult d = SpihtRecover(bytes, &out->decoded, &out->decodedBands, par.fDecRate);
        // A stream that ends short of the budget of the rate asked, by more than the report's two
        // decimals show, was decoded whole, at the rate it holds.
        const double pixels = double(out->decoded.Rows()) * out->decoded.Cols();
        const long budget = SpihtByteBudget(out->decoded.Cols(), out->decoded.Rows(), par.fDecRate);
        const bool whole = pixels > 0 && 8.0 * double(budget - d.bytesUsed) > 0.005 * pixels;
        out->decRate = whole ? static_cast<float>(8.0 * d.bytesUsed / pixels) : par.fDecRate;
    } catch (...) {
        Forget();
        throw;
    }
    out->done = true;
    out->levels = m_nLevels;
    zn::RoundToGreyLevels(&out->decoded);
    const zn::Measures m = zn::MeasureReconstruction(O, out->decoded);
    out->measures = m;
    const int L = m_nLevels, s = par.nSmoothing;
    const float r = par.fDecRate;
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
                       T.c_str(), par.fEncRate, L, out->decRate, s, m.mse);
    else
        out->descChain =
            zn::Format("SPIHT ENCODED %s image\r\n   Encoded bitrate\t\t:  %3.2f (bpp)\r\n   #Wavelet "
                       "resolution levels\t:  %i\r\n\r\n   Decoded bitrate\t\t:  %3.2f (bpp)\r\n   "
                       "Smoothing\t\t\t:  %i\r\n   Mean Square Error\t\t:%6.1f\r\n   Signal-to-Noise "
                       "Ratio\t\t:%6.1f (dB)\r\n   PSNR\t\t\t\t:%6.1f (dB)\r\n\r\n",
                       T.c_str(), par.fEncRate, L, out->decRate, s, m.mse, m.snr, m.psnr);
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
