// What a JPEG2000 Apply reports: the description the result window keeps, the result box's text,
// and the name and caption of the decoded image. Rates are named with two decimals; a lossless
// encoding is named "inf".
#include "jpeg2000/module/jp2_apply.h"

#include "platform/format.h"

double Jpeg2000DecodedBitrate(const Jpeg2000Decoding &d)
{
    const double pixels = double(d.cols) * d.rows;
    return pixels > 0 ? 8.0 * d.bytesRead / pixels : 0.0;
}

namespace {

// The decoding lines; the description aligns its labels with more tabs than the result box.
std::string DecodedLines(const Jpeg2000Decoding &d, const char *bitsTabs)
{
    return zn::Format("  Decoded #bits%s:%7lld\r\n  Decoded bitrate\t\t:%6.2f (bpp)\r\n"
                      "  Number of tiles decoded\t:%5d\r\n",
                      bitsTabs, 8LL * d.bytesRead, Jpeg2000DecodedBitrate(d), d.tiles);
}

// An error-free reconstruction has no finite SNR or PSNR: the text says so.
std::string MeasureLines(const zn::Measures &m, const char *snrTabs, const char *psnrTabs)
{
    const std::string snr = m.errorFree ? " Infinite" : zn::Format("%6.1f", double(m.snr));
    const std::string psnr = m.errorFree ? " Infinite" : zn::Format("%6.1f", double(m.psnr));
    return zn::Format("  Mean Square Error\t\t:%6.1f\r\n  Signal-to-Noise Ratio%s:%s (dB)\r\n"
                      "  PSNR%s:%s (dB)\r\n\r\n",
                      double(m.mse), snrTabs, snr.c_str(), psnrTabs, psnr.c_str());
}

} // namespace

std::string Jpeg2000Description(const Jpeg2000Params &p, const std::string &title, int32_t generatedBytes,
                                const Jpeg2000Decoding &d, bool measured, const zn::Measures &m)
{
    std::string t = zn::Format("JPEG2000 ENCODED %s image\r\n", title.c_str());
    if (p.Lossless())
        t += zn::Format("  File size has been determined by lossless encoding of wavelets coefficients\r\n"
                        "  Generated file size\t\t: %7lld (bits)\r\n",
                        8LL * generatedBytes);
    else
        t += zn::Format("  Encoded bitrate\t\t:  %3.2f (bpp)\r\n  Target file size\t\t\t:%7lld bits\r\n",
                        double(p.m_fEncRate), 8LL * d.truncBytes);
    t += zn::Format("  Number of resolution levels\t: %2d\r\n", p.m_nLevels + 1);
    if (p.m_bReversible)
        t += "  Encoder has used reversible wavelet decomposition\r\n";
    t += zn::Format("  Encoder codeblock size\t: %2d\r\n", p.m_nCodeBlock);
    if (p.m_bTiling)
        t += zn::Format("  Encoder has used tiling with size\t: %2d\r\n", p.m_nTileSize);
    if (p.m_bSnrLayers)
        t += "  Encoded bit stream is SNR scalable\r\n";
    if (p.m_bRoi)
        t += "  Encoder has used boosting of a circular area\r\n";
    t += "\r\n" + DecodedLines(d, "\t\t\t");
    if (measured)
        t += MeasureLines(m, "\t\t", "\t\t\t\t");
    return t;
}

std::string Jpeg2000ResultText(const std::string &encoderText, const Jpeg2000Decoding &d, bool measured,
                               const zn::Measures &m)
{
    std::string t = encoderText + kJpeg2000DecoderText + DecodedLines(d, "\t\t");
    if (measured)
        t += MeasureLines(m, "\t", "\t\t\t");
    return t;
}

std::string Jpeg2000ResultName(const Jpeg2000Params &p, const std::string &title)
{
    const std::string suffix = p.Lossless()
                                   ? zn::Format("_inf_%1.2f", double(p.m_fDecRate))
                                   : zn::Format("_%1.2f_%1.2f", double(p.m_fEncRate), double(p.m_fDecRate));
    return zn::ResultImageName("JPEG2000", title, suffix);
}

std::string Jpeg2000ResultCaption(const Jpeg2000Params &p, const std::string &title)
{
    const std::string tags =
        p.Lossless()
            ? zn::Format(" EncRate lossless; DecRate %2.2f", double(p.m_fDecRate))
            : zn::Format(" EncRate %2.2f; DecRate %2.2f", double(p.m_fEncRate), double(p.m_fDecRate));
    return zn::ResultCaption("JPEG2000", title, tags);
}
