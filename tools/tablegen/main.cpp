// Writes the tables directory: Lloyd-Max quantisers (.sqt) with their Huffman code words for four
// generalized Gaussian densities, their performance tables (.sqp) for fixed-length and Huffman
// codes, and the two-band QMF banks (.fcs). Usage: zn_tablegen <output directory>.
// The output depends on nothing but this program: numbers are printed in the C locale (the program
// never changes its locale) and every iteration is deterministic, so every run writes the same bytes.
#include "gg_density.h"
#include "limited_huffman.h"
#include "lloyd_max.h"
#include "qmf_design.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using tablegen::GgDensity;
using tablegen::LloydMaxQuantiser;

constexpr int kMaxCodeLen = 24;
// The finest quantiser. A 16x16 DCT at 4 bpp gives its DC band 12 bits and more; above the fine
// ladder's top, powers of two carry the curves on to 15 bits so that no band runs out.
constexpr int kFineTop = 8192;
constexpr int kMaxLevels = 32768;

struct PdfName
{
    const char *name;
    double shape;
};
const PdfName kPdfs[] = {{"gg050", 0.5}, {"gg075", 0.75}, {"gg100", 1.0}, {"gg200", 2.0}};

struct QmfName
{
    const char *name;
    tablegen::QmfDesign design;
};
// Longer banks get narrower transition bands (the letter grows as the band narrows); the weight
// trades stop-band energy against reconstruction ripple.
const QmfName kBanks[] = {
    {"02", {2, 0.75, 1.0}},   {"08a", {8, 0.78, 0.01}},  {"12a", {12, 0.78, 0.1}},
    {"16b", {16, 0.70, 0.1}}, {"24c", {24, 0.625, 0.1}}, {"32e", {32, 0.60, 0.1}},
};

// Level counts of the entropy-coded ladder: every count up to 32, then four steps per octave (about
// a quarter bit apart); plus the 2^b - 1 counts of DPCM.
std::vector<int> HuffmanLadder()
{
    std::set<int> s;
    for (int l = 2; l <= 32; ++l)
        s.insert(l);
    for (int base = 32; base < kFineTop; base *= 2)
        for (int q = 4; q < 8; ++q)
            s.insert(base * q / 4);
    for (int l = kFineTop; l <= kMaxLevels; l *= 2)
        s.insert(l);
    s.insert(63);
    return {s.begin(), s.end()};
}

// Fixed-length codes waste the rest of a code word, so only powers of two are worth a point.
std::vector<int> FixedLadder()
{
    std::vector<int> v;
    for (int l = 2; l <= kMaxLevels; l *= 2)
        v.push_back(l);
    return v;
}

int FixedLength(int levels)
{
    int len = 0;
    while ((1 << len) < levels)
        ++len;
    return len;
}

struct FileCloser
{
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File Create(const std::string &path)
{
    File f(std::fopen(path.c_str(), "wb"));
    if (!f)
        std::fprintf(stderr, "zn_tablegen: cannot write %s\n", path.c_str());
    return f;
}

struct Point
{
    int levels;
    double rate, distortion;
};

bool WriteQuantiser(const std::string &dir, const PdfName &pdf, int levels, const LloydMaxQuantiser &q,
                    Point *huffman)
{
    std::vector<int> lengths = tablegen::LimitedHuffmanLengths(q.probabilities, kMaxCodeLen);
    std::vector<std::string> words = tablegen::CanonicalCodeWords(lengths);
    double rate = 0;
    for (int i = 0; i < levels; ++i)
        rate += q.probabilities[static_cast<size_t>(i)] * lengths[static_cast<size_t>(i)];
    char name[64];
    std::snprintf(name, sizeof name, "mlqpw_%s_%04d.sqt", pdf.name, levels);
    File f = Create(dir + "/" + name);
    if (!f)
        return false;
    std::FILE *o = f.get();
    std::fprintf(o, "/* Lloyd-Max quantizer: generalized Gaussian pdf, c = %.2f, unit variance */\n",
                 pdf.shape);
    std::fprintf(o, "/* rate = Huffman code bits per sample, distortion = mean square error */\n");
    std::fprintf(o, "SQ_MAXLLOYD\n%.12g %.12g\n%d\n", rate, q.distortion, levels);
    std::fprintf(o, "/* reconstruction lower-threshold probability codeword */\n");
    for (int i = 0; i < levels; ++i) {
        size_t k = static_cast<size_t>(i);
        // The lowest cell has no lower edge; a huge finite value keeps the field a plain number.
        double t = i == 0 ? -1e30 : q.thresholds[k];
        std::fprintf(o, "%.12g %.12g %.12g %s\n", q.reconstruction[k], t, q.probabilities[k],
                     words[k].c_str());
    }
    *huffman = Point{levels, rate, q.distortion};
    return std::fflush(o) == 0;
}

bool WritePerformance(const std::string &dir, const PdfName &pdf, const char *suffix, const char *what,
                      const std::vector<Point> &points)
{
    File f = Create(dir + "/mlqpw_" + pdf.name + suffix + ".sqp");
    if (!f)
        return false;
    std::FILE *o = f.get();
    std::fprintf(o, "/* Lloyd-Max quantizers, generalized Gaussian c = %.2f, %s */\n", pdf.shape, what);
    std::fprintf(o, "SQ\n%d\n/* levels rate distortion */\n", static_cast<int>(points.size()));
    for (const Point &p : points)
        std::fprintf(o, "%d %.12g %.12g\n", p.levels, p.rate, p.distortion);
    return std::fflush(o) == 0;
}

bool WriteBank(const std::string &dir, const QmfName &bank)
{
    std::vector<double> h = tablegen::DesignQmf(bank.design);
    File f = Create(dir + "/qmf" + bank.name + ".fcs");
    if (!f)
        return false;
    std::FILE *o = f.get();
    const int n = static_cast<int>(h.size());
    std::fprintf(o, "/* two-band linear-phase QMF bank, %d taps: low-pass, then high-pass */\n", n);
    std::fprintf(o, "/* reconstruction ripple %.4f dB, stop band from %.4f pi at %.1f dB */\n",
                 tablegen::QmfRippleDb(h), bank.design.stopEdge,
                 tablegen::QmfStopbandDb(h, bank.design.stopEdge));
    std::fprintf(o, "FIRQMF\n1\n%d\n", n);
    for (int k = 0; k < n; ++k)
        std::fprintf(o, "%.12g\n", h[static_cast<size_t>(k)]);
    std::fprintf(o, "%d\n", n);
    for (int k = 0; k < n; ++k)
        std::fprintf(o, "%.12g\n", (k % 2 ? -1.0 : 1.0) * h[static_cast<size_t>(k)]);
    return std::fflush(o) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: zn_tablegen <output directory>\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "zn_tablegen: cannot create %s\n", dir.c_str());
        return 1;
    }
    std::set<int> all;
    for (int l : HuffmanLadder())
        all.insert(l);
    for (int l : FixedLadder())
        all.insert(l);
    const std::vector<int> huffLadder = HuffmanLadder(), flcLadder = FixedLadder();

    for (const PdfName &pdf : kPdfs) {
        GgDensity density(pdf.shape);
        std::vector<Point> huff, flc;
        for (int levels : all) {
            LloydMaxQuantiser q;
            std::string why;
            if (!tablegen::DesignLloydMax(density, levels, &q, &why)) {
                std::fprintf(stderr, "zn_tablegen: %s, %d levels: %s\n", pdf.name, levels, why.c_str());
                return 1;
            }
            Point p{};
            if (!WriteQuantiser(dir, pdf, levels, q, &p))
                return 1;
            if (std::binary_search(huffLadder.begin(), huffLadder.end(), levels))
                huff.push_back(p);
            if (std::binary_search(flcLadder.begin(), flcLadder.end(), levels))
                flc.push_back(Point{levels, static_cast<double>(FixedLength(levels)), q.distortion});
        }
        if (!WritePerformance(dir, pdf, "_huff", "Huffman coded", huff) ||
            !WritePerformance(dir, pdf, "_flc", "fixed-length coded", flc))
            return 1;
    }
    for (const QmfName &bank : kBanks)
        if (!WriteBank(dir, bank))
            return 1;
    return 0;
}
