// The perceptual model: contrast sensitivity, masking and the conversion into the DCT domain.
//
// Contrast sensitivity follows Barten's model of the eye: it rises with spatial frequency to a peak
// of a few cycles per degree and then falls, and it grows with the luminance the eye adapts to. A
// band's contrast above threshold masks itself (the exponent -0.7), so strong textures hide coding
// noise. The viewing conditions (distance, picture height) fix how many cycles per degree each
// level of the filter bank stands for.
#include "modules/jpeg/jpeg_dctw.h"

#include "modules/jpeg/jpeg_tables.h"
#include "platform/messages.h"
#include "platform/paths.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kTwoPi = 6.2831855; // as the model's frequencies were defined
constexpr int kConvTableLines = 1344;

float &At(ZnImage &z, int y, int x)
{
    return z.Data()[static_cast<size_t>(y) * z.Cols() + x];
}

float At(const ZnImage &z, int y, int x)
{
    return z.Data()[static_cast<size_t>(y) * z.Cols() + x];
}

} // namespace

CJpgDctW::CJpgDctW(const std::string &tableDir)
{
    std::fill(std::begin(m_fConvTable), std::end(m_fConvTable), 0.0f);
    if (!m_bank.InitFilterBank(tableDir))
        return;
    const std::string path = zn::WithTrailingSlash(tableDir) + "jpeg_optimconvtable.dat";
    TableText text;
    if (!text.Open(path)) {
        zn::ShowMessage("(CJpgDctW())-Error: Cannot open conversion table\r\n" + path);
        std::fill(std::begin(m_fConvTable), std::end(m_fConvTable), 0.2f);
        return;
    }
    // Lines "band column row weight"; entries the file does not give stay 0.
    for (int line = 0; line < kConvTableLines; ++line) {
        int band = 0, u = 0, v = 0;
        float w = 0;
        const int got = ReadInt(text, &band);
        if (got == TABLE_EOF)
            break;
        if (got != 1 || ReadInt(text, &u) != 1 || ReadInt(text, &v) != 1 || ReadFloat(text, &w) != 1 ||
            band < 0 || band >= kJpgBands || u < 0 || u > 7 || v < 0 || v > 7 || !std::isfinite(w)) {
            zn::ShowMessage("(CJpgDctW())-Error: Bad conversion table\r\n" + path);
            std::fill(std::begin(m_fConvTable), std::end(m_fConvTable), 0.2f);
            return;
        }
        m_fConvTable[band * 64 + v * 8 + u] = w;
    }
    m_bTableLoaded = true;
}

double CJpgDctW::PictureAngle() const
{
    return 2.0 * std::atan(0.5 / m_fViewingDistance) * 180.0 / std::acos(-1.0);
}

double CJpgDctW::Csf(int level, float theta, float luminance) const
{
    const double lum = std::max(luminance, kJpgMinLuminance);
    const double alpha = PictureAngle();
    const double degreesPerPixel = alpha / m_nPictureHeight;
    const double fieldWidth = 1.2 * alpha;
    const double e = 4.0 * std::pow(0.5, level);
    const double f = e / (kTwoPi * degreesPerPixel); // cycles per degree
    const double a = 540.0 * std::pow(1.0 + 0.7 / lum, -0.2);
    const double bf = 0.3 * std::pow(1.0 + 100.0 / lum, 0.15) * f;
    const double q = 1.0 + f / 3.0;
    // exp(-Bf) sqrt(1 + 0.06 exp(Bf)), written so that neither factor overflows.
    const double decay = std::sqrt(std::exp(-2.0 * bf) + 0.06 * std::exp(-bf));
    return a / (1.0 + 12.0 / (fieldWidth * q * q)) * f * decay * (0.89 + 0.11 * std::cos(4.0 * theta));
}

void CJpgDctW::DisplayLuminance(const ZnImage &p, ZnImage *m) const
{
    m->Alloc(p.Rows(), p.Cols());
    const double scale = m_fMaxLuminance / std::pow(255.0, m_fGamma);
    const size_t n = static_cast<size_t>(p.Rows()) * p.Cols();
    for (size_t i = 0; i < n; ++i)
        m->Data()[i] = static_cast<float>(std::pow(std::max(p.Data()[i], 0.0f), m_fGamma) * scale);
}

void CJpgDctW::BandSensitivities()
{
    for (int level = 0; level < kJpgLevels; ++level) {
        // The adaptation luminance: the low-pass image of the same size.
        const ZnImage &lum = m_bank.m_band[level == 0 ? kJpgLowpass : 5 * (level - 1) + kJpgLowpass];
        for (int o = 0; o < 4; ++o) {
            ZnImage &band = m_bank.m_band[5 * level + o];
            const size_t n = static_cast<size_t>(band.Rows()) * band.Cols();
            std::vector<float> weight(n);
            for (size_t i = 0; i < n; ++i) {
                const float l = std::max(lum.Data()[i], kJpgMinLuminance);
                weight[i] = static_cast<float>(Csf(level, kJpgTheta[o], l) / l);
                band.Data()[i] *= weight[i];
            }
            m_bank.AnalyticMagnitude(&band, o < 2);
            for (size_t i = 0; i < n; ++i) {
                const float b = band.Data()[i];
                band.Data()[i] = (b < 1.0f ? 1.0f : std::pow(b, -0.7f)) * weight[i];
            }
        }
    }
}

void CJpgDctW::SensitivityMap(const ZnImage &p, ZnImage *t)
{
    const int rows = p.Rows(), cols = p.Cols();
    ZnImage m;
    DisplayLuminance(p, &m);
    m_bank.Decompose(m);
    m_bank.SmoothLowpass();
    BandSensitivities();

    const int blockRows = rows / 8, blockCols = cols / 8;
    ZnImage mean;
    mean.Alloc(blockRows, blockCols);
    for (int r = 0; r < blockRows; ++r)
        for (int c = 0; c < blockCols; ++c) {
            double s = 0;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    s += At(p, 8 * r + y, 8 * c + x);
            At(mean, r, c) = static_cast<float>(s / 64.0);
        }

    t->Alloc(rows, cols);
    std::fill(t->Data(), t->Data() + static_cast<size_t>(rows) * cols, 0.0f);
    const double gain = m_fGamma * m_fMaxLuminance / std::pow(255.0, m_fGamma);
    for (int band = 0; band < kJpgBands; ++band) {
        if (band % 5 == kJpgLowpass)
            continue;
        const int level = band / 5;
        // One sample per 8x8 block: the middle of each cell of the band's grid.
        const int step = level <= 1 ? 8 : 8 >> (level - 1);
        const ZnImage &s = m_bank.m_band[band];
        const float *w = m_fConvTable + band * 64;
        for (int r = 0; r < blockRows; ++r)
            for (int c = 0; c < blockCols; ++c) {
                const double b = std::max(At(mean, r, c), kJpgMinLuminance);
                const double v =
                    gain * std::pow(b, m_fGamma - 1.0) * At(s, r * step + step / 2, c * step + step / 2);
                const float v2 = static_cast<float>(v * v);
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x)
                        At(*t, 8 * r + y, 8 * c + x) += v2 * w[8 * y + x];
            }
    }
}

void JpgScaleMap(ZnImage *t)
{
    const size_t n = static_cast<size_t>(t->Rows()) * t->Cols();
    float lo = 1.0e8f, hi = -1.0e8f;
    for (size_t i = 0; i < n; ++i) {
        lo = std::min(lo, t->Data()[i]);
        hi = std::max(hi, t->Data()[i]);
    }
    for (size_t i = 0; i < n; ++i) {
        float &v = t->Data()[i];
        // The ratio first: the maximum then maps to exactly 255.
        v = hi > lo ? static_cast<float>(static_cast<double>(v - lo) / static_cast<double>(hi - lo) * 255.0)
                    : 128.0f;
    }
}

std::array<int16_t, 64> JpgMatrixFromMap(const ZnImage &t)
{
    const int blockRows = t.Rows() / 8, blockCols = t.Cols() / 8;
    double visibility[64] = {};
    for (int r = 0; r < blockRows; ++r)
        for (int c = 0; c < blockCols; ++c)
            for (int k = 0; k < 64; ++k)
                visibility[k] += At(t, 8 * r + k / 8, 8 * c + k % 8);

    const JpegTable standard = JpegBaseTable(kJpegStandardY);
    double standardMean = 0;
    for (int v : standard)
        standardMean += v / 64.0;
    double inverseSum = 0;
    int seen = 0;
    for (double v : visibility)
        if (v > 0) {
            inverseSum += 1.0 / std::sqrt(v);
            ++seen;
        }
    std::array<int16_t, 64> zigzag;
    for (int k = 0; k < 64; ++k) {
        const int natural = kJpegZigzagToNatural[k];
        long step = standard[natural];
        if (seen > 0) {
            const double v = visibility[natural];
            step = v > 0 ? std::lround(standardMean * seen / inverseSum / std::sqrt(v)) : 255;
        }
        zigzag[k] = static_cast<int16_t>(std::clamp(step, 1L, 255L));
    }
    return zigzag;
}

bool JpgDesignSizeOk(int rows, int cols)
{
    return rows >= 16 && cols >= 16 && rows % 16 == 0 && cols % 16 == 0;
}
