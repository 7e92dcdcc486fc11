// The JPEG Apply: coder, decoder, measures, and the module's texts (result text, result-window
// description, name and caption of the result image).
#include "modules/jpeg/jpeg_run.h"

#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/jpeg/jpeg_coder.h"
#include "modules/jpeg/jpeg_tables.h"
#include "platform/errors.h"
#include "platform/format.h"

#include <algorithm>

namespace {

const char *const kTableNames[4] = {"Standard Y", "Standard UV", "Flat", "High-Emphasis"};
const char *const kTableTags[4] = {"Y", "UV", "Flt", "H-E"};
const char *const kHuffNames[3] = {"FLC", "Standard VLC", "Optimal VLC"};
const char *const kHuffTags[3] = {"FLC", "VLC", "opt"};

double D(float v)
{
    return static_cast<double>(v);
}

int HuffIndex(int mode)
{
    return mode == 0 ? 0 : (mode == 2 ? 2 : 1);
}

// The restart settings as the pages make them: none; each row; each block; every tenth row.
const char *MarkerTag(const JpegParams &par)
{
    if (par.nRestartValue == 0)
        return "No";
    if (par.nRestartValue == 10)
        return "10r";
    return par.nRestartUnit == 1 ? "1r" : "1b";
}

const char *MarkerName(const JpegParams &par)
{
    if (par.nRestartValue == 0)
        return "NO";
    if (par.nRestartValue == 10)
        return "Each 10 Row";
    return par.nRestartUnit == 1 ? "Each Row" : "Each Block";
}

std::string ResultText(const JpegParams &par, const JpegRunResult &r)
{
    const zn::Measures &m = r.measures;
    std::string s;
    if (par.nQualityMode == 0)
        s = zn::Format(" Optimized Quality Factor\t: %d\r\n", r.quality);
    if (m.errorFree)
        s += zn::Format(" Encoded Bitrate\t\t:  %.1f (bpp)\r\n Mean Square Error\t\t:%7.1f\r\n"
                        " Signal-to-Noise Ratio\t: Infinite (dB)\r\n PSNR\t\t\t: Infinite (dB)\r\n"
                        " Number of Bit Errors due to\r\n      Channel Corruption\t: %d",
                        D(r.rate), D(m.mse), r.flips);
    else
        s += zn::Format(" Encoded Bitrate\t\t:  %.1f (bpp)\r\n Mean Square Error\t\t:%7.1f\r\n"
                        " Signal-to-Noise Ratio\t:%7.1f (dB)\r\n PSNR\t\t\t:%7.1f (dB)\r\n"
                        " Number of Bit Errors due to\r\n      Channel Corruption\t: %d",
                        D(r.rate), D(m.mse), D(m.snr), D(m.psnr), r.flips);
    return s;
}

std::string Description(const JpegParams &par, const JpegRunResult &r, const std::string &title)
{
    const zn::Measures &m = r.measures;
    const char *t = title.c_str();
    std::string s;
    if (par.nQualityMode != 0) {
        s = m.errorFree ? zn::Format("JPEG ENCODED %s image\r\n   Desired Quality\t\t: %i\r\n"
                                     "   Mean Square Error\t\t:%6.1f\r\n"
                                     "   Signal-to-Noise Ratio\t\t: Infinite (dB)\r\n"
                                     "   PSNR\t\t\t\t: Infinite (dB)\r\n",
                                     t, par.nQuality, D(m.mse))
                        : zn::Format("JPEG ENCODED %s image\r\n   Desired Quality\t\t: %i\r\n"
                                     "   Mean Square Error\t\t:%6.1f\r\n"
                                     "   Signal-to-Noise Ratio\t\t:%6.1f (dB)\r\n"
                                     "   PSNR\t\t\t\t:%6.1f (dB)\r\n",
                                     t, par.nQuality, D(m.mse), D(m.snr), D(m.psnr));
    } else {
        s = m.errorFree ? zn::Format("JPEG ENCODED %s image\r\n   Desired Bitrate\t\t\t: %1.2f (bpp)\r\n"
                                     "   Optimized Quality Factor\t: %d\r\n"
                                     "   Mean Square Error\t\t:%6.1f\r\n"
                                     "   Signal-to-Noise Ratio\t\t: Infinite (dB)\r\n"
                                     "   PSNR\t\t\t\t: Infinite (dB)\r\n",
                                     t, D(par.fBitrate), r.quality, D(m.mse))
                        : zn::Format("JPEG ENCODED %s image\r\n   Desired Bitrate\t\t\t: %1.2f (bpp)\r\n"
                                     "   Optimized Quality Factor\t: %d\r\n"
                                     "   Mean Square Error\t\t:%6.1f\r\n"
                                     "   Signal-to-Noise Ratio\t\t:%6.1f (dB)\r\n"
                                     "   PSNR\t\t\t\t:%6.1f (dB)\r\n",
                                     t, D(par.fBitrate), r.quality, D(m.mse), D(m.snr), D(m.psnr));
    }
    s += par.nSmoothing ? "   Output Smoothing\t\t: Applied\r\n" : "   Output Smoothing\t\t: NOT Applied\r\n";
    if (par.nQuantTable >= 0 && par.nQuantTable < 4)
        s += zn::Format("   Quantization\t\t\t: %s\r\n", kTableNames[par.nQuantTable]);
    s += zn::Format("   Huffman Coding\t\t: %s\r\n", kHuffNames[HuffIndex(par.nHuffman)]);
    s += zn::Format("   Restart Markers\t\t: %s\r\n", MarkerName(par));
    s += par.fErrorProb == 0.0f
             ? std::string("   No Channel Errors Simulated\r\n\r\n")
             : zn::Format("   Channel Errors Probability\t: %1.5f\r\n\r\n", D(par.fErrorProb));
    s += zn::Format(
        "   Encoded Bitrate\t\t: %.2f (bpp)\r\n   Bit Errors due to\r\n   \tChannel Corruption\t: %d",
        D(r.rate), r.flips);
    return s;
}

} // namespace

std::string JpegNameSuffix(const JpegParams &par)
{
    std::string s =
        par.nQualityMode != 0 ? zn::Format("_%i", par.nQuality) : zn::Format("_%1.2f", D(par.fBitrate));
    s += par.nSmoothing ? "_Yes" : "_No";
    if (par.nQuantTable >= 0 && par.nQuantTable < 4)
        s += std::string("_") + kTableTags[par.nQuantTable];
    s += std::string("_") + kHuffTags[HuffIndex(par.nHuffman)];
    s += std::string("_") + MarkerTag(par);
    s += par.fErrorProb == 0.0f ? std::string("_No") : zn::Format("_%1.5f", D(par.fErrorProb));
    return s;
}

std::string JpegCaptionTags(const JpegParams &par)
{
    std::string s = par.nQualityMode != 0 ? zn::Format("Qlty:%i ", par.nQuality)
                                          : zn::Format("Bitr:%1.2f ", D(par.fBitrate));
    s += par.nSmoothing ? "Smooth:Yes " : "Smooth:No ";
    if (par.nQuantTable >= 0 && par.nQuantTable < 4)
        s += std::string("Quant:") + kTableTags[par.nQuantTable] + " ";
    s += std::string("Huff:") + kHuffTags[HuffIndex(par.nHuffman)] + " ";
    s += std::string("Mark:") + MarkerTag(par) + " ";
    s += par.fErrorProb == 0.0f ? std::string("Err:No") : zn::Format("Err:%1.5f", D(par.fErrorProb));
    return s;
}

std::string JpegTableText(int table)
{
    const JpegTable t = JpegBaseTable(table);
    std::string s;
    for (int i = 0; i < 64; ++i) {
        if (i % 8 == 0)
            s += "\r\n";
        s += zn::Format("%5.2d", t[i]);
    }
    return s;
}

JpegRunResult JpegCodeImage(const JpegParams &par, const CDib *image, const std::string &title,
                            const std::string &userDir, ZnImage *decoded)
{
    if (!image || !image->IsValid())
        throw zn::RunAborted("OnJpgApply: No image to code");
    ZnImage source;
    source.DibToZnImage(image);
    const int rows = source.Rows(), cols = source.Cols();
    decoded->Alloc(rows, cols);
    std::fill(decoded->Data(), decoded->Data() + static_cast<size_t>(rows) * cols, 0.0f);

    const std::string stream = JpegStreamPath(userDir);
    JpegRunResult r;
    r.quality = par.nQualityMode != 0 ? par.nQuality
                                      : JpegFindQuality(par.fBitrate, source, par.nQuantTable, par.nHuffman,
                                                        par.nRestartValue, par.nRestartUnit);
    r.rate = JpegEncoder(source, r.quality, par.nQuantTable, par.nHuffman, par.nRestartValue,
                         par.nRestartUnit, false, stream);
    r.flips = JpegDecoder(decoded, par.nSmoothing != 0, par.fErrorProb, stream);

    zn::RoundToGreyLevels(decoded);
    r.measures = zn::MeasureReconstruction(source, *decoded);
    r.results = ResultText(par, r);
    r.description = Description(par, r, title);
    r.name = zn::ResultImageName("JPG", title, JpegNameSuffix(par));
    r.caption = zn::ResultCaption("JPG", title, JpegCaptionTags(par));
    return r;
}
