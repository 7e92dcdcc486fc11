// The SPIHT passes, shared by encoder and decoder: both build the same group list, models and tables
// and take the same branches; the encoder decides from the coefficients, the decoder from the
// stream. Groups of 2x2 coefficients share one list; a group's state byte holds, per position, a
// pixel bit (the coefficient is significant) and a set bit (its descendants were found significant,
// or it has none), and the count of each kind of open decision picks the context class.
#include "modules/spiht/spiht_coder.h"

#include "image/znimage.h"
#include "modules/spiht/spiht_arith.h"
#include "modules/spiht/spiht_image.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/log.h"
#include "platform/messages.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

constexpr int kDx[4] = {0, 0, 1, 1};
constexpr int kDy[4] = {0, 1, 0, 1};
constexpr int kLowestPlane = -32;

struct Group
{
    int x, y;
    int state; // low byte: the four positions' fields; above: the level code
};

struct Tables
{
    int h[256], g[256], b[256], cls[256];
    Tables()
    {
        for (int s = 0; s < 256; ++s) {
            h[s] = g[s] = b[s] = 0;
            for (int p = 0; p < 4; ++p) {
                const int f = (s >> (2 * p)) & 3;
                h[s] += f == 0;
                g[s] += f == 1;
                b[s] += f == 2;
            }
            cls[s] = (h[s] + g[s] + b[s]) ? SpihtContextClass(h[s], g[s], b[s]) : -1;
        }
    }
};
const Tables &TheTables()
{
    static const Tables t;
    return t;
}

enum class PassEnd { Normal, Stop };

class SpihtCodec
{
public:
    SpihtCodec(bool encoder, ImageBW *image, std::vector<SpihtDecision> *decisions)
        : m_enc(encoder), m_img(*image), m_decisions(decisions)
    {
        m_pw = m_img.PaddedWidth();
        m_ph = m_img.PaddedHeight();
        m_L = std::min(SpihtTreeLevels(m_pw), SpihtTreeLevels(m_ph));
        m_gx = m_pw >> m_L;
        m_gy = m_ph >> m_L;
        m_rootCode = (m_L + 1) * 512;
    }
    int Levels() const { return m_L; }
    // The largest descendant magnitude of every coefficient that has descendants; returns the
    // largest magnitude of the array.
    float SetMaxima();
    void CodePlanes(int topPlane);

    SpihtArithEncoder coder;
    SpihtArithDecoder decoder;
    long budget = 0;

private:
    float &C(int x, int y) { return m_img.at(x, y); }
    float &M(int x, int y) { return m_max[static_cast<size_t>(x) * (m_ph / 2) + y]; }
    float GroupMaximum(int x, int y, int depth);
    bool BudgetReached() const
    {
        return m_enc ? coder.byte_count() >= budget : (decoder.byte_count() >= budget || decoder.exhausted());
    }
    void Record(SpihtDecision::Kind kind, int value)
    {
        if (m_decisions)
            m_decisions->push_back({kind, value});
    }
    int CodeSymbol(SpihtDecision::Kind kind, int symbol, AdaptiveModel &model)
    {
        // Past the decoder's symbol limit nothing is decoded any more, nor recorded.
        const bool live = m_enc || !decoder.exhausted();
        if (m_enc)
            coder.encode_symbol(symbol, model);
        else
            symbol = decoder.decode_symbol(model);
        if (live)
            Record(kind, symbol);
        return symbol;
    }
    int CodeBits(SpihtDecision::Kind kind, int n, int value)
    {
        const bool live = m_enc || !decoder.exhausted();
        if (m_enc)
            coder.encode_bits(n, value);
        else
            value = decoder.decode_bits(n);
        if (live)
            Record(kind, value);
        return value;
    }
    void CodeGroupPixels(size_t g);
    void AddSignificant(int x, int y, int newMask);
    void CodeGroupSets(size_t g);
    PassEnd SortingPass();
    PassEnd RefinementPass();

    bool m_enc;
    ImageBW &m_img;
    std::vector<SpihtDecision> *m_decisions;
    int m_pw = 0, m_ph = 0, m_L = 0, m_gx = 0, m_gy = 0, m_rootCode = 0;
    std::vector<float> m_max;
    std::vector<Group> m_lisp;
    std::vector<uint32_t> m_lsp; // coefficient indices, in the order they became significant
    std::vector<size_t> m_passEnd;
    std::vector<float> m_passOffset;
    int m_P = 0;
    float m_T = 0, m_V = 0;
    AdaptiveModel m_groupModels[5];
    AdaptiveModel m_pixelModels[34];
    AdaptiveModel m_setModels[34];
};

float SpihtCodec::GroupMaximum(int x, int y, int depth)
{
    float m = 0;
    for (int p = 0; p < 4; ++p) {
        const int px = x + kDx[p], py = y + kDy[p];
        m = std::max(m, std::abs(C(px, py)));
        if (depth > 1) {
            const float s = GroupMaximum(2 * px, 2 * py, depth - 1);
            M(px, py) = s;
            m = std::max(m, s);
        }
    }
    return m;
}

float SpihtCodec::SetMaxima()
{
    m_max.assign(static_cast<size_t>(m_pw / 2) * (m_ph / 2), 0.0f);
    float top = 0;
    for (int x = 0; x < m_gx; x += 2)
        for (int y = 0; y < m_gy; y += 2) {
            M(x, y) = std::abs(C(x, y));
            top = std::max(top, M(x, y));
            for (int p = 1; p < 4; ++p) {
                const float s = GroupMaximum(kDx[p] * m_gx + x, kDy[p] * m_gy + y, m_L);
                M(x + kDx[p], y + kDy[p]) = s;
                top = std::max({top, s, std::abs(C(x + kDx[p], y + kDy[p]))});
            }
        }
    return top;
}

void SpihtCodec::AddSignificant(int x, int y, int newMask)
{
    int count = 0;
    for (int p = 0; p < 4; ++p)
        count += (newMask >> p) & 1;
    if (m_enc) {
        int signs = 0, bit = 1;
        for (int p = 0; p < 4; ++p) {
            if (!((newMask >> p) & 1))
                continue;
            float &c = C(x + kDx[p], y + kDy[p]);
            m_lsp.push_back(static_cast<uint32_t>(static_cast<size_t>(x + kDx[p]) * m_ph + y + kDy[p]));
            if (c < 0)
                signs += bit;
            // From here on the coefficient holds the magnitude still to be sent.
            c = std::abs(c) - m_T;
            bit *= 2;
        }
        CodeBits(SpihtDecision::Signs, count, signs);
    } else {
        const int signs = CodeBits(SpihtDecision::Signs, count, 0);
        int bit = 1;
        for (int p = 0; p < 4; ++p) {
            if (!((newMask >> p) & 1))
                continue;
            m_lsp.push_back(static_cast<uint32_t>(static_cast<size_t>(x + kDx[p]) * m_ph + y + kDy[p]));
            C(x + kDx[p], y + kDy[p]) = (signs & bit) ? -m_V : m_V;
            bit *= 2;
        }
    }
}

void SpihtCodec::CodeGroupPixels(size_t gi)
{
    const Tables &t = TheTables();
    const Group g = m_lisp[gi];
    const int s = g.state & 0xFF;
    // Untested pixels with an untested set count from bit 0, those whose set is done from bit h.
    int k0 = 1, k2 = 1 << t.h[s], symbol = 0, newMask = 0;
    if (m_enc) {
        for (int p = 0; p < 4; ++p) {
            const int f = (s >> (2 * p)) & 3;
            if (f & 1)
                continue;
            int &k = f == 0 ? k0 : k2;
            if (std::abs(C(g.x + kDx[p], g.y + kDy[p])) >= m_T) {
                symbol += k;
                newMask |= 1 << p;
            }
            k *= 2;
        }
        CodeSymbol(SpihtDecision::Pixels, symbol, m_pixelModels[t.cls[s]]);
    } else {
        symbol = CodeSymbol(SpihtDecision::Pixels, 0, m_pixelModels[t.cls[s]]);
        for (int p = 0; p < 4; ++p) {
            const int f = (s >> (2 * p)) & 3;
            if (f & 1)
                continue;
            int &k = f == 0 ? k0 : k2;
            if (symbol & k)
                newMask |= 1 << p;
            k *= 2;
        }
    }
    if (newMask) {
        for (int p = 0; p < 4; ++p)
            if ((newMask >> p) & 1)
                m_lisp[gi].state |= 1 << (2 * p);
        AddSignificant(g.x, g.y, newMask);
    }
}

void SpihtCodec::CodeGroupSets(size_t gi)
{
    const Tables &t = TheTables();
    const Group g = m_lisp[gi];
    const int s = g.state & 0xFF;
    int k0 = 1, k1 = 1 << t.h[s], symbol = 0, sigMask = 0;
    // A group none of whose sets was tested yet first says whether any of them is significant at
    // all: most are not. A fresh group (state 0) skips this: its parent set was significant.
    const bool groupFlag = s != 0 && (s & 0xAA) == 0;
    if (m_enc) {
        for (int p = 0; p < 4; ++p) {
            const int f = (s >> (2 * p)) & 3;
            if (f & 2)
                continue;
            int &k = f == 0 ? k0 : k1;
            if (M(g.x + kDx[p], g.y + kDy[p]) >= m_T) {
                symbol += k;
                sigMask |= 1 << p;
            }
            k *= 2;
        }
        if (groupFlag &&
            CodeSymbol(SpihtDecision::GroupFlag, symbol == 0 ? 1 : 0, m_groupModels[t.h[s]]) == 1)
            return;
        CodeSymbol(SpihtDecision::Sets, symbol, m_setModels[t.cls[s]]);
    } else {
        if (groupFlag && CodeSymbol(SpihtDecision::GroupFlag, 0, m_groupModels[t.h[s]]) != 0)
            return;
        symbol = CodeSymbol(SpihtDecision::Sets, 0, m_setModels[t.cls[s]]);
        for (int p = 0; p < 4; ++p) {
            const int f = (s >> (2 * p)) & 3;
            if (f & 2)
                continue;
            int &k = f == 0 ? k0 : k1;
            if (symbol & k)
                sigMask |= 1 << p;
            k *= 2;
        }
    }
    if (!sigMask)
        return;
    for (int p = 0; p < 4; ++p)
        if ((sigMask >> p) & 1)
            m_lisp[gi].state |= 2 << (2 * p);
    const int code = g.state & ~0xFF;
    const bool root = code == m_rootCode;
    for (int p = 0; p < 4; ++p) {
        if (!((sigMask >> p) & 1))
            continue;
        int childCode = code - 512;
        if (root && p == 3)
            childCode -= 256;
        // Groups of the finest bands have no descendants: their sets are done from the start.
        const int low = childCode < 768 ? 0xAA : 0;
        Group child;
        if (root)
            child = {kDx[p] * m_gx + g.x, kDy[p] * m_gy + g.y, childCode + low};
        else
            child = {2 * (g.x + kDx[p]), 2 * (g.y + kDy[p]), childCode + low};
        m_lisp.push_back(child);
        CodeGroupPixels(m_lisp.size() - 1);
    }
}

PassEnd SpihtCodec::SortingPass()
{
    m_passOffset[static_cast<size_t>(m_P)] = 0.38f * m_T;
    m_V = m_passOffset[static_cast<size_t>(m_P)] + m_T;
    for (size_t i = 0; i < m_lisp.size(); ++i) {
        if ((m_lisp[i].state & 0x55) == 0x55)
            continue;
        CodeGroupPixels(i);
        if (BudgetReached())
            return PassEnd::Stop;
    }
    // Set sweep; children appended on the way are reached later in this pass. Finished groups
    // leave the list as it is walked.
    size_t kept = 0;
    for (size_t i = 0; i < m_lisp.size(); ++i) {
        if ((m_lisp[i].state & 0xAA) != 0xAA) {
            CodeGroupSets(i);
            if (BudgetReached())
                return PassEnd::Stop;
        }
        if ((m_lisp[i].state & 0xFF) != 0xFF)
            m_lisp[kept++] = m_lisp[i];
    }
    m_lisp.resize(kept);
    return PassEnd::Normal;
}

PassEnd SpihtCodec::RefinementPass()
{
    m_passEnd[static_cast<size_t>(m_P)] = m_lsp.size();
    ++m_P;
    float *c = m_img.data();
    size_t pos = 0;
    for (int k = 0; k <= m_P - 2; ++k) {
        float lowStep = 0, highStep = 0;
        if (!m_enc) {
            // The value sits below the middle of the remaining interval, approaching it as
            // refinements accumulate.
            const int d = m_P - k;
            const float offset = m_T * (0.5f - 0.25f / static_cast<float>(d * d));
            lowStep = offset - m_passOffset[static_cast<size_t>(k)];
            highStep = lowStep + m_T;
            m_passOffset[static_cast<size_t>(k)] = offset;
        }
        for (; pos < m_passEnd[static_cast<size_t>(k)]; ++pos) {
            float &v = c[m_lsp[pos]];
            if (m_enc) {
                const int bit = v >= m_T ? 1 : 0;
                if (bit)
                    v -= m_T;
                CodeBits(SpihtDecision::Refinement, 1, bit);
            } else {
                const float step = CodeBits(SpihtDecision::Refinement, 1, 0) ? highStep : lowStep;
                v = v > 0 ? v + step : v - step;
            }
            if (BudgetReached() || m_T <= 0.0002f)
                return PassEnd::Stop;
        }
    }
    return PassEnd::Normal;
}

void SpihtCodec::CodePlanes(int n)
{
    const Tables &t = TheTables();
    m_T = std::ldexp(1.0f, n);
    m_P = 0;
    m_lsp.clear();
    // Every round may start a pass: n + 33 of them at most.
    m_passEnd.assign(static_cast<size_t>(n - kLowestPlane + 2), 0);
    m_passOffset.assign(m_passEnd.size(), 0.0f);
    for (AdaptiveModel &m : m_groupModels)
        m.set_symbols(2);
    for (int s = 0; s < 256; ++s) {
        if (t.cls[s] < 0)
            continue;
        if (t.h[s] + t.b[s] > 0 && m_pixelModels[t.cls[s]].Symbols() == 0)
            m_pixelModels[t.cls[s]].set_symbols(1 << (t.h[s] + t.b[s]));
        if (t.h[s] + t.g[s] > 0 && m_setModels[t.cls[s]].Symbols() == 0)
            m_setModels[t.cls[s]].set_symbols(1 << (t.h[s] + t.g[s]));
    }
    m_lisp.clear();
    for (int x = 0; x < m_gx; x += 2)
        for (int y = 0; y < m_gy; y += 2)
            m_lisp.push_back({x, y, m_rootCode + 2}); // position 0 of a root group has no descendants
    for (int plane = n - 1; plane >= kLowestPlane; --plane) {
        if (SortingPass() == PassEnd::Stop || RefinementPass() == PassEnd::Stop)
            break;
        m_T *= 0.5f;
    }
    m_lisp.clear();
    m_lsp.clear();
}

// A failed allocation ends the coding run with the engine's message, naming what it was making.
[[noreturn]] void MemoryFailure(const char *label)
{
    zn::Log(zn::LogLevel::Error,
            zn::Format("\r\n\r\n\a -> Error: insufficient memory.\r\nOrigin = %s\r\n\r\n "
                       "Execution terminated!\r\n",
                       label));
    zn::ShowMessage(std::string("SPIHT Execution terminated ") + label);
    throw zn::RunAborted("", zn::kMessageShown);
}

} // namespace

int SpihtContextClass(int h, int g, int b)
{
    return h * (h * (h - 18) + 107) / 6 + (11 - g) * g / 2 - h * g + b - 1;
}

long SpihtByteBudget(int width, int height, float rate)
{
    const float factor = 8.0f / (static_cast<float>(width) * static_cast<float>(height));
    return static_cast<long>(rate / factor) - 1;
}

SpihtEncodeResult SpihtCompress(const ZnImage &original, ZnImage *display, float rate, int smoothing,
                                std::vector<SpihtDecision> *decisions)
{
    SpihtEncodeResult out;
    const int W = original.Cols(), H = original.Rows();
    if (std::max(W, H) > kSpihtMaxSide) {
        zn::ShowMessage("Image is too large!");
        return out;
    }
    if (W <= 0 || H <= 0) {
        zn::ShowMessage("SPIHT: the image is empty.");
        return out;
    }
    smoothing = std::clamp(smoothing, 0, 7);
    const float factor = 8.0f / (static_cast<float>(W) * static_cast<float>(H));
    const char *stage = "< Image_SP >";
    try {
        ImageBW img;
        img.read_image(original);
        img.transform(smoothing);
        stage = "LISP entry";
        SpihtCodec codec(true, &img, decisions);
        codec.budget = SpihtByteBudget(W, H, rate);
        if (display) {
            img.write_image(display);
            band_display(display, codec.Levels());
        }
        const float top = codec.SetMaxima();
        // The header has five bits for the top plane; a picture whose largest coefficient is below 1
        // (flat or black) starts at plane 0, the value both sides then use.
        const int n = top >= 1.0f ? std::clamp(static_cast<int>(std::floor(std::log2(top))), 0, 31) : 0;
        zn::Log(zn::LogLevel::Info, "\r\n  Starting image compression...\n");
        codec.coder.open();
        codec.coder.encode_bits(6, W >> 8);
        codec.coder.encode_bits(6, H >> 8);
        codec.coder.encode_bits(8, W & 255);
        codec.coder.encode_bits(8, H & 255);
        codec.coder.encode_bits(5, n);
        codec.coder.encode_bits(1, 0);
        codec.coder.encode_bits(3, smoothing);
        codec.coder.encode_bits(4, img.DcExponent());
        codec.coder.encode_bits(10, img.DcMean());
        codec.CodePlanes(n);
        codec.coder.stop();
        const long bytes = codec.coder.byte_count();
        out.text += zn::Format("  Target bit rate\t\t:%6.2f (bpp)\r\n", static_cast<double>(bytes * factor));
        out.text += zn::Format("  Target file size\t\t:%6ld bits\r\n\r\n", bytes * 8);
        out.stream = codec.coder.Bytes();
        out.levels = codec.Levels();
    } catch (const std::bad_alloc &) {
        MemoryFailure(stage);
    }
    return out;
}

SpihtDecodeResult SpihtRecover(std::span<const uint8_t> stream, ZnImage *reconstruction, ZnImage *display,
                               float rate, std::vector<SpihtDecision> *decisions, long maxPixels)
{
    zn::Log(zn::LogLevel::Info, "\r\n  Starting image recovery...\n");
    ImageBW img;
    SpihtCodec probe(false, &img, nullptr);
    SpihtArithDecoder &dec = probe.decoder;
    dec.start(stream);
    if (dec.invalid())
        throw zn::RunAborted("The SPIHT stream cannot be decoded: it does not start like one.");
    int W = dec.decode_bits(6) << 8;
    int H = dec.decode_bits(6) << 8;
    W += dec.decode_bits(8);
    H += dec.decode_bits(8);
    const int n = dec.decode_bits(5);
    const int bytes = dec.decode_bits(1) + 1;
    const int smoothing = dec.decode_bits(3);
    const int exponent = dec.decode_bits(4);
    const int mean = dec.decode_bits(10);
    if (W < 1 || H < 1 || W > kSpihtMaxSide || H > kSpihtMaxSide || static_cast<long>(W) * H > maxPixels)
        throw zn::RunAborted(zn::Format("The SPIHT stream cannot be decoded: its picture size %d x %d is not "
                                        "valid.",
                                        W, H));
    if (!(rate > 0))
        rate = 8;
    SpihtDecodeResult out;
    const char *stage = "< Image_SP >";
    try {
        img.prepare(W, H, bytes, mean, exponent, smoothing);
        stage = "LISP entry";
        SpihtCodec codec(false, &img, decisions);
        codec.decoder = dec;
        codec.budget = SpihtByteBudget(W, H, rate);
        codec.CodePlanes(n);
        stage = "< Image_SP >";
        out.levels = codec.Levels();
        out.bytesUsed = std::min(codec.decoder.byte_count(), static_cast<long>(stream.size()));
        if (display) {
            img.write_image(display);
            band_display(display, codec.Levels());
        }
        img.inverse_transform();
        if (reconstruction)
            img.write_image(reconstruction);
    } catch (const std::bad_alloc &) {
        MemoryFailure(stage);
    }
    return out;
}
