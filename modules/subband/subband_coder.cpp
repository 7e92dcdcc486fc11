// The subband module's run. Each level of the tree halves the rows and columns of the bands it
// splits, so the low band keeps a small picture of the image and the others its edges at one scale
// and orientation. Longer filters separate the bands more sharply (less aliasing energy to code) at
// the price of more ringing around edges once the bands are coarsely quantised.
#include "modules/subband/subband_coder.h"

#include "image/cdib.h"
#include "image/tables.h"
#include "image/znimage.h"
#include "modules/sbc/subb.h"
#include "platform/errors.h"
#include "platform/messages.h"

#include <memory>

namespace {

struct FiltDeleter
{
    void operator()(Filt *f) const { FreeFilt(f); }
};

struct FilterName
{
    const char *name;
    int taps;
};
constexpr FilterName kFilters[] = {{"02", 2}, {"08a", 8}, {"12a", 12}, {"16b", 16}, {"24c", 24}, {"32e", 32}};

// The split and the merge read the bank as one even-length FIR QMF prototype.
bool UsableBank(const Filt *f)
{
    return f && f->type == FILT_FIRQMF && f->ndim == 1 && !f->dims1.empty() && f->dims1[0] >= 2 &&
           f->dims1[0] % 2 == 0 && static_cast<int>(f->coef1.size()) >= f->dims1[0];
}

double D(float v)
{
    return static_cast<double>(v);
}

} // namespace

SbcDecomposition SbcDecompositionOf(int decomp)
{
    switch (decomp) {
    case 1:
        return {4, 1, {1, 0, 0}};
    case 2:
        return {7, 2, {1, 1, 0}};
    case 3:
        return {16, 2, {1, 4, 0}};
    case 4:
        return {28, 3, {1, 4, 4}};
    case 5:
        return {52, 3, {1, 4, 12}};
    default:
        return {64, 3, {1, 4, 16}};
    }
}

int SbcFilterTaps(const std::string &filter)
{
    for (const FilterName &f : kFilters)
        if (filter == f.name)
            return f.taps;
    return 0;
}

SbcRunResult SbcCodeImage(const SbcParams &par, bool coding, int entropyFlag, const CDib *image,
                          const std::string &title, const std::string &tableDir, ZnImage *decoded,
                          ZnImage *dispA, ZnImage *dispB)
{
    if (tableDir.empty())
        throw zn::RunAborted(zn::kNoTablesDirMessage);
    if (!image || !image->IsValid())
        throw zn::RunAborted("OnSbcApply: No image to code");
    const int taps = SbcFilterTaps(par.sFilter);
    if (taps == 0)
        throw zn::RunAborted(zn::Format("OnSbcApply: Unknown filter bank \"%s\"", par.sFilter.c_str()));
    const BandCodingParams bp = BandCodingOf(par, entropyFlag, coding, "OnSbcApply");

    ZnImage source;
    source.DibToZnImage(image);
    const SbcDecomposition dec = SbcDecompositionOf(par.nDecomp);

    Filt *rawFilt = nullptr;
    ReadFilt(&rawFilt, tableDir, "qmf", par.sFilter);
    std::unique_ptr<Filt, FiltDeleter> filt(rawFilt);
    if (!filt)
        throw zn::RunAborted("ReadFilt failed", zn::kMessageShown); // its message has been shown
    if (!UsableBank(filt.get()))
        throw zn::RunAborted(
            zn::Format("OnSbcApply: qmf%s.fcs is not a two-band FIR QMF filter bank", par.sFilter.c_str()));

    SbcRunResult out;
    out.nSubbands = dec.nSubbands;
    out.nTaps = taps;

    int splits[3] = {dec.splits[0], dec.splits[1], dec.splits[2]};
    Subb *raw = nullptr;
    SbcSplitModHigh(&raw, source.img, filt.get(), dec.nLevels, splits, 0);
    SubbPtr sb(raw);
    if (!sb || !sb->plane[0])
        throw zn::RunAborted("OnSbcApply: The subband split failed", zn::kMessageShown);
    out.nCodedBands = sb->comp[0].count;
    const BandCodingResult coded = CodeShownBands(sb.get(), coding, bp, tableDir, 0, dispA, dispB, &out);

    Img *rebuilt = nullptr;
    SbcReconModHigh(&rebuilt, sb.release(), filt.get(), 1);
    if (!rebuilt)
        throw zn::RunAborted("OnSbcApply: The subband synthesis failed", zn::kMessageShown);
    TakeDecoded(rebuilt, source, coded, decoded, &out);
    const zn::Measures &m = out.measures;

    const char *t = title.c_str();
    const int n = dec.nSubbands;
    out.descA = zn::Format(
        "ORIGINAL SUBBANDS of the %s image\r\n   Number of Subbands\t: %i\r\n   Number of Filter Taps\t: %i",
        t, n, taps);
    std::string tag, suffix;
    if (coding) {
        const std::string errorLine = ErrorLine(par.fErrorProb);
        out.descChain = zn::Format(
            "SUBBAND ENCODED %s image\r\n   Number of Subbands\t\t: %i\r\n   Number of Filter Taps\t\t: "
            "%i\r\n"
            "   Target Bitrate\t\t\t: %1.2f (bpp)\r\n   %s\r\n\r\n   First Subband Encoding\t: %s\r\n"
            "   First Subband C-Value\t\t: %1.2f\r\n\r\n   Other Subbands Encoding\t: %s\r\n"
            "   Other Subbands C-Value\t: %1.2f\r\n",
            t, n, taps, D(par.fBitrate), errorLine.c_str(), MethodWord(par.nFirstMethod),
            D(PdfCValue(par.sFirstPdf)), MethodWord(par.nOtherMethod), D(PdfCValue(par.sOtherPdf)));
        const std::string firstPred =
            par.nFirstMethod == 1 ? PredictionText("Pred. coefficients\t", coded.firstCoef) : std::string();
        const std::string otherPred = par.nOtherMethod == 1
                                          ? PredictionText("Pred. coeff. 2-nd Subband", coded.secondCoef)
                                          : std::string();
        out.descB = zn::Format(
            "ENCODED SUBBANDS of the %s image\r\n   Number of Subbands\t\t: %i\r\n   Number of Filter "
            "Taps\t\t: %i\r\n"
            "   Target Bitrate\t\t\t: %1.2f (bpp)\r\n   %s\r\n\r\n   First Subband Encoding\t: %s\r\n"
            "   First Subband C-Value\t\t: %1.2f\r\n%s\r\n   Other Subbands Encoding\t: %s\r\n"
            "   Other Subbands C-Value\t: %1.2f\r\n%s",
            t, n, taps, D(par.fBitrate), errorLine.c_str(), MethodWord(par.nFirstMethod),
            D(PdfCValue(par.sFirstPdf)), firstPred.c_str(), MethodWord(par.nOtherMethod),
            D(PdfCValue(par.sOtherPdf)), otherPred.c_str());
        tag = zn::Format("Subs:%i Taps:%i Bitr:%1.2f Errors:%1.4f", n, taps, D(par.fBitrate),
                         D(par.fErrorProb));
        suffix = zn::Format("_%i_%i_%s_%s", n, taps, RateWord(par.fBitrate), ErrorWord(par.fErrorProb));
    } else {
        out.descChain =
            zn::Format("SUBBAND ENCODED %s image\r\n   Number of Subbands\t\t: %i\r\n"
                       "   Number of Filter Taps\t\t: %i\r\n   No encoding of the Subbands applied\r\n",
                       t, n, taps);
        tag = zn::Format("Subs:%i Taps:%i", n, taps);
        suffix = zn::Format("_%i_%i", n, taps);
    }
    out.descChain += MeasureDescription(out.rate, m);

    out.nameFinal = zn::ResultImageName("SBC", title, suffix);
    out.captionFinal = zn::ResultCaption("SBC", title, tag);
    out.nameA = "SBC_" + title + "_osub";
    out.captionA = "SBC: ORIGINAL SUBS(" + title + ") " + tag;
    out.nameB = "SBC_" + title + "_csub";
    out.captionB = "SBC: CODED SUBS(" + title + ")" + tag;
    return out;
}
