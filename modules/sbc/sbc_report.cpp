// The two tables the subband and DCT modules append to their results: what the bit allocation
// expects, and what coding actually gave.
#include "modules/sbc/subb.h"

#include "platform/messages.h"

namespace {

const char *kHeading = "  #sb     variance     #lev     rate     dist\r\n"
                       "  ------    ----------------    -------    -------    --------\r\n";

double Fraction(const Subb *sb, int i)
{
    const double pixels = static_cast<double>(sb->rows) * sb->cols;
    return pixels > 0 ? sb->comp[0].bandRows[i] * static_cast<double>(sb->comp[0].bandCols[i]) / pixels : 0;
}

int Levels(const Quant *q)
{
    return q ? q->levels : 0;
}

} // namespace

std::string SbcPrintBitAlloc(const Subb *sb, Quant *const *quants, const float *vari, const int *,
                             const std::string &, const std::vector<std::string> &, float)
{
    std::string text = "Results of bit allocation:\r\n";
    text += kHeading;
    double totalVari = 0, totalRate = 0, totalDist = 0;
    for (int i = 0; i < sb->comp[0].count; ++i) {
        const Quant *q = quants[i];
        const float rate = q ? q->rate : 0, dist = q ? q->distortion : 0;
        text +=
            zn::Format("   %2d      %8.2f\t%3d    %6.2f   %6.2f\r\n", i + 1, vari[i], Levels(q), rate, dist);
        totalVari += vari[i];
        totalRate += Fraction(sb, i) * rate;
        totalDist += dist;
    }
    text += "\r\n";
    text += zn::Format(
        "  Total variance\t: %7.1f\r\n  Expected rate\t: %7.2f (bpp)\r\n  Expected m-s-e\t: %7.1f\r\n",
        totalVari, totalRate, totalDist);
    text += "\r\n";
    return text;
}

std::string SbcPrintCodingResults(const Subb *sb, Quant *const *quants, const float *rates,
                                  const float *dists, const float *vari)
{
    std::string text = "Results after coding and decoding:\r\n";
    text += kHeading;
    double totalVari = 0, totalRate = 0, totalDist = 0;
    for (int i = 0; i < sb->comp[0].count; ++i) {
        text += zn::Format("   %2d      %8.2f\t%3d    %6.2f   %6.2f\r\n", i + 1, vari[i], Levels(quants[i]),
                           rates[i], dists[i]);
        totalVari += vari[i];
        totalRate += Fraction(sb, i) * rates[i];
        totalDist += dists[i];
    }
    text += "            ----------------             ---------  -----------\r\n";
    text += zn::Format("             %8.2f              %6.2f   %6.2f\r\n", totalVari, totalRate, totalDist);
    text += "\r\n";
    return text;
}
