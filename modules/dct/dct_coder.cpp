// The DCT module's run. The transform packs a smooth block's energy into few coefficients; seen as
// collections, the low-frequency ones have large variances and the rest small ones, which is what
// the bit allocation exploits. Collection 0 holds the block means and is DPCM-coded by default,
// because neighbouring blocks' means are strongly correlated.
#include "modules/dct/dct_coder.h"

#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/sbc/sbc_dct.h"
#include "platform/errors.h"
#include "platform/messages.h"

#include <memory>

namespace {

double ToDouble(float v)
{
    return static_cast<double>(v);
}

} // namespace

int DctBlockSide(int size)
{
    switch (size) {
    case 1:
        return 2;
    case 2:
        return 4;
    case 3:
        return 8;
    default:
        return 16;
    }
}

int DctLargestSize(int width, int height)
{
    for (int size = 4; size >= 1; --size) {
        const int b = DctBlockSide(size);
        if (width > 0 && height > 0 && width % b == 0 && height % b == 0)
            return size;
    }
    return 0;
}

DctRunResult DctCodeImage(const DctParams &par, bool coding, int entropyFlag, const CDib *image,
                          const std::string &title, const std::string &tableDir, ZnImage *decoded,
                          ZnImage *dispA, ZnImage *dispB)
{
    if (tableDir.empty())
        throw zn::RunAborted(zn::kNoTablesDirMessage);
    if (!image || !image->IsValid())
        throw zn::RunAborted("OnDctApply: No image to code");
    const BandCodingParams bp = BandCodingOf(par, entropyFlag, coding, "OnDctApply");

    ZnImage source;
    source.DibToZnImage(image);
    const int rows = source.Rows(), cols = source.Cols();
    const int b = DctBlockSide(par.nSize);
    // The pages offer only block sizes that divide the image; anything else is refused here, before
    // the split would leave part of the picture untransformed.
    if (rows < b || cols < b || rows % b || cols % b)
        throw zn::RunAborted(
            zn::Format("OnDctApply: A %ix%i image cannot be cut into %ix%i blocks", cols, rows, b, b));

    DctRunResult out;
    out.nCoefs = b * b;
    const int n = out.nCoefs;
    const int factor = par.nDisplay == 1 ? 0 : b;

    Subb *raw = nullptr;
    SbcSplitDct(&raw, source.img, b, b, 0);
    SubbPtr sb(raw);
    if (!sb)
        throw zn::RunAborted("OnDctApply: The transform failed", zn::kMessageShown);
    const BandCodingResult coded = CodeShownBands(sb.get(), coding, bp, tableDir, factor, dispA, dispB, &out);

    Img *rebuilt = nullptr;
    SbcReconDct(&rebuilt, sb.release(), 1);
    if (!rebuilt)
        throw zn::RunAborted("OnDctApply: The inverse transform failed", zn::kMessageShown);
    TakeDecoded(rebuilt, source, coded, decoded, &out);
    const zn::Measures &m = out.measures;

    const char *t = title.c_str();
    out.descA =
        zn::Format("ORIGINAL DCT COEFFS of the %s image\r\n   Number of Coefficients\t\t: %i\r\n", t, n);
    std::string tag, suffix;
    if (coding) {
        const std::string errorLine = ErrorLine(par.fErrorProb);
        out.descChain = zn::Format(
            "DISCRETE COSINE TRANSFORM ENCODED %s image\r\n   Number of Coefficients\t\t: %i\r\n"
            "   Target Bitrate\t\t\t: %1.2f (bpp)\r\n   %s\r\n\r\n   First coeff. encoding\t\t: %s\r\n"
            "   First coeff c-value\t\t: %1.2f\r\n\r\n   Other DCT coeffs Encoding\t: %s\r\n"
            "   Other coeffs c-value\t\t: %1.2f\r\n",
            t, n, ToDouble(par.fBitrate), errorLine.c_str(), MethodWord(par.nFirstMethod),
            ToDouble(PdfCValue(par.sFirstPdf)), MethodWord(par.nOtherMethod), ToDouble(PdfCValue(par.sOtherPdf)));
        const std::string firstPred =
            par.nFirstMethod == 1 ? PredictionText("Pred. coefficients\t", coded.firstCoef) : std::string();
        const std::string otherPred = par.nOtherMethod == 1
                                          ? PredictionText("Pred. coeff. 2-nd DCT coef.", coded.secondCoef)
                                          : std::string();
        out.descB =
            zn::Format("ENCODED DCT COEFFS of the %s image\r\n   Number of Coefficients\t\t: %i\r\n"
                       "   Target Bitrate\t\t\t: %1.2f\r\n   %s\r\n\r\n   First coeff. encoding\t\t: %s\r\n"
                       "   First coeff. c-value\t\t: %1.2f\r\n%s\r\n   Other coeffs encoding\t\t: %s\r\n"
                       "   Other coeffs c-value\t\t: %1.2f\r\n%s",
                       t, n, ToDouble(par.fBitrate), errorLine.c_str(), MethodWord(par.nFirstMethod),
                       ToDouble(PdfCValue(par.sFirstPdf)), firstPred.c_str(), MethodWord(par.nOtherMethod),
                       ToDouble(PdfCValue(par.sOtherPdf)), otherPred.c_str());
        tag = zn::Format("Coeffs:%i Bitr:%1.2f Errors:%s", n, ToDouble(par.fBitrate), ErrorWord(par.fErrorProb));
        suffix = zn::Format("_%i_%s_%s", n, RateWord(par.fBitrate), ErrorWord(par.fErrorProb));
    } else {
        out.descChain =
            zn::Format("DISCRETE COSINE TRANSFORM ENCODED %s image\r\n   Number of DCT Coefficients\t: "
                       "%i\r\n   No encoding of the DCT coefficients applied\r\n",
                       t, n);
        tag = zn::Format("Coeffs:%i", n);
        suffix = zn::Format("_%i", n);
    }
    out.descChain += MeasureDescription(out.rate, m);

    out.nameFinal = zn::ResultImageName("DCT", title, suffix);
    out.captionFinal = zn::ResultCaption("DCT", title, tag);
    out.nameA = "DCT_" + title + "_ocoef";
    out.captionA = "DCT: ORIGINAL COEF(" + title + ") " + tag;
    out.nameB = "DCT_" + title + "_ccoef";
    out.captionB = "DCT: CODED COEF(" + title + ")" + tag;
    return out;
}
