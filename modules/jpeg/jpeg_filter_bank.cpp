// The perceptual model's filter bank and its kernel files. The first level uses band-pass fans
// tuned to the finest detail ("high" fans); every coarser level filters the previous low-pass image
// with the plain fans and halves the low-pass again, so the same kernels reach ever lower
// frequencies. 90 and 135 degrees are the 0 and 45 degree fans turned.
#include "modules/jpeg/jpeg_filter_bank.h"

#include "platform/messages.h"
#include "platform/paths.h"

#include <algorithm>
#include <cmath>

const float kJpgTheta[4] = {0.0f, 0.7853f, 1.5707f, 2.3562f};

namespace {

// Kernel sizes beyond this are not filters but damaged files.
constexpr int kMaxKernelSide = 1024;

bool ReadValues(TableText &text, int count, std::vector<float> *values)
{
    values->resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        if (ReadFloat(text, &(*values)[i]) != 1 || !std::isfinite((*values)[i]))
            return false;
    return true;
}

} // namespace

bool ReadFilter(const std::string &path, JpgKernel2D *kernel)
{
    TableText text;
    if (!text.Open(path)) {
        zn::ShowMessage(zn::Format("(ReadFilter)-F, Error opening file:\r\n%s", path.c_str()));
        return false;
    }
    int rows = 0, cols = 0;
    std::vector<float> values;
    if (ReadInt(text, &rows) != 1 || ReadInt(text, &cols) != 1 || rows < 1 || cols < 1 ||
        rows > kMaxKernelSide || cols > kMaxKernelSide || !ReadValues(text, rows * cols, &values)) {
        zn::ShowMessage(zn::Format("(ReadFilter)-F, Error reading file:\r\n%s", path.c_str()));
        return false;
    }
    const int side = std::max(rows, cols);
    kernel->side = side;
    kernel->centreRow = rows >= 2 ? side / 2 : 0;
    kernel->centreCol = cols >= 2 ? side / 2 : 0;
    kernel->k.assign(static_cast<size_t>(side) * side, 0.0f);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            kernel->k[static_cast<size_t>(r) * side + c] = values[static_cast<size_t>(r) * cols + c];
    return true;
}

bool ReadFilter1d(const std::string &path, Filt *filt)
{
    TableText text;
    if (!text.Open(path)) {
        zn::ShowMessage("(InitFilterBank)-F, Error opening file:\r\n" + path);
        return false;
    }
    int length = 0;
    std::vector<float> values;
    if (ReadInt(text, &length) != 1 || length < 1 || length > kMaxKernelSide ||
        !ReadValues(text, length, &values)) {
        zn::ShowMessage("(InitFilterBank)-F, Error reading file:\r\n" + path);
        return false;
    }
    filt->type = 0;
    filt->ndim = 1;
    filt->dims1 = {length};
    filt->coef1 = std::move(values);
    filt->dims2.clear();
    filt->coef2.clear();
    return true;
}

bool CJpgFilterBank::InitFilterBank(const std::string &tableDir)
{
    m_bLoaded = false;
    auto path = [&tableDir](const char *name) { return zn::WithTrailingSlash(tableDir) + name; };
    if (!ReadFilter1d(path("jpeg_hilb_filter.dat"), &m_hilb) ||
        !ReadFilter1d(path("jpeg_gauss_filter.dat"), &m_gauss))
        return false;
    const std::pair<const char *, JpgKernel2D *> kernels[] = {
        {"jpeg_low2_filter.dat", &m_low2},         {"jpeg_low12_filter.dat", &m_low12},
        {"jpeg_fan0_filter.dat", &m_fan0},         {"jpeg_fan45_filter.dat", &m_fan45},
        {"jpeg_fan0high_filter.dat", &m_fan0high}, {"jpeg_fan45high_filter.dat", &m_fan45high},
    };
    for (const auto &[name, kernel] : kernels)
        if (!ReadFilter(path(name), kernel))
            return false;
    m_fan90 = m_fan0.Rotated90();
    m_fan135 = m_fan45.Rotated90();
    m_fan90high = m_fan0high.Rotated90();
    m_fan135high = m_fan45high.Rotated90();
    m_bLoaded = true;
    return true;
}

void CJpgFilterBank::Convolve(const ZnImage &in, ZnImage *out, const JpgKernel2D &kernel)
{
    out->Alloc(in.Rows(), in.Cols());
    m_fft.Convolve2D(in.Data(), out->Data(), in.Rows(), in.Cols(), kernel);
}

void CJpgFilterBank::Convolve1d(const ZnImage &in, ZnImage *out, const Filt &kernel, bool alongColumns)
{
    out->Alloc(in.Rows(), in.Cols());
    const int length = static_cast<int>(kernel.coef1.size());
    if (alongColumns)
        m_fft.ConvolveColumns(in.Data(), out->Data(), in.Rows(), in.Cols(), kernel.coef1.data(), length,
                              (length - 1) / 2);
    else
        m_fft.ConvolveRows(in.Data(), out->Data(), in.Rows(), in.Cols(), kernel.coef1.data(), length,
                           (length - 1) / 2);
}

void CJpgFilterBank::Decompose(const ZnImage &m)
{
    const JpgKernel2D *high[4] = {&m_fan0high, &m_fan45high, &m_fan90high, &m_fan135high};
    const JpgKernel2D *fans[4] = {&m_fan0, &m_fan45, &m_fan90, &m_fan135};
    for (int o = 0; o < 4; ++o)
        Convolve(m, &m_band[o], *high[o]);
    Convolve(m, &m_band[kJpgLowpass], m_low12); // level 0 keeps its low-pass at full size
    ZnImage filtered;
    for (int level = 1; level < m_nLevels; ++level) {
        const ZnImage &previous = m_band[5 * (level - 1) + kJpgLowpass];
        for (int o = 0; o < 4; ++o)
            Convolve(previous, &m_band[5 * level + o], *fans[o]);
        Convolve(previous, &filtered, m_low2);
        // Decimation keeps the even rows and columns.
        const int rows = (previous.Rows() + 1) / 2, cols = (previous.Cols() + 1) / 2;
        ZnImage &low = m_band[5 * level + kJpgLowpass];
        low.Alloc(rows, cols);
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < cols; ++x)
                low.Data()[static_cast<size_t>(y) * cols + x] =
                    filtered.Data()[static_cast<size_t>(2 * y) * previous.Cols() + 2 * x];
    }
}

void CJpgFilterBank::SmoothLowpass()
{
    ZnImage rows;
    for (int level = 0; level < m_nLevels; ++level) {
        ZnImage &low = m_band[5 * level + kJpgLowpass];
        Convolve1d(low, &rows, m_gauss, false);
        Convolve1d(rows, &low, m_gauss, true);
    }
}

void CJpgFilterBank::AnalyticMagnitude(ZnImage *band, bool alongColumns)
{
    ZnImage h;
    Convolve1d(*band, &h, m_hilb, alongColumns);
    const size_t n = static_cast<size_t>(band->Rows()) * band->Cols();
    float *b = band->Data();
    for (size_t i = 0; i < n; ++i)
        b[i] = std::sqrt(b[i] * b[i] + h.Data()[i] * h.Data()[i]);
}
