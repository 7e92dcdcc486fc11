// The generated tables directory, checked against independent oracles: published optimum quantiser
// values, the two optimality conditions and the cell masses by direct numerical integration of the
// density, prefix-freeness and rate of the code words, and perfect reconstruction of the banks.
#include "image/tables.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <numbers>
#include <random>

namespace tables_generated_test { // one namespace per test file: a folder compiles as one source

namespace {

const std::string kDir = std::string(ZN_BUILD_DIR) + "/tables/";
const char *const kPdfNames[] = {"gg050", "gg075", "gg100", "gg200"};
constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- quadrature: 20-point Gauss-Legendre, nodes found by Newton on P_20 ----
struct GaussLegendre
{
    double x[20], w[20];
    GaussLegendre()
    {
        const int n = 20;
        for (int i = 0; i < n; ++i) {
            double z = std::cos(std::numbers::pi * (i + 0.75) / (n + 0.5)), dp = 0;
            for (int it = 0; it < 100; ++it) {
                double p0 = 1, p1 = 0;
                for (int k = 1; k <= n; ++k) {
                    double p2 = p1;
                    p1 = p0;
                    p0 = ((2.0 * k - 1) * z * p1 - (k - 1.0) * p2) / k;
                }
                dp = n * (z * p0 - p1) / (z * z - 1);
                double dz = p0 / dp;
                z -= dz;
                if (std::fabs(dz) < 1e-16)
                    break;
            }
            x[i] = z;
            w[i] = 2 / ((1 - z * z) * dp * dp);
        }
    }
};
const GaussLegendre kGl;

struct CellIntegral
{
    double mass = 0, first = 0, error2 = 0; // integrals of f, x f and (x - r)^2 f
};

// Generalized Gaussian of unit variance, straight from its definition.
class Density
{
public:
    explicit Density(double c) : m_c(c)
    {
        m_a = std::sqrt(std::tgamma(3 / c) / std::tgamma(1 / c));
        m_k = c * m_a / (2 * std::tgamma(1 / c));
    }
    double operator()(double x) const { return m_k * std::exp(-std::pow(m_a * std::fabs(x), m_c)); }

    // Integrals over [lo, hi] around the reconstruction value r.
    CellIntegral Cell(double lo, double hi, double r) const
    {
        CellIntegral s;
        if (lo < 0 && hi > 0) {
            AddPositive(0, -lo, -1, r, &s);
            AddPositive(0, hi, 1, r, &s);
        } else if (hi <= 0) {
            AddPositive(-hi, -lo, -1, r, &s);
        } else {
            AddPositive(lo, hi, 1, r, &s);
        }
        return s;
    }

private:
    // Adds the integral over sign * [a, b], 0 <= a < b.
    void AddPositive(double a, double b, double sign, double r, CellIntegral *s) const
    {
        auto add = [&](double x, double wdx) {
            double v = (*this)(x)*wdx, xs = sign * x;
            s->mass += v;
            s->first += xs * v;
            s->error2 += (xs - r) * (xs - r) * v;
        };
        if (std::isinf(b) && a == 0) {
            AddPositive(0, 1, sign, r, s);
            AddPositive(1, b, sign, r, s);
        } else if (std::isinf(b)) {
            // Panels growing geometrically until the density has vanished.
            double start = a, width = 0.05;
            while (std::pow(m_a * start, m_c) < 750) {
                Panel(start, start + width, add);
                start += width;
                width *= 1.2;
            }
        } else if (a == 0) {
            // x = b t^4 removes the cusp of the density at 0 for every shape used.
            for (int p = 0; p < 4; ++p)
                for (int i = 0; i < 20; ++i) {
                    double t = (p + 0.5 + 0.5 * kGl.x[i]) / 4;
                    add(b * t * t * t * t, kGl.w[i] / 8 * 4 * b * t * t * t);
                }
        } else {
            for (int p = 0; p < 4; ++p)
                Panel(a + (b - a) * p / 4, a + (b - a) * (p + 1) / 4, add);
        }
    }
    template <typename F> static void Panel(double a, double b, F &add)
    {
        for (int i = 0; i < 20; ++i)
            add(0.5 * (a + b) + 0.5 * (b - a) * kGl.x[i], 0.5 * (b - a) * kGl.w[i]);
    }
    double m_c, m_a, m_k;
};

double ShapeOf(const std::string &pdf)
{
    return std::stod(pdf.substr(2)) / 100.0;
}

// ---- the .sqt file, parsed here independently of the library's readers ----
struct SqtFile
{
    double rate = 0, distortion = 0;
    std::vector<double> recon, thr, prob;
    std::vector<std::string> words;
};

bool ParseSqt(const std::string &path, SqtFile *out)
{
    std::vector<unsigned char> bytes = zntest::ReadFileBytes(path);
    std::string text(bytes.begin(), bytes.end());
    std::vector<std::string> tokens;
    bool inComment = false;
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])))
            ++pos;
        size_t start = pos;
        while (pos < text.size() && !std::isspace(static_cast<unsigned char>(text[pos])))
            ++pos;
        if (pos == start)
            break;
        std::string w = text.substr(start, pos - start);
        if (!inComment && w.find("/*") != std::string::npos)
            inComment = true;
        else if (inComment && w.find("*/") != std::string::npos)
            inComment = false;
        else if (!inComment)
            tokens.push_back(w);
    }
    if (tokens.size() < 4)
        return false;
    out->rate = std::stod(tokens[1]);
    out->distortion = std::stod(tokens[2]);
    size_t l = std::stoul(tokens[3]);
    if (tokens.size() != 4 + 4 * l)
        return false;
    for (size_t i = 0; i < l; ++i) {
        out->recon.push_back(std::stod(tokens[4 + 4 * i]));
        out->thr.push_back(std::stod(tokens[5 + 4 * i]));
        out->prob.push_back(std::stod(tokens[6 + 4 * i]));
        out->words.push_back(tokens[7 + 4 * i]);
    }
    return true;
}

std::vector<std::string> SqtFilesOf(const std::string &pdf)
{
    std::vector<std::string> files;
    for (const auto &e : std::filesystem::directory_iterator(kDir)) {
        std::string name = e.path().filename().string();
        if (name.starts_with("mlqpw_" + pdf + "_") && name.ends_with(".sqt"))
            files.push_back(e.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

struct QuantHolder
{
    Quant *q = nullptr;
    ~QuantHolder() { FreeQuant(q); }
};

} // namespace

// Max's Gaussian and Paez and Glisson's Laplacian optimum quantisers (unit variance): positive
// thresholds, positive reconstruction values and the mean square error, three decimals.
TEST(GeneratedTables, MatchPublishedOptimumQuantisers)
{
    struct Published
    {
        const char *pdf;
        int levels;
        std::vector<double> thresholds, outputs;
        double mse;
    } published[] = {
        {"gg200", 2, {}, {0.7979}, 0.3634},
        {"gg200", 4, {0.9816}, {0.4528, 1.510}, 0.1175},
        {"gg200", 8, {0.5006, 1.050, 1.748}, {0.2451, 0.7560, 1.344, 2.152}, 0.03454},
        {"gg100", 2, {}, {0.7071}, 0.5000},
        {"gg100", 4, {1.1269}, {0.4198, 1.8340}, 0.1762},
        {"gg100", 8, {0.5332, 1.2528, 2.3796}, {0.2334, 0.8330, 1.6725, 3.0867}, 0.0548},
    };
    for (const Published &p : published) {
        QuantHolder q;
        ReadQuant(&q.q, kDir, "mlqpw", p.pdf, p.levels);
        ASSERT_NE(q.q, nullptr) << p.pdf << " " << p.levels;
        ASSERT_EQ(q.q->levels, p.levels);
        const int half = p.levels / 2;
        for (size_t k = 0; k < p.outputs.size(); ++k)
            EXPECT_NEAR(q.q->reconstruction[half + k], p.outputs[k], 1.5e-3) << p.pdf << " " << p.levels;
        EXPECT_NEAR(q.q->thresholds[half], 0.0, 1e-9);
        for (size_t k = 0; k < p.thresholds.size(); ++k)
            EXPECT_NEAR(q.q->thresholds[half + 1 + k], p.thresholds[k], 1.5e-3) << p.pdf << " " << p.levels;
        EXPECT_NEAR(q.q->distortion, p.mse, 1e-3) << p.pdf << " " << p.levels;
    }
}

class GeneratedQuantisers : public testing::TestWithParam<const char *>
{
};

TEST_P(GeneratedQuantisers, AreOptimalAndCarryPrefixFreeCodesOfTheirRate)
{
    const std::string pdf = GetParam();
    const Density density(ShapeOf(pdf));
    std::vector<std::string> files = SqtFilesOf(pdf);
    ASSERT_GE(files.size(), 40u);
    for (const std::string &path : files) {
        SCOPED_TRACE(path);
        SqtFile f;
        ASSERT_TRUE(ParseSqt(path, &f));
        const size_t l = f.recon.size();
        double sumP = 0, sumPLen = 0, kraft = 0, mse = 0;
        for (size_t i = 0; i < l; ++i) {
            double lo = i == 0 ? -kInf : f.thr[i], hi = i + 1 == l ? kInf : f.thr[i + 1];
            ASSERT_LT(lo, hi);
            if (i > 0) { // the threshold halves the gap between its two levels
                ASSERT_NEAR(f.thr[i], 0.5 * (f.recon[i - 1] + f.recon[i]),
                            1e-6 * std::max(1.0, std::fabs(f.thr[i])));
            }
            CellIntegral c = density.Cell(lo, hi, f.recon[i]);
            // the level is the centroid of its cell, and the stored probability its mass
            ASSERT_NEAR(f.recon[i], c.first / c.mass, 1e-6 * std::max(1.0, std::fabs(f.recon[i])));
            ASSERT_NEAR(f.prob[i], c.mass, 1e-6 * c.mass + 1e-13);
            mse += c.error2;
            sumP += f.prob[i];
            sumPLen += f.prob[i] * static_cast<double>(f.words[i].size());
            ASSERT_GE(f.words[i].size(), 1u);
            ASSERT_LE(f.words[i].size(), 24u);
            kraft += std::ldexp(1.0, -static_cast<int>(f.words[i].size()));
        }
        EXPECT_NEAR(sumP, 1.0, 1e-9);
        EXPECT_NEAR(f.distortion, mse, 1e-6 * mse);
        EXPECT_NEAR(f.rate, sumPLen, 1e-9);
        EXPECT_NEAR(kraft, 1.0, 1e-12); // a complete code
        std::vector<std::string> sorted = f.words;
        std::sort(sorted.begin(), sorted.end());
        for (size_t i = 1; i < sorted.size(); ++i)
            ASSERT_FALSE(sorted[i].starts_with(sorted[i - 1])) << sorted[i - 1] << " prefixes " << sorted[i];
        // Entropy coding can only beat a fixed-length code, and never the entropy.
        double entropy = 0;
        for (double p : f.prob)
            entropy -= p * std::log2(p);
        EXPECT_LE(f.rate, std::ceil(std::log2(static_cast<double>(l))) + 1e-12);
        EXPECT_GE(f.rate, entropy - 1e-9);
        EXPECT_LT(f.rate, entropy + 1); // what a Huffman code guarantees
    }
}

TEST_P(GeneratedQuantisers, PerformanceTablesListReadableQuantisersOfTheirRate)
{
    const std::string pdf = GetParam();
    zn::MessageRecorder rec;
    for (int type : {VLC_FLC, VLC_HUFFMAN}) {
        PerfQuant *perf = nullptr;
        ReadPerfQuant(&perf, kDir, "mlqpw", pdf, type);
        ASSERT_NE(perf, nullptr) << pdf << " " << type;
        std::unique_ptr<PerfQuant, void (*)(PerfQuant *)> keep(perf, FreePerfQuant);
        ASSERT_GE(perf->n, 10);
        // The DC band of a fine DCT at 4 bpp asks for 12 bits and more: the curves reach beyond.
        EXPECT_GE(perf->rate[perf->n - 1], 13.0f);
        for (int i = 0; i < perf->n; ++i) {
            SCOPED_TRACE(testing::Message() << pdf << " type " << type << " levels " << perf->levels[i]);
            QuantHolder q;
            ReadQuant(&q.q, kDir, "mlqpw", pdf, perf->levels[i]);
            ASSERT_NE(q.q, nullptr);
            ASSERT_EQ(q.q->levels, perf->levels[i]);
            EXPECT_FLOAT_EQ(perf->distortion[i], q.q->distortion);
            if (i > 0) {
                EXPECT_GT(perf->levels[i], perf->levels[i - 1]);
                EXPECT_LT(perf->distortion[i], perf->distortion[i - 1]);
            }
            if (type == VLC_FLC) {
                MakeFlcVlc(q.q);
                EXPECT_EQ(perf->rate[i], static_cast<float>(q.q->code->VlcCodeLen[0]));
            } else {
                EXPECT_FLOAT_EQ(perf->rate[i], q.q->rate);
            }
        }
    }
    // The level counts DPCM asks for: 2^b - 1 and 2^b for b = 1 .. 6.
    for (int levels : {2, 3, 4, 7, 8, 15, 16, 31, 32, 63, 64}) {
        QuantHolder q;
        ReadQuant(&q.q, kDir, "mlqpw", pdf, levels);
        EXPECT_NE(q.q, nullptr) << levels;
    }
    EXPECT_EQ(rec.Count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Pdfs, GeneratedQuantisers, testing::ValuesIn(kPdfNames));

// A two-band split and merge of a periodic line, written here from the textbook QMF relations:
// analysis with h and with g[k] = (-1)^k h[k], both decimated by two; synthesis with 2h and -2g
// after upsampling. The output is the input delayed by N - 1 samples, up to the bank's ripple.
TEST(GeneratedTables, FilterBanksAreSymmetricQmfPairsThatReconstruct)
{
    struct Bank
    {
        const char *name;
        int taps;
        double minSnrDb;
    } banks[] = {{"02", 2, 200},  {"08a", 8, 40},  {"12a", 12, 40},
                 {"16b", 16, 40}, {"24c", 24, 40}, {"32e", 32, 40}};
    std::mt19937 gen(7);
    std::normal_distribution<double> noise(0, 1);
    const int n = 256;
    std::vector<double> x(n);
    for (double &v : x)
        v = noise(gen);
    for (const Bank &b : banks) {
        SCOPED_TRACE(b.name);
        Filt *f = nullptr;
        ReadFilt(&f, kDir, "qmf", b.name);
        ASSERT_NE(f, nullptr);
        std::unique_ptr<Filt, void (*)(Filt *)> keep(f, FreeFilt);
        EXPECT_EQ(f->type, FILT_FIRQMF);
        ASSERT_EQ(f->ndim, 1);
        ASSERT_EQ(f->dims1[0], b.taps);
        ASSERT_EQ(f->dims2[0], b.taps);
        const int t = b.taps;
        double sum = 0, alternating = 0;
        for (int k = 0; k < t; ++k) {
            EXPECT_EQ(f->coef1[k], f->coef1[t - 1 - k]);
            EXPECT_EQ(f->coef2[k], (k % 2 ? -1.0f : 1.0f) * f->coef1[k]);
            sum += f->coef1[k];
            alternating += (k % 2 ? -1.0 : 1.0) * f->coef1[k];
        }
        EXPECT_NEAR(sum, 1.0, 1e-6); // unit DC gain: the merge uses twice the taps
        EXPECT_NEAR(alternating, 0.0, 1e-6);
        auto at = [&](const std::vector<double> &v, int i) {
            return v[static_cast<size_t>(((i % n) + n) % n)];
        };
        std::vector<double> low(n / 2), high(n / 2), y(n, 0.0);
        for (int m = 0; m < n / 2; ++m)
            for (int k = 0; k < t; ++k) {
                low[m] += f->coef1[k] * at(x, 2 * m - k);
                high[m] += f->coef2[k] * at(x, 2 * m - k);
            }
        for (int i = 0; i < n; ++i)
            for (int k = 0; k < t; ++k) {
                int j = i - k;
                if (((j % 2) + 2) % 2)
                    continue;
                int m = ((j / 2) % (n / 2) + n / 2) % (n / 2); // j is even: j / 2 is exact
                y[i] += 2 * f->coef1[k] * low[m] - 2 * f->coef2[k] * high[m];
            }
        double sig = 0, err = 0;
        for (int i = 0; i < n; ++i) {
            double d = y[i] - at(x, i - (t - 1));
            sig += x[i] * x[i];
            err += d * d;
        }
        double snr = err > 0 ? 10 * std::log10(sig / err) : 400;
        EXPECT_GE(snr, b.minSnrDb);
        std::printf("bank qmf%s: %d taps, split/merge SNR %.1f dB\n", b.name, t, snr);
    }
}

} // namespace tables_generated_test
