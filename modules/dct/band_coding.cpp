// The band coding the DCT and subband modules share, and the words of their reports. The bit
// allocation hands each band the quantiser whose next bit buys the most distortion, so bands with
// little energy (high DCT frequencies, high subbands) often get no bits at all.
#include "modules/dct/band_coding.h"

#include "image/tables.h"
#include "image/znimage.h"
#include "modules/sbc/subb.h"
#include "platform/errors.h"
#include "platform/messages.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

struct PdfName
{
    const char *name;
    float cValue;
};
constexpr PdfName kPdfs[] = {{"gg050", 0.5f}, {"gg075", 0.75f}, {"gg100", 1.0f}, {"gg200", 2.0f}};

constexpr zn::ValueTag kRates[] = {
    {0.25f, "025", "0.25"}, {0.5f, "05", "0.50"}, {0.75f, "075", "0.75"}, {1.0f, "1", "1.0"},
    {1.5f, "15", "1.5"},    {2.0f, "2", "2.0"},   {2.5f, "25", "2.5"},    {3.0f, "3", "3.0"},
    {3.5f, "35", "3.5"},    {4.0f, "4", "4.0"},
};
// Single-precision values, as the pages store them; the caption prints the number itself.
constexpr zn::ValueTag kErrors[] = {
    {0.0f, "No", "No Channel Errors Simulated"},
    {0.005f, "005", "Channel Errors Probability\t: 0.005"},
    {0.001f, "001", "Channel Errors Probability\t: 0.001"},
    {0.0005f, "0005", "Channel Errors Probability\t: 0.0005"},
    {0.0001f, "0001", "Channel Errors Probability\t: 0.0001"},
};

bool KnownPdf(const std::string &pdf)
{
    for (const PdfName &p : kPdfs)
        if (pdf == p.name)
            return true;
    return false;
}

// Quantisers belong to the run; every exit releases them, code tables included.
struct QuantSet
{
    std::vector<Quant *> q;
    explicit QuantSet(int n) : q(n, nullptr) {}
    ~QuantSet()
    {
        for (Quant *x : q)
            FreeQuant(x);
    }
};

double D(float v)
{
    return static_cast<double>(v);
}

} // namespace

void CheckBandCodingParams(const BandCodingParams &p, const char *routine)
{
    auto refuse = [routine](const std::string &why) {
        throw zn::RunAborted(zn::Format("%s: %s", routine, why.c_str()));
    };
    if ((p.nFirstMethod != 0 && p.nFirstMethod != 1) || (p.nOtherMethod != 0 && p.nOtherMethod != 1))
        refuse("Unknown coding method (PCM or DPCM only)");
    if (!KnownPdf(p.sFirstPdf) || !KnownPdf(p.sOtherPdf))
        refuse("Unknown quantizer pdf (gg050, gg075, gg100 or gg200 only)");
    if (*RateWord(p.fBitrate) == '\0')
        refuse(zn::Format("A target bit rate of %g bpp is not offered", D(p.fBitrate)));
    if (*ErrorWord(p.fErrorProb) == '\0')
        refuse(zn::Format("A channel error probability of %g is not offered", D(p.fErrorProb)));
    const bool dpcm = p.nFirstMethod == 1 || p.nOtherMethod == 1;
    if (p.nPredModel < 0 || p.nPredModel > 4 || (dpcm && p.nPredModel == 0))
        refuse(zn::Format("Prediction model %d cannot be used", p.nPredModel));
    if (p.nCodeType != VLC_FLC && p.nCodeType != VLC_HUFFMAN)
        refuse("Unknown code type");
    if (p.fErrorProb != 0.0f && p.nCodeType != VLC_FLC)
        refuse("Channel errors need fixed-length code words");
}

int BandCodeType(float errorProb, int entropyFlag)
{
    if (errorProb != 0.0f)
        return VLC_FLC;
    return entropyFlag == 1 ? VLC_HUFFMAN : VLC_FLC;
}

BandCodingResult CodeBands(Subb *sb, const BandCodingParams &p, const std::string &tableDir)
{
    BandCodingResult r;
    if (!sb || sb->comp.empty() || sb->comp[0].count < 1)
        throw zn::RunAborted("CodeBands: No subbands to code");
    const int n = sb->comp[0].count;
    std::vector<std::string> pdf(n, p.sOtherPdf);
    std::vector<int> codmeth(n, p.nOtherMethod);
    pdf[0] = p.sFirstPdf;
    codmeth[0] = p.nFirstMethod;

    QuantSet quants(n);
    std::vector<float> vari(n), rates(n), dists(n), coef(4 * static_cast<size_t>(n));
    float expectedRate = 0, expectedDist = 0;
    SbcSelQuant(&expectedRate, &expectedDist, quants.q.data(), vari.data(), coef.data(), sb, codmeth.data(),
                p.nPredModel, p.nCodeType, tableDir, "mlqpw", pdf, p.fBitrate);
    r.bitAllocReport = SbcPrintBitAlloc(sb, quants.q.data(), vari.data(), codmeth.data(),
                                        "Max-Lloyd quantizers", pdf, p.fBitrate);
    SbcCodec(&r.rate, &r.distortion, rates.data(), dists.data(), sb, quants.q.data(), codmeth.data(),
             coef.data(), p.fErrorProb);
    r.codingReport = SbcPrintCodingResults(sb, quants.q.data(), rates.data(), dists.data(), vari.data());
    for (int k = 0; k < 4; ++k) {
        r.firstCoef[k] = coef[k];
        r.secondCoef[k] = n > 1 ? coef[4 + k] : 0.0f;
    }
    return r;
}

BandCodingParams BandCodingOf(const BandCodingChoices &c, int entropyFlag, bool coding, const char *routine)
{
    BandCodingParams bp;
    bp.nFirstMethod = c.nFirstMethod;
    bp.sFirstPdf = c.sFirstPdf;
    bp.nOtherMethod = c.nOtherMethod;
    bp.sOtherPdf = c.sOtherPdf;
    bp.fBitrate = c.fBitrate;
    bp.fErrorProb = c.fErrorProb;
    bp.nPredModel = c.nPredModel;
    bp.nCodeType = BandCodeType(c.fErrorProb, entropyFlag);
    if (coding)
        CheckBandCodingParams(bp, routine);
    return bp;
}

void SubbDeleter::operator()(Subb *sb) const
{
    FreeSubb(sb);
}

BandCodingResult CodeShownBands(Subb *sb, bool coding, const BandCodingParams &p, const std::string &tableDir,
                                int displayFactor, ZnImage *dispA, ZnImage *dispB, CodedRunResult *out)
{
    out->coding = coding;
    dispA->DispSubb(sb, displayFactor);
    if (!coding) {
        out->rate = 8.0f;
        return {};
    }
    BandCodingResult coded = CodeBands(sb, p, tableDir);
    dispB->DispSubb(sb, displayFactor);
    out->rate = coded.rate;
    return coded;
}

void TakeDecoded(Img *rebuilt, const ZnImage &source, const BandCodingResult &coded, ZnImage *decoded,
                 CodedRunResult *out)
{
    FreeImg(decoded->img);
    decoded->img = rebuilt;
    zn::RoundToGreyLevels(decoded);
    out->measures = zn::MeasureReconstruction(source, *decoded);
    out->results = coded.bitAllocReport + coded.codingReport + MeasureResultText(out->rate, out->measures);
}

const char *MethodWord(int method)
{
    return method == 1 ? "DPCM" : "PCM";
}

float PdfCValue(const std::string &pdf)
{
    for (const PdfName &p : kPdfs)
        if (pdf == p.name)
            return p.cValue;
    return 0.0f;
}

const char *RateWord(float rate)
{
    return zn::FindValueTag(rate, kRates).name;
}

const char *ErrorWord(float p)
{
    return zn::FindValueTag(p, kErrors).name;
}

std::string ErrorLine(float p)
{
    return zn::FindValueTag(p, kErrors).caption;
}

std::string MeasureResultText(float rate, const zn::Measures &m)
{
    if (m.errorFree)
        return zn::Format("  Coded Bitrate\t\t:%6.2f (bpp)\r\n  Mean Square Error\t\t:%6.1f\r\n"
                          "  Signal-to-Noise Ratio\t: Infinite (dB)\r\n  PSNR\t\t\t: Infinite (dB)\r\n\r\n",
                          D(rate), D(m.mse));
    return zn::Format("  Coded Bitrate\t\t:%6.2f (bpp)\r\n  Mean Square Error\t\t:%6.1f\r\n"
                      "  Signal-to-Noise Ratio\t:%6.1f (dB)\r\n  PSNR\t\t\t:%6.1f (dB)\r\n\r\n",
                      D(rate), D(m.mse), D(m.snr), D(m.psnr));
}

std::string MeasureDescription(float rate, const zn::Measures &m)
{
    if (m.errorFree)
        return zn::Format("\r\n   Coded Bitrate\t\t\t:%7.2f (bpp)\r\n   Mean Square Error\t\t:%7.1f\r\n"
                          "   Signal-to-Noise Ratio\t\t: Infinite (dB)\r\n   PSNR\t\t\t\t: Infinite (dB)",
                          D(rate), D(m.mse));
    return zn::Format("\r\n   Coded Bitrate\t\t\t:%7.2f (bpp)\r\n   Mean Square Error\t\t:%7.1f\r\n"
                      "   Signal-to-Noise Ratio\t\t:%7.1f (dB)\r\n   PSNR\t\t\t\t:%7.1f (dB)",
                      D(rate), D(m.mse), D(m.snr), D(m.psnr));
}

std::string PredictionText(const char *label, const std::array<float, 4> &c)
{
    return zn::Format("   %s\t: %.3f  %.3f  %.3f\r\n\t\t\t\t   %.3f      x\r\n", label, D(c[0]), D(c[1]),
                      D(c[2]), D(c[3]));
}
