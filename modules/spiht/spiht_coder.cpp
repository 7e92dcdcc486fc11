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
#include <cstdarg>
#include <cstdio>
#include <new>
#include <utility>

namespace {

constexpr int kDx[4] = {0, 0, 1, 1};
constexpr int kDy[4] = {0, 1, 0, 1};
constexpr int kLowestPlane = -32;

// One 2x2 group of the list of insignificant sets.
struct LISP_Entry
{
    int x, y;  // position 0 (both even)
    int state; // low byte: the four positions' fields; above: the level code
    int level_code() const { return state & ~0xFF; }
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

class SpihtPlaneCoder
{
public:
    // One of encoder and decoder is given: the side this coder works for.
    SpihtPlaneCoder(Image_BW *image, CSpiht_Encoder *encoder, CSpiht_Decoder *decoder,
                    std::vector<SpihtDecision> *decisions)
        : m_enc(encoder != nullptr), m_coder(encoder), m_decoder(decoder), m_img(*image),
          m_decisions(decisions)
    {
        m_pw = m_img.PaddedWidth();
        m_ph = m_img.PaddedHeight();
        m_L = std::min(tree_levels(m_pw), tree_levels(m_ph));
        m_gx = m_pw >> m_L;
        m_gy = m_ph >> m_L;
        m_rootCode = (m_L + 1) * 512;
    }
    int Levels() const { return m_L; }
    // The largest descendant magnitude of every coefficient that has descendants; returns the
    // largest magnitude of the array.
    float set_maxima();
    void code_planes(int topPlane);

    long byte_budget = 0;

private:
    float &C(int x, int y) { return m_img.at(x, y); }
    float &M(int x, int y) { return m_max[static_cast<size_t>(x) * (m_ph / 2) + y]; }
    float group_maximum(int x, int y, int depth);
    bool BudgetReached() const
    {
        return m_enc ? m_coder->byte_count() >= byte_budget
                     : (m_decoder->byte_count() >= byte_budget || m_decoder->exhausted());
    }
    void Record(SpihtDecision::Kind kind, int value)
    {
        if (m_decisions)
            m_decisions->push_back({kind, value});
    }
    int CodeSymbol(SpihtDecision::Kind kind, int symbol, Adaptive_Model &model)
    {
        // Past the decoder's symbol limit nothing is decoded any more, nor recorded.
        const bool live = m_enc || !m_decoder->exhausted();
        if (m_enc)
            m_coder->encode_symbol(symbol, model);
        else
            symbol = m_decoder->decode_symbol(model);
        if (live)
            Record(kind, symbol);
        return symbol;
    }
    int CodeBits(SpihtDecision::Kind kind, int n, int value)
    {
        const bool live = m_enc || !m_decoder->exhausted();
        if (m_enc)
            m_coder->encode_bits(n, value);
        else
            value = m_decoder->decode_bits(n);
        if (live)
            Record(kind, value);
        return value;
    }
    void code_group_pixels(size_t g);
    void add_significant(int x, int y, int newMask);
    void code_group_sets(size_t g);
    PassEnd sorting_pass();
    PassEnd refinement_pass();

    bool m_enc;
    CSpiht_Encoder *m_coder;
    CSpiht_Decoder *m_decoder;
    Image_BW &m_img;
    std::vector<SpihtDecision> *m_decisions;
    int m_pw = 0, m_ph = 0, m_L = 0, m_gx = 0, m_gy = 0, m_rootCode = 0;
    std::vector<float> m_max;
    // The list of insignificant sets, in list order; finished groups leave it during the set sweep.
    std::vector<LISP_Entry> m_LISP;
    std::vector<uint32_t> m_LSP; // coefficient indices, in the order they became significant
    // Per refinement pass k: the LSP length when it started, and the decoder's current offset of the
    // coefficients found significant in sorting pass k.
    std::vector<size_t> pass_end;
    std::vector<float> pass_offset;
    int m_P = 0;
    float m_T = 0, m_V = 0;
    Adaptive_Model m_groupModels[5];
    Adaptive_Model m_pixelModels[34];
    Adaptive_Model m_setModels[34];
};

float SpihtPlaneCoder::group_maximum(int x, int y, int depth)
{
    float m = 0;
    for (int p = 0; p < 4; ++p) {
        const int px = x + kDx[p], py = y + kDy[p];
        m = std::max(m, std::abs(C(px, py)));
        if (depth > 1) {
            const float s = group_maximum(2 * px, 2 * py, depth - 1);
            M(px, py) = s;
            m = std::max(m, s);
        }
    }
    return m;
}

float SpihtPlaneCoder::set_maxima()
{
    m_max.assign(static_cast<size_t>(m_pw / 2) * (m_ph / 2), 0.0f);
    float top = 0;
    for (int x = 0; x < m_gx; x += 2)
        for (int y = 0; y < m_gy; y += 2) {
            M(x, y) = std::abs(C(x, y));
            top = std::max(top, M(x, y));
            for (int p = 1; p < 4; ++p) {
                const float s = group_maximum(kDx[p] * m_gx + x, kDy[p] * m_gy + y, m_L);
                M(x + kDx[p], y + kDy[p]) = s;
                top = std::max({top, s, std::abs(C(x + kDx[p], y + kDy[p]))});
            }
        }
    return top;
}

void SpihtPlaneCoder::add_significant(int x, int y, int newMask)
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
            m_LSP.push_back(static_cast<uint32_t>(static_cast<size_t>(x + kDx[p]) * m_ph + y + kDy[p]));
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
            m_LSP.push_back(static_cast<uint32_t>(static_cast<size_t>(x + kDx[p]) * m_ph + y + kDy[p]));
            C(x + kDx[p], y + kDy[p]) = (signs & bit) ? -m_V : m_V;
            bit *= 2;
        }
    }
}

void SpihtPlaneCoder::code_group_pixels(size_t gi)
{
    const Tables &t = TheTables();
    const LISP_Entry g = m_LISP[gi];
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
                m_LISP[gi].state |= 1 << (2 * p);
        add_significant(g.x, g.y, newMask);
    }
}

void SpihtPlaneCoder::code_group_sets(size_t gi)
{
    const Tables &t = TheTables();
    const LISP_Entry g = m_LISP[gi];
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
            m_LISP[gi].state |= 2 << (2 * p);
    const int code = g.level_code();
    const bool root = code == m_rootCode;
    for (int p = 0; p < 4; ++p) {
        if (!((sigMask >> p) & 1))
            continue;
        int childCode = code - 512;
        if (root && p == 3)
            childCode -= 256;
        // Groups of the finest bands have no descendants: their sets are done from the start.
        const int low = childCode < 768 ? 0xAA : 0;
        LISP_Entry child;
        if (root)
            child = {kDx[p] * m_gx + g.x, kDy[p] * m_gy + g.y, childCode + low};
        else
            child = {2 * (g.x + kDx[p]), 2 * (g.y + kDy[p]), childCode + low};
        m_LISP.push_back(child);
        code_group_pixels(m_LISP.size() - 1);
    }
}

PassEnd SpihtPlaneCoder::sorting_pass()
{
    pass_offset[static_cast<size_t>(m_P)] = 0.38f * m_T;
    m_V = pass_offset[static_cast<size_t>(m_P)] + m_T;
    for (size_t i = 0; i < m_LISP.size(); ++i) {
        if ((m_LISP[i].state & 0x55) == 0x55)
            continue;
        code_group_pixels(i);
        if (BudgetReached())
            return PassEnd::Stop;
    }
    // Set sweep; children appended on the way are reached later in this pass. Finished groups
    // leave the list as it is walked.
    size_t kept = 0;
    for (size_t i = 0; i < m_LISP.size(); ++i) {
        if ((m_LISP[i].state & 0xAA) != 0xAA) {
            code_group_sets(i);
            if (BudgetReached())
                return PassEnd::Stop;
        }
        if ((m_LISP[i].state & 0xFF) != 0xFF)
            m_LISP[kept++] = m_LISP[i];
    }
    m_LISP.resize(kept);
    return PassEnd::Normal;
}

PassEnd SpihtPlaneCoder::refinement_pass()
{
    pass_end[static_cast<size_t>(m_P)] = m_LSP.size();
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
            lowStep = offset - pass_offset[static_cast<size_t>(k)];
            highStep = lowStep + m_T;
            pass_offset[static_cast<size_t>(k)] = offset;
        }
        for (; pos < pass_end[static_cast<size_t>(k)]; ++pos) {
            float &v = c[m_LSP[pos]];
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

void SpihtPlaneCoder::code_planes(int n)
{
    const Tables &t = TheTables();
    m_T = std::ldexp(1.0f, n);
    m_P = 0;
    m_LSP.clear();
    // Every round may start a pass: n + 33 of them at most.
    pass_end.assign(static_cast<size_t>(n - kLowestPlane + 2), 0);
    pass_offset.assign(pass_end.size(), 0.0f);
    for (Adaptive_Model &m : m_groupModels)
        m.set_symbols(2);
    for (int s = 0; s < 256; ++s) {
        if (t.cls[s] < 0)
            continue;
        if (t.h[s] + t.b[s] > 0 && m_pixelModels[t.cls[s]].Symbols() == 0)
            m_pixelModels[t.cls[s]].set_symbols(1 << (t.h[s] + t.b[s]));
        if (t.h[s] + t.g[s] > 0 && m_setModels[t.cls[s]].Symbols() == 0)
            m_setModels[t.cls[s]].set_symbols(1 << (t.h[s] + t.g[s]));
    }
    m_LISP.clear();
    for (int x = 0; x < m_gx; x += 2)
        for (int y = 0; y < m_gy; y += 2)
            m_LISP.push_back({x, y, m_rootCode + 2}); // position 0 of a root group has no descendants
    for (int plane = n - 1; plane >= kLowestPlane; --plane) {
        if (sorting_pass() == PassEnd::Stop || refinement_pass() == PassEnd::Stop)
            break;
        m_T *= 0.5f;
    }
    m_LISP.clear();
    m_LSP.clear();
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

Spiht_Image_Encoder::Spiht_Image_Encoder(std::string userDir, std::string *encoderText)
    : m_userDir(std::move(userDir)), m_text(encoderText)
{}

void Spiht_Image_Encoder::add_result_line(const char *format, ...)
{
    if (!m_text)
        return;
    va_list args;
    va_start(args, format);
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    *m_text += line;
}

int Spiht_Image_Encoder::compress(const ZnImage &original, ZnImage *display, std::FILE **stream,
                                  std::string *streamName, float rate, int smoothing)
{
    m_stream.clear();
    const int W = original.Cols(), H = original.Rows();
    if (std::max(W, H) > kSpihtMaxSide) {
        zn::ShowMessage("Image is too large!");
        return 0;
    }
    if (W <= 0 || H <= 0) {
        zn::ShowMessage("SPIHT: the image is empty.");
        return 0;
    }
    smoothing = std::clamp(smoothing, 0, 7);
    const float factor = 8.0f / (static_cast<float>(W) * static_cast<float>(H));
    const char *stage = "< Image_SP >";
    int levels = 0;
    try {
        chronometer total, coding;
        total.start();
        Image_BW img;
        img.read_image(original);
        img.transform(smoothing);
        stage = "LISP entry";
        CSpiht_Encoder coder;
        SpihtPlaneCoder codec(&img, &coder, nullptr, m_decisions);
        codec.byte_budget = SpihtByteBudget(W, H, rate);
        if (display) {
            img.write_image(display);
            band_display(display, codec.Levels());
        }
        const float top = codec.set_maxima();
        // The header has five bits for the top plane; a picture whose largest coefficient is below 1
        // (flat or black) starts at plane 0, the value both sides then use.
        const int n = top >= 1.0f ? std::clamp(static_cast<int>(std::floor(std::log2(top))), 0, 31) : 0;
        coding.start("\r\n  Starting image compression...");
        coder.open_temporary(stream ? &m_userDir : nullptr);
        coder.encode_bits(6, W >> 8);
        coder.encode_bits(6, H >> 8);
        coder.encode_bits(8, W & 255);
        coder.encode_bits(8, H & 255);
        coder.encode_bits(5, n);
        coder.encode_bits(1, 0);
        coder.encode_bits(3, smoothing);
        coder.encode_bits(4, img.DcExponent());
        coder.encode_bits(10, img.DcMean());
        codec.code_planes(n);
        coder.stop_and_rewind();
        coding.stop();
        const long bytes = coder.byte_count();
        add_result_line("  Target bit rate\t\t:%6.2f (bpp)\r\n", static_cast<double>(bytes * factor));
        add_result_line("  Target file size\t\t:%6ld bits\r\n\r\n", bytes * 8);
        m_stream = coder.Bytes();
        if (stream) {
            const zn::TempFile file = coder.TakeFile();
            *stream = file.file;
            if (streamName)
                *streamName = file.path;
        }
        levels = codec.Levels();
        total.stop();
    } catch (const std::bad_alloc &) {
        MemoryFailure(stage);
    }
    return levels;
}

int Spiht_Image_Decoder::recover(ZnImage *reconstruction, ZnImage *display, std::FILE *stream, float rate)
{
    CSpiht_Decoder decoder;
    decoder.start(stream);
    return Decode(decoder, reconstruction, display, rate);
}

int Spiht_Image_Decoder::recover(ZnImage *reconstruction, ZnImage *display, std::span<const uint8_t> stream,
                                 float rate)
{
    CSpiht_Decoder decoder;
    decoder.start(stream);
    return Decode(decoder, reconstruction, display, rate);
}

int Spiht_Image_Decoder::Decode(CSpiht_Decoder &dec, ZnImage *reconstruction, ZnImage *display, float rate)
{
    chronometer total, coding;
    total.start();
    coding.start("\r\n  Starting image recovery...");
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
    if (W < 1 || H < 1 || W > kSpihtMaxSide || H > kSpihtMaxSide || static_cast<long>(W) * H > m_maxPixels)
        throw zn::RunAborted(zn::Format("The SPIHT stream cannot be decoded: its picture size %d x %d is not "
                                        "valid.",
                                        W, H));
    if (!(rate > 0))
        rate = 8;
    const char *stage = "< Image_SP >";
    try {
        Image_BW img;
        img.prepare(W, H, bytes, mean, exponent, smoothing);
        stage = "LISP entry";
        SpihtPlaneCoder codec(&img, nullptr, &dec, m_decisions);
        codec.byte_budget = SpihtByteBudget(W, H, rate);
        codec.code_planes(n);
        dec.rewind_input();
        coding.stop();
        stage = "< Image_SP >";
        m_levels = codec.Levels();
        m_bytesUsed = std::min(dec.byte_count(), dec.StreamSize());
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
    total.stop();
    return 1;
}
