// The legend of the analysis views: a small 4:2:0 picture, 116 samples wide, with one section per view
// shown. Each section pairs a colour swatch with its name written in a 6-row bitmap font, so the legend
// reads the same colours the views paint (U 0 intra, V 0 backward or inter, U and V 255 direct).
#include "h264dec/decoder_host.h"
#include "h264dec/decoder_views.h"
#include "image/cdib.h"

#include <cstring>
#include <vector>

namespace {

constexpr int kLegendWidth = H264LegendPlanes::kWidth;

// The 17 letters, top row first; 'X' is lit. N is one column wider than the rest.
struct Glyph
{
    char letter;
    const char *rows[6];
};
constexpr Glyph kGlyphs[17] = {
    {'B', {"XXXX.", "X...X", "XXXX.", "X...X", "X...X", "XXXX."}},
    {'M', {"X...X", "XX.XX", "X.X.X", "X...X", "X...X", "X...X"}},
    {'I', {"XXXXX", "..X..", "..X..", "..X..", "..X..", "XXXXX"}},
    {'T', {"XXXXX", "..X..", "..X..", "..X..", "..X..", "..X.."}},
    {'R', {"XXXX.", "X...X", "X..X.", "XXX..", "X..X.", "X...X"}},
    {'N', {"X....X", "XX...X", "X.X..X", "X..X.X", "X...XX", "X....X"}},
    {'A', {".XXX.", "X...X", "X...X", "XXXXX", "X...X", "X...X"}},
    {'D', {"XXXX.", "X...X", "X...X", "X...X", "X...X", "XXXX."}},
    {'E', {"XXXXX", "X....", "XXXX.", "X....", "X....", "XXXXX"}},
    {'C', {".XXXX", "X....", "X....", "X....", "X....", ".XXXX"}},
    {'P', {"XXXX.", "X...X", "X...X", "XXXX.", "X....", "X...."}},
    {'O', {".XXX.", "X...X", "X...X", "X...X", "X...X", ".XXX."}},
    {'F', {"XXXXX", "X....", "XXXX.", "X....", "X....", "X...."}},
    {'W', {"X...X", "X...X", "X...X", "X.X.X", "XX.XX", "X...X"}},
    {'V', {"X...X", "X...X", "X...X", "X...X", ".X.X.", "..X.."}},
    {'K', {"X...X", "X..X.", "X.X..", "XXX..", "X..X.", "X...X"}},
    {'X', {"X...X", ".X.X.", "..X..", "..X..", ".X.X.", "X...X"}},
};

struct Legend
{
    int rows;
    std::vector<uint8_t> y, u, v;
    explicit Legend(int r)
        : rows(r), y(static_cast<size_t>(kLegendWidth) * r, 0),
          u(static_cast<size_t>(kLegendWidth / 2) * (r / 2), 127), v(u)
    {}
    void Luma(int r, int c, uint8_t value)
    {
        if (r >= 0 && r < rows && c >= 0 && c < kLegendWidth)
            y[static_cast<size_t>(r) * kLegendWidth + c] = value;
    }
    // The chroma sample under luma (r, c); a negative value leaves the plane alone.
    void Chroma(int r, int c, int cu, int cv)
    {
        if (r < 0 || r >= rows || c < 0 || c >= kLegendWidth)
            return;
        const size_t k = static_cast<size_t>(r / 2) * (kLegendWidth / 2) + c / 2;
        if (cu >= 0)
            u[k] = static_cast<uint8_t>(cu);
        if (cv >= 0)
            v[k] = static_cast<uint8_t>(cv);
    }
    // h264dec_legend_glyph: one letter with its top-left corner at (row, column).
    void Glyph(char letter, int row, int column)
    {
        for (const ::Glyph &g : kGlyphs)
            if (g.letter == letter)
                for (int r = 0; r < 6; ++r)
                    for (int c = 0; g.rows[r][c]; ++c)
                        if (g.rows[r][c] == 'X')
                            Luma(row + r, column + c, 255);
    }
    // A word: its letters and their columns, in order.
    void Text(int row, const char *letters, std::initializer_list<int> columns)
    {
        const int *c = columns.begin();
        for (const char *l = letters; *l && c != columns.end(); ++l, ++c)
            Glyph(*l, row, *c);
    }
    // Rows r0..r0+1, columns 2..11: a white bar with the colour of what it names.
    void Swatch(int r0, int c0, int cu, int cv)
    {
        for (int r = r0; r < r0 + 2; ++r)
            for (int c = c0; c < c0 + 10; ++c) {
                Luma(r, c, 255);
                Chroma(r, c, cu, cv);
            }
    }
    void GreyLine(int r)
    {
        for (int c = 0; c < kLegendWidth; ++c)
            Luma(r, c, 150);
    }
};

void BdivSection(Legend &l, int top)
{
    l.Swatch(top + 4, 2, 0, -1);
    l.Text(top + 2, "INTRAMB", {16, 22, 29, 35, 41, 50, 56});
    l.Swatch(top + 4, 72, -1, 0);
    l.Text(top + 2, "BMB", {86, 95, 101});
    l.Swatch(top + 14, 2, 255, 255);
    l.Text(top + 12, "DIRECTMB", {16, 22, 28, 34, 40, 46, 55, 61});
    l.Swatch(top + 14, 72, 0, 0);
    l.Text(top + 12, "PMB", {86, 95, 101});
    l.GreyLine(top + 22);
}

void VectorSection(Legend &l, int top, bool intra, bool coloured)
{
    if (intra) {
        const int arrow[][2] = {{2, 9}, {3, 9}, {3, 10}, {5, 9}, {5, 10}, {6, 9}};
        auto lit = [&](int r, int c) {
            l.Luma(top + r, c, 255);
            if (coloured)
                l.Chroma(top + r, c, 0, -1);
        };
        for (int c = 2; c <= 11; ++c)
            lit(4, c);
        for (const auto &p : arrow)
            lit(p[0], p[1]);
        l.Text(top + 2, "INTRAPREDICTION", {16, 22, 29, 35, 41, 50, 56, 62, 68, 74, 80, 86, 92, 98, 104});
        top += 10;
    }
    l.Swatch(top + 4, 2, 255, -1);
    l.Text(top + 2, "FORWARDVECTOR", {16, 22, 28, 34, 40, 46, 52, 61, 67, 73, 79, 85, 91});
    l.Swatch(top + 14, 2, -1, 0);
    l.Text(top + 12, "BACKWARDVECTOR", {16, 22, 28, 34, 40, 46, 52, 58, 67, 73, 79, 85, 91, 97});
    l.GreyLine(top + 22);
}

void BitsSection(Legend &l, int top)
{
    for (int r = top + 4; r <= top + 7; ++r)
        for (int c = 6; c <= 106; ++c)
            l.Luma(r, c, static_cast<uint8_t>(55 + 2 * (c - 6)));
    for (int c = 6; c <= 106; c += 10) {
        l.Luma(top + 9, c, 255);
        l.Luma(top + 10, c, 255);
    }
    l.Glyph('O', top + 13, 4);
    l.Text(top + 13, "MAX", {92, 98, 104});
}

} // namespace

H264LegendPlanes h264dec_legend_planes(const H264ViewChoices &ch)
{
    const bool bdiv = ch.bdiv || ch.BitsBdivOverlay();
    const bool vectors = ch.vectors || ch.BitsMvOverlay();
    const int vectorRows = ch.intra ? 36 : 26;
    Legend l((bdiv ? 26 : 0) + (vectors ? vectorRows : 0) + (ch.bits ? 26 : 0));
    int top = 0;
    if (bdiv) {
        BdivSection(l, top);
        top += 26;
    }
    if (vectors) {
        VectorSection(l, top, ch.intra, ch.intra_colored);
        top += vectorRows;
    }
    if (ch.bits)
        BitsSection(l, top);
    H264LegendPlanes out;
    out.rows = l.rows;
    out.y = std::move(l.y);
    out.u = std::move(l.u);
    out.v = std::move(l.v);
    return out;
}

void h264dec_build_legend(H264DecoderHost &host, bool show)
{
    const H264ViewChoices &ch = host.ViewChoices();
    const std::string caption = "Legend";
    H264LegendPlanes l;
    if (show)
        l = h264dec_legend_planes(ch);
    show = show && l.rows > 0;
    if (show)
        if (CDib *dib = host.WorkImage(H264Window::Legend)) {
            dib->Create24(H264LegendPlanes::kWidth, l.rows);
            dib->m_title = "H264_" + host.DocumentTitle() + "__LEGEND";
            dib->m_caption = caption;
            dib->m_bValid = 1;
            uint8_t *planes[3] = {l.y.data(), l.u.data(), l.v.data()};
            dib->ConvertYUV420Dib(planes);
        }
    host.ShowLegendImage(show, caption, ch.stream, ch.VectorsOrIntra(), ch.bdiv, ch.bits);
}
