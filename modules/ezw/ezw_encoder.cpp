// EZW encoder. Each pass first marks the coefficients at or above the threshold, then the dominant
// pass tells the decoder where they are (one zerotree symbol covers a whole tree of insignificant
// coefficients), and the subordinate pass adds one bit of precision to every coefficient found so
// far. The passes stop wherever the bit budget runs out.
#include "modules/ezw/ezw_arith.h"
#include "modules/ezw/ezw_coder.h"
#include "modules/ezw/ezw_sort.h"
#include "modules/ezw/ezw_tree.h"
#include "modules/ezw/ezw_workspace.h"

#include "image/znimage.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/log.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

using namespace ezw;

namespace {

// One encoding: the pyramid, its flags, the list and the coder.
class EzwEncoder
{
public:
    explicit EzwEncoder(std::vector<EzwDecision> *decisions) : m_decisions(decisions) {}
    // The coder started, the filters filled, the level and flag arrays made for w x h and L levels.
    void Ezw_encoder_init(int w, int h, int levels, EzwWorkspace *work);
    // The passes over the picture held in bytes (h rows of w) with its mean taken out.
    void Ezw_encode(const std::vector<uint8_t> &bytes, ZnImage *display, int mean, long budget,
                    EzwEncodeResult *coarseness);
    // Releases the arrays, or leaves them to the workspace.
    void Ezw_encoder_free(EzwWorkspace *work);
    const std::vector<uint8_t> &Code() const { return m_coder.Bytes(); }

private:
    bool Put(int symbol, EzwDecision::Kind kind = EzwDecision::Refinement, int level = -1, bool record = true)
    {
        const int spent = Ezw_put_symbol(symbol, m_model, &m_coder);
        Ezw_model_update(&m_model, symbol);
        ++m_symbols;
        if (record && m_decisions)
            m_decisions->push_back({static_cast<uint8_t>(symbol), kind, static_cast<int8_t>(level)});
        return spent != 0;
    }
    // Marks the coefficients at or above the threshold (flags only).
    void Ezw_significance(const EzwPlane &band, std::vector<uint8_t> *flags, bool visit);
    // Puts the coefficients found significant in this pass on the list, in scan order, and clears
    // them so they are not found again.
    void AppendNewlySignificant();
    void MarkSignificantDescendants();
    // The dominant symbol of detail coefficient k of band (level, type), 0 when it is skipped.
    int Ezw_detail_symbol(int level, int type, size_t k, int r, int c);
    bool DominantPass();
    bool SubordinatePass();

    EzwPyramid m_p;
    Flags m_f;
    EzwFilterSet m_filters;
    EzwModel m_model;
    EzwArithEncoder m_coder;
    EzwList m_list;
    EzwSortScratch m_sortScratch;
    std::vector<std::vector<uint8_t>> m_below; // per detail band of level >= 1: a descendant is significant
    std::vector<EzwDecision> *m_decisions;
    double m_T = 0;
    int m_intervals = 0;
    long m_symbols = 0;
};

void EzwEncoder::Ezw_encoder_init(int w, int h, int levels, EzwWorkspace *work)
{
    EzwWorkspace::Lend(work, &m_p, &m_f, &m_list, &m_sortScratch);
    m_coder = EzwArithEncoder{};
    Ezw_filters(&m_filters);
    m_p.Allocate(w, h, levels, false); // the transform fills every band
    m_f.Allocate(m_p);
    EzwReserveList(&m_list, &m_sortScratch, static_cast<size_t>(w) * h);
}

void EzwEncoder::Ezw_encoder_free(EzwWorkspace *work)
{
    EzwWorkspace::Return(work, &m_p, &m_f, &m_list, &m_sortScratch);
    m_below.clear();
}

void EzwEncoder::Ezw_significance(const EzwPlane &band, std::vector<uint8_t> *flags, bool visit)
{
    const double *c = band.v.data();
    uint8_t *f = flags->data();
    const uint8_t set = visit ? kVisit : 0;
    for (size_t k = 0, n = band.v.size(); k < n; ++k) {
        const uint8_t g = f[k] | set;
        f[k] = c[k] >= m_T ? g | kSignificantNow | kSignificant : g & static_cast<uint8_t>(~kSignificantNow);
    }
}

void EzwEncoder::AppendNewlySignificant()
{
    auto append = [this](EzwPlane &band, const std::vector<uint8_t> &flags, int type, int level) {
        for (int r = 0; r < band.rows; ++r)
            for (int c = 0; c < band.cols; ++c) {
                const size_t k = static_cast<size_t>(r) * band.cols + c;
                if (flags[k] & kSignificantNow) {
                    m_list.push_back(EzwNode{static_cast<uint8_t>(type), static_cast<uint8_t>(level), r, c,
                                             band.v[k], 0.0});
                    band.v[k] = 0; // found once only
                }
            }
    };
    const int L = m_p.levels;
    append(m_p.ll, m_f.ll, 0, L - 1);
    for (int i = L - 1; i >= 0; --i)
        for (int t = 1; t <= 3; ++t)
            append(m_p.Band(i, t), m_f.Band(i, t), t, i);
}

// Whether any descendant became significant in this pass does not change during the dominant pass,
// so it is found once, finest levels first, instead of walking every tree from every root.
void EzwEncoder::MarkSignificantDescendants()
{
    const int L = m_p.levels;
    m_below.resize(m_p.detail.size()); // kept from pass to pass: assign() below reuses each band
    for (int i = 1; i < L; ++i)
        for (int t = 1; t <= 3; ++t) {
            const EzwPlane &band = m_p.Band(i, t);
            const int childCols = m_p.Band(i - 1, t).cols;
            const std::vector<uint8_t> &cf = m_f.Band(i - 1, t);
            const std::vector<uint8_t> *cb =
                i >= 2 ? &m_below[static_cast<size_t>(3 * (i - 1) + t - 1)] : nullptr;
            std::vector<uint8_t> &mine = m_below[static_cast<size_t>(3 * i + t - 1)];
            mine.assign(band.v.size(), 0);
            for (int r = 0; r < band.rows; ++r) {
                // The 2x2 children of row r: their flags this pass, and whether their own
                // descendants hold a significant coefficient.
                const uint8_t *a = &cf[static_cast<size_t>(2 * r) * childCols], *b = a + childCols;
                const uint8_t *ca = cb ? &(*cb)[static_cast<size_t>(2 * r) * childCols] : nullptr;
                uint8_t *out = &mine[static_cast<size_t>(r) * band.cols];
                for (int c = 0; c < band.cols; ++c) {
                    uint8_t any = (a[2 * c] | a[2 * c + 1] | b[2 * c] | b[2 * c + 1]) & kSignificantNow;
                    if (ca)
                        any |= ca[2 * c] | ca[2 * c + 1] | ca[childCols + 2 * c] | ca[childCols + 2 * c + 1];
                    out[c] = any ? 1 : 0;
                }
            }
        }
}

// Returns true when the budget ran out.
bool EzwEncoder::DominantPass()
{
    const int L = m_p.levels;
    MarkSignificantDescendants();
    const int top = L - 1;
    for (int r = 0; r < m_p.ll.rows; ++r)
        for (int c = 0; c < m_p.ll.cols; ++c) {
            uint8_t &f = m_f.ll[static_cast<size_t>(r) * m_p.ll.cols + c];
            if (!(f & kSignificantNow) && (f & kSignificant))
                continue;
            int symbol;
            if (f & kSignificantNow) {
                symbol = (f & kNegative) ? 3 : 2;
            } else {
                bool any = false;
                for (int t = 1; t <= 3 && !any; ++t) {
                    const size_t k = static_cast<size_t>(r) * m_p.Band(top, t).cols + c;
                    any = (m_f.Band(top, t)[k] & kSignificantNow) ||
                          (top >= 1 && m_below[static_cast<size_t>(3 * top + t - 1)][k]);
                }
                symbol = any ? 1 : 4;
                if (!any)
                    ClearLowpassDescendants(m_p, &m_f, r, c);
            }
            if (Put(symbol, EzwDecision::Lowpass, top))
                return true;
        }
    for (int i = L - 1; i >= 0; --i)
        for (int t = 1; t <= 3; ++t) {
            const EzwPlane &band = m_p.Band(i, t);
            for (int r = 0; r < band.rows; ++r)
                for (int c = 0; c < band.cols; ++c) {
                    const int symbol = Ezw_detail_symbol(i, t, static_cast<size_t>(r) * band.cols + c, r, c);
                    if (symbol && Put(symbol, EzwDecision::Detail, i))
                        return true;
                }
        }
    return false;
}

int EzwEncoder::Ezw_detail_symbol(int i, int t, size_t k, int r, int c)
{
    const uint8_t f = m_f.Band(i, t)[k];
    if (!(f & kVisit) || (!(f & kSignificantNow) && (f & kSignificant)))
        return 0;
    if (f & kSignificantNow)
        return (f & kNegative) ? 3 : 2;
    if (i == 0)
        return 1; // the finest level has no descendants: never a zerotree root
    if (m_below[static_cast<size_t>(3 * i + t - 1)][k])
        return 1;
    ClearDetailDescendants(m_p, &m_f, i, t, r, c);
    return 4;
}

bool EzwEncoder::SubordinatePass()
{
    const double h = m_T / 2;
    m_intervals = 2 * m_intervals + 2;
    for (EzwNode &n : m_list) {
        // The interval [T + j h, T + (j + 1) h) that holds the magnitude; j odd is the upper half of
        // the interval the decoder knew so far.
        int j = static_cast<int>(std::floor((n.magnitude - m_T) / h));
        j = std::clamp(j, 0, m_intervals - 1);
        while (j > 0 && m_T + j * h > n.magnitude)
            --j;
        while (j < m_intervals - 1 && m_T + (j + 1) * h <= n.magnitude)
            ++j;
        n.recon = m_T + (j + 0.5) * h;
        if (Put(j % 2 == 1 ? 2 : 1))
            return true;
    }
    return false;
}

void EzwEncoder::Ezw_encode(const std::vector<uint8_t> &bytes, ZnImage *display, int mean, long budget,
                            EzwEncodeResult *out)
{
    m_coder.SetBudget(budget);
    EzwForwardBytes(bytes, mean, &m_p, m_filters);
    if (display)
        Ezw_subband_image(display, m_p);

    // Signs go into the flags; from here on the pyramid holds magnitudes.
    double M = 0;
    auto sign = [&M](double &c, uint8_t &f) {
        if (c < 0) {
            f |= kNegative;
            c = -c;
        }
        M = std::max(M, c);
    };
    for (size_t k = 0; k < m_p.ll.v.size(); ++k)
        sign(m_p.ll.v[k], m_f.ll[k]);
    for (size_t b = 0; b < m_p.detail.size(); ++b)
        for (size_t k = 0; k < m_p.detail[b].v.size(); ++k)
            sign(m_p.detail[b].v[k], m_f.detail[b][k]);

    Ezw_model_reset(&m_model);
    const double T0 = M / 2 + 1;
    // The decoder learns the integer part of the first threshold as decimal digits, least
    // significant first.
    // Their budget counts, but running out there does not stop the coding.
    for (int symbol : EzwThresholdSymbols(T0))
        Put(symbol, EzwDecision::Refinement, -1, false);
    m_T = T0;
    out->firstThreshold = static_cast<float>(T0);

    int pass = 0;
    bool stop = false;
    const int L = m_p.levels;
    for (;;) {
        ++pass;
        const long before = m_symbols;
        Ezw_significance(m_p.ll, &m_f.ll, false);
        for (int i = L - 1; i >= 0; --i)
            for (int t = 1; t <= 3; ++t)
                Ezw_significance(m_p.Band(i, t), &m_f.Band(i, t), true);
        // The dominant pass reads only the flags; the list is needed from the subordinate pass on, so
        // a pass that ends on the budget in its dominant part never builds it.
        if (stop || DominantPass())
            break;
        AppendNewlySignificant();
        if (SubordinatePass())
            break;
        zn::LogF(zn::LogLevel::Info, "Pass  %2d: %6ld symbols coded\n", pass, m_symbols - before);
        Ezw_sort_list(&m_list, &m_sortScratch);
        m_T /= 2;
        if (m_T < 0.01)
            stop = true;
    }
    Put(11, EzwDecision::Refinement, -1, false);
    zn::LogF(zn::LogLevel::Info, "Final %2d: %6ld symbols coded\n\n", pass, m_symbols);
    out->finalThreshold = m_T;
    out->passes = pass;
    Ezw_finish_coder(&m_coder);
    zn::LogF(zn::LogLevel::Info, "Total number of bits encoded is %ld\n\n", m_coder.BitsEmitted());
}

} // namespace

std::vector<int> EzwThresholdSymbols(double T0)
{
    int D = 0;
    for (double F = T0; F >= 1; F *= 0.1) {
        if (D > 10)
            throw zn::RunAborted("Error in Ezw_encode: Threshold too high.\n");
        ++D;
    }
    std::vector<int> symbols{D};
    long Ti = static_cast<long>(T0);
    for (int d = 0; d < D; ++d) {
        symbols.push_back(static_cast<int>(Ti % 10) + 1);
        Ti /= 10;
    }
    return symbols;
}

double EzwThresholdFromSymbols(const std::vector<int> &symbols)
{
    double T = 0, scale = 1;
    for (size_t k = 1; k < symbols.size(); ++k) {
        T += (symbols[k] - 1) * scale;
        scale *= 10;
    }
    return T;
}

EzwEncodeResult EzwEncodeBytes(const ZnImage &input, ZnImage *display, float rate, int levels,
                               std::vector<EzwDecision> *decisions, EzwWorkspace *work)
{
    if (levels < 1 || levels > 8)
        throw zn::RunAborted(zn::Format("EZW: %d wavelet levels cannot be coded (1 to 8).", levels));
    const int W0 = input.Cols(), H0 = input.Rows();
    const int W = EzwCroppedSide(W0, levels), H = EzwCroppedSide(H0, levels);
    // A side below 2^L leaves nothing to code; the Levels page rules such choices out, and the
    // engine refuses them rather than code an empty picture.
    if (W <= 0 || H <= 0)
        throw zn::RunAborted(
            zn::Format("EZW: the image (%d x %d) is too small for %d wavelet levels.", W0, H0, levels));
    if (W > 65535 || H > 65535)
        throw zn::RunAborted(zn::Format("EZW: the image (%d x %d) is too large.", W0, H0));

    // The coded picture is the top-left W x H part as whole grey levels.
    std::vector<uint8_t> bytes(static_cast<size_t>(W) * H);
    const float *src = input.Data();
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const float v = src[static_cast<size_t>(y) * W0 + x];
            bytes[static_cast<size_t>(y) * W + x] =
                static_cast<uint8_t>(v >= 255.0f ? 255 : (v > 0.0f ? static_cast<int>(v) : 0));
        }
    const int mean = EzwMean(bytes, W, H);

    EzwEncodeResult out;
    const long budget = static_cast<long>(static_cast<double>(W) * H * static_cast<double>(rate));
    EzwAppendText(&out.text, " #Resolution levels \t     : %2d \r\n", levels + 1);
    EzwAppendText(&out.text, " Target bit rate\t     : %4.2f (bpp)\r\n", static_cast<double>(rate));
    EzwAppendText(&out.text, " Target file size\t     : %ld (bits)\r\n", budget);

    EzwEncoder enc(decisions);
    enc.Ezw_encoder_init(W, H, levels, work);
    enc.Ezw_encode(bytes, display, mean, budget, &out);
    const std::vector<uint8_t> &code = enc.Code();
    out.stream = {static_cast<uint8_t>(levels),  static_cast<uint8_t>(W % 256), static_cast<uint8_t>(W / 256),
                  static_cast<uint8_t>(H % 256), static_cast<uint8_t>(H / 256), static_cast<uint8_t>(mean)};
    out.stream.insert(out.stream.end(), code.begin(), code.end());
    enc.Ezw_encoder_free(work);
    EzwAppendText(&out.text,
                  " Quantizer coarseness\r\n    Pass 1                      : %.2f\r\n    Pass %2d (final)  "
                  "          : %.2f\r\n",
                  static_cast<double>(static_cast<float>(out.firstThreshold)), out.passes,
                  static_cast<double>(static_cast<float>(out.finalThreshold)));
    return out;
}

int EzwMean(const std::vector<uint8_t> &bytes, int width, int height)
{
    double sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    return Ezw_round(sum / (static_cast<double>(width) * height));
}

void EzwAppendText(std::string *text, const char *format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    *text += line;
}
