// EZW decoder. It mirrors the encoder's passes symbol by symbol: a significant coefficient starts
// at 1.5 T (the middle of [T, 2T)), and each subordinate symbol moves it a quarter of the threshold
// up or down, halving the interval it is known to lie in.
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

using namespace ezw;

namespace {

class EzwDecoder
{
public:
    EzwDecoder(std::span<const uint8_t> code, std::vector<EzwDecision> *decisions)
        : m_coder(code), m_decisions(decisions)
    {}
    // The filters filled, the level and flag arrays made for w x h and L levels (the coder started
    // with the first 16 bits when it was made).
    void Ezw_decoder_init(int w, int h, int levels, EzwWorkspace *work);
    // The passes within a budget of bits; returns the bytes of code taken in when they ended.
    long Ezw_decode(long budget, int *passes);
    // After Ezw_decode: whether the end symbol came before the budget was spent (the stream was
    // decoded whole), and the bits the passes took by the coder's count.
    bool EndedBeforeBudget() const { return m_remaining >= 1; }
    long BitsDecoded() const { return m_budget - m_remaining; }
    // The coefficients take their signs.
    void ApplySigns();
    // The decoded picture, the mean added back, rounded and limited to 0..255.
    void Reconstruct(ZnImage *output, int mean);
    const EzwPyramid &Pyramid() const { return m_p; }
    // Releases the arrays, or leaves them to the workspace.
    void Ezw_decoder_free(EzwWorkspace *work);

private:
    // Reads one symbol. False when it ends the passes: the end symbol, or the budget spent by it.
    bool Get(int *symbol, bool counts = true)
    {
        int bits = 0;
        *symbol = Ezw_get_symbol(m_model, &m_coder, &bits);
        Ezw_model_update(&m_model, *symbol);
        m_last = *symbol;
        ++m_symbols;
        if (!counts)
            return true;
        m_remaining -= bits;
        return *symbol != 11 && m_remaining >= 1;
    }
    // Reads the dominant symbol of one coefficient and applies it; false when the passes end.
    bool Ezw_apply_symbol(double *c, uint8_t *f, int type, int level, int row, int col, int *symbol);
    bool Subordinate();

    EzwPyramid m_p;
    Flags m_f;
    EzwFilterSet m_filters;
    EzwModel m_model;
    EzwArithDecoder m_coder;
    EzwList m_list;
    EzwSortScratch m_sortScratch;
    std::vector<EzwDecision> *m_decisions;
    long m_remaining = 0;
    long m_budget = 0;
    double m_T = 0;
    int m_last = 0;
    int m_pass = 0;
    long m_symbols = 0;
};

void EzwDecoder::Ezw_decoder_init(int w, int h, int levels, EzwWorkspace *work)
{
    EzwWorkspace::Lend(work, &m_p, &m_f, &m_list, &m_sortScratch);
    Ezw_filters(&m_filters);
    m_p.Allocate(w, h, levels);
    m_f.Allocate(m_p);
    EzwReserveList(&m_list, &m_sortScratch, static_cast<size_t>(w) * h);
}

void EzwDecoder::Ezw_decoder_free(EzwWorkspace *work)
{
    EzwWorkspace::Return(work, &m_p, &m_f, &m_list, &m_sortScratch);
}

bool EzwDecoder::Ezw_apply_symbol(double *c, uint8_t *f, int type, int level, int row, int col, int *symbol)
{
    if (!Get(symbol))
        return false;
    if (m_decisions)
        m_decisions->push_back({static_cast<uint8_t>(*symbol),
                                type == 0 ? EzwDecision::Lowpass : EzwDecision::Detail,
                                static_cast<int8_t>(level)});
    switch (*symbol) {
    case 1:
    case 4:
        *f &= static_cast<uint8_t>(~kSignificantNow);
        break;
    case 2:
    case 3:
        *f |= kSignificantNow | kSignificant;
        if (*symbol == 2)
            *f &= static_cast<uint8_t>(~kNegative);
        else
            *f |= kNegative;
        *c = 1.5 * m_T;
        m_list.push_back(EzwNode{static_cast<uint8_t>(type), static_cast<uint8_t>(level), row, col, 0.0, *c});
        break;
    default:
        zn::Log(zn::LogLevel::Error, "Something is terribly wrong!\n");
        break;
    }
    return true;
}

bool EzwDecoder::Subordinate()
{
    for (EzwNode &n : m_list) {
        int symbol;
        if (!Get(&symbol))
            return false;
        if (m_decisions)
            m_decisions->push_back({static_cast<uint8_t>(symbol), EzwDecision::Refinement, -1});
        double &c = n.type == 0 ? m_p.ll.at(n.row, n.col) : m_p.Band(n.level, n.type).at(n.row, n.col);
        if (symbol == 1)
            c -= m_T / 4;
        else if (symbol == 2)
            c += m_T / 4;
        else // a damaged stream: the coefficient keeps its value
            zn::LogF(zn::LogLevel::Info,
                     "Something is terribly wrong (Y)! (symbol=%d, bits left: %ld, passes %d)\n", symbol,
                     m_remaining, m_pass);
        n.recon = c;
    }
    return true;
}

long EzwDecoder::Ezw_decode(long budget, int *passes)
{
    m_remaining = m_budget = budget;
    Ezw_model_reset(&m_model);
    std::vector<int> digits(1);
    Get(&digits[0], false);
    for (int k = 0; k < digits[0]; ++k) {
        digits.push_back(0);
        Get(&digits.back(), false);
    }
    m_T = EzwThresholdFromSymbols(digits);

    const int L = m_p.levels;
    int pass = 0;
    for (bool going = true; going;) {
        m_pass = ++pass;
        const long before = m_symbols;
        for (auto &band : m_f.detail)
            for (uint8_t &f : band)
                f |= kVisit;
        int symbol = 0;
        for (int r = 0; r < m_p.ll.rows && going; ++r)
            for (int c = 0; c < m_p.ll.cols && going; ++c) {
                const size_t k = static_cast<size_t>(r) * m_p.ll.cols + c;
                if (m_f.ll[k] & kSignificant)
                    continue;
                going = Ezw_apply_symbol(&m_p.ll.v[k], &m_f.ll[k], 0, L - 1, r, c, &symbol);
                if (going && symbol == 4)
                    ClearLowpassDescendants(m_p, &m_f, r, c);
            }
        for (int i = L - 1; i >= 0 && going; --i)
            for (int t = 1; t <= 3 && going; ++t) {
                EzwPlane &band = m_p.Band(i, t);
                std::vector<uint8_t> &flags = m_f.Band(i, t);
                for (int r = 0; r < band.rows && going; ++r)
                    for (int c = 0; c < band.cols && going; ++c) {
                        const size_t k = static_cast<size_t>(r) * band.cols + c;
                        if (!(flags[k] & kVisit) || (flags[k] & kSignificant))
                            continue;
                        going = Ezw_apply_symbol(&band.v[k], &flags[k], t, i, r, c, &symbol);
                        if (going && symbol == 4 && i > 0)
                            ClearDetailDescendants(m_p, &m_f, i, t, r, c);
                    }
            }
        if (!going || !Subordinate())
            break;
        zn::LogF(zn::LogLevel::Info, "Pass  %2d: %6ld symbols decoded\n", pass, m_symbols - before);
        Ezw_sort_list(&m_list, &m_sortScratch);
        m_T /= 2;
    }
    zn::LogF(zn::LogLevel::Info, "Final %2d: %6ld symbols decoded\n\n", pass, m_symbols);
    *passes = pass;
    const long used = m_coder.BytesFetched();
    // The rest of the stream up to its end symbol; a stream without one stops at its end.
    while (m_last != 11 && !m_coder.PastEnd()) {
        int symbol;
        Get(&symbol, false);
    }
    zn::LogF(zn::LogLevel::Info, "Total number of bits decoded is %ld\n\n", m_budget - m_remaining);
    return used;
}

void EzwDecoder::ApplySigns()
{
    for (size_t k = 0; k < m_p.ll.v.size(); ++k)
        if (m_f.ll[k] & kNegative)
            m_p.ll.v[k] = -m_p.ll.v[k];
    for (size_t b = 0; b < m_p.detail.size(); ++b)
        for (size_t k = 0; k < m_p.detail[b].v.size(); ++k)
            if (m_f.detail[b][k] & kNegative)
                m_p.detail[b].v[k] = -m_p.detail[b].v[k];
}

void EzwDecoder::Reconstruct(ZnImage *output, int mean)
{
    const int W = m_p.width;
    output->Alloc(m_p.height, W);
    float *dst = output->Data();
    EzwInverseRows(m_p, m_filters, [&](int row, const double *v) {
        float *d = dst + static_cast<size_t>(row) * W;
        for (int x = 0; x < W; ++x)
            d[x] = static_cast<float>(std::clamp(mean + Ezw_round(std::clamp(v[x], -1e6, 1e6)), 0, 255));
    });
}

[[noreturn]] void Damaged(const std::string &why)
{
    throw zn::RunAborted("The EZW stream cannot be decoded: " + why);
}

} // namespace

EzwHeader EzwReadHeader(std::span<const uint8_t> stream, long maxPixels)
{
    if (stream.size() < static_cast<size_t>(kEzwHeaderBytes))
        Damaged("it is shorter than its header.");
    EzwHeader h;
    h.levels = stream[0];
    h.width = stream[1] + 256 * stream[2];
    h.height = stream[3] + 256 * stream[4];
    h.mean = stream[5];
    const int L = h.levels, W = h.width, H = h.height;
    if (L < 1 || L > 8)
        Damaged(zn::Format("%d wavelet levels.", L));
    if (W == 0 || H == 0 || W % (1 << L) != 0 || H % (1 << L) != 0)
        Damaged(zn::Format("a %d x %d picture cannot have %d wavelet levels.", W, H, L));
    if (static_cast<long>(W) * H > maxPixels)
        Damaged(zn::Format("a %d x %d picture is too large.", W, H));
    return h;
}

EzwDecodeResult EzwDecodeBytes(std::span<const uint8_t> stream, ZnImage *output, ZnImage *display, float rate,
                               std::vector<EzwDecision> *decisions, long maxPixels, EzwWorkspace *work)
{
    const EzwHeader h = EzwReadHeader(stream, maxPixels);
    const int W = h.width, H = h.height;

    EzwDecodeResult out;
    const double bits = static_cast<double>(W) * H * static_cast<double>(rate);
    const long budget = bits > 0 ? static_cast<long>(std::min(bits, 4.0e18)) : 0;

    EzwDecoder dec(stream.subspan(kEzwHeaderBytes), decisions);
    dec.Ezw_decoder_init(W, H, h.levels, work);
    const long used = dec.Ezw_decode(budget, &out.passes);
    out.bytesUsed = std::min<long>(kEzwHeaderBytes + used, static_cast<long>(stream.size()));
    // The encoder ends its stream with the end symbol once the next symbol would overrun its budget,
    // so a few bits short is the rate asked. A stream that ends short by more than the report's two
    // decimals show was decoded whole, at the rate it holds.
    const double pixels = double(W) * H;
    const bool whole = dec.EndedBeforeBudget() && double(budget - dec.BitsDecoded()) > 0.005 * pixels;
    const long decodedBits = whole ? dec.BitsDecoded() : budget;
    out.rate = whole ? static_cast<float>(double(decodedBits) / pixels) : rate;
    EzwAppendText(&out.text, " Decoded bit rate\t     : %4.2f (bpp)\r\n", static_cast<double>(out.rate));
    EzwAppendText(&out.text, " Decoded #bits\t     : %ld (bits)\r\n", decodedBits);
    dec.ApplySigns();
    if (display)
        Ezw_subband_image(display, dec.Pyramid());
    if (output)
        dec.Reconstruct(output, h.mean);
    dec.Ezw_decoder_free(work);
    return out;
}
