// The analysis views: motion vectors drawn into the vector planes, the processing stream of I and P
// pictures, the bits plane, the legend's sections pixel by pixel, the composition of each view with its
// overlays and background, and the captions and image names of a whole run.
#include "h264/support/recording_host.h"
#include "h264/support/run_streams.h"
#include "h264dec/decoder_analysis.h"
#include "h264dec/decoder_run.h"
#include "h264dec/decoder_state.h"
#include "h264dec/decoder_views.h"
#include "h264dec/nal_dispatch.h"
#include "h264dec/picture_control.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace views_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264test;

// ---------------------------------------------------------------------------------------------
// Vectors

using PixelMap = std::map<std::pair<int, int>, int>; // (row, column) -> luma, for every non-zero sample

PixelMap Drawn(const DecoderAnalysis &a)
{
    PixelMap m;
    for (int r = 0; r < a.vis_vec_y.Rows(); ++r)
        for (int c = 0; c < a.vis_vec_y.Cols(); ++c)
            if (a.vis_vec_y[r][c])
                m[{r, c}] = a.vis_vec_y[r][c];
    return m;
}

struct VectorCanvas
{
    H264DecoderState dec;
    VectorCanvas()
    {
        dec_alloc_analysis(dec.analysis, 32, 16);
        dec.analysis.paint = dec.analysis.vectors_drawn = true;
    }
};

TEST(H264Views, VectorsAreDrawnAsTheirWholeSamplesFromAStartDot)
{
    struct Case
    {
        const char *what;
        int x, y, dx, dy;
        PixelMap want;
    };
    const std::vector<Case> cases = {
        {"(1, 0): the start and one pixel to its right", 10, 5, 1, 0, {{{5, 10}, 150}, {{5, 11}, 255}}},
        {"(-10, 3): one pixel to the left; the slope never moves the row",
         10,
         5,
         -10,
         3,
         {{{5, 10}, 150}, {{5, 9}, 255}}},
        {"(0, 17): three pixels below",
         10,
         5,
         0,
         17,
         {{{5, 10}, 150}, {{6, 10}, 255}, {{7, 10}, 255}, {{8, 10}, 255}}},
        {"(12, 8): a step of the minor axis paints the corner too",
         2,
         2,
         12,
         8,
         {{{2, 2}, 150}, {{2, 3}, 255}, {{2, 4}, 255}, {{3, 4}, 255}}},
        {"(-1, 2): shorter than a sample, diagonal", 10, 5, -1, 2, {{{5, 10}, 150}, {{6, 9}, 255}}},
        {"(0, -3): shorter than a sample, upwards", 10, 5, 0, -3, {{{5, 10}, 150}, {{4, 10}, 255}}},
        {"(40, 0) from column 29: stops at the right edge",
         29,
         5,
         40,
         0,
         {{{5, 29}, 150}, {{5, 30}, 255}, {{5, 31}, 255}}},
        {"(8, 0) from the last column: the first step leaves the picture", 31, 5, 8, 0, {{{5, 31}, 150}}},
        {"(0, 0): only the start", 10, 5, 0, 0, {{{5, 10}, 150}}},
        {"(0, -4) at the top row: s(0) is -1 for the other axis too", 10, 0, 0, -4, {{{0, 10}, 150}}},
    };
    for (const Case &c : cases) {
        VectorCanvas canvas;
        h264dec_draw_vector(canvas.dec, c.x, c.y, 0, c.dx, c.dy, 1, 0);
        EXPECT_EQ(Drawn(canvas.dec.analysis), c.want) << c.what;
        // Forward marks colour U on the line only.
        for (const auto &[at, luma] : c.want)
            EXPECT_EQ(canvas.dec.analysis.vis_vec_uv[0][at.first][at.second], luma == 255 ? 255 : 127)
                << c.what;
    }
}

TEST(H264Views, VectorLinesKeepEarlierMarksAndAreDrawnOnlyWhenAsked)
{
    VectorCanvas canvas;
    DecoderAnalysis &a = canvas.dec.analysis;
    h264dec_draw_vector(canvas.dec, 10, 5, 0, 0, 17, 0, 1);
    h264dec_draw_vector(canvas.dec, 10, 4, 0, 0, 8, 0, 1);
    EXPECT_EQ(a.vis_vec_y[5][10], 150); // the first start dot stays under the second line
    EXPECT_EQ(a.vis_vec_y[4][10], 150);
    EXPECT_EQ(a.vis_vec_uv[1][6][10], 0); // backward: V
    EXPECT_EQ(a.vis_vec_uv[0][6][10], 127);

    for (const auto &flags : {std::pair{false, true}, std::pair{true, false}}) {
        VectorCanvas off;
        off.dec.analysis.paint = flags.first;
        off.dec.analysis.vectors_drawn = flags.second;
        h264dec_draw_vector(off.dec, 10, 5, 0, 20, 20, 1, 0);
        EXPECT_TRUE(Drawn(off.dec.analysis).empty());
    }
}

// ---------------------------------------------------------------------------------------------
// Processing stream and bits

struct PlaneSink : H264PictureSink
{
    struct Seen
    {
        int type;
        std::vector<uint8_t> y, u, v; // the picture
        H264PlaneBuffers processing;  // its processing planes
        std::vector<uint8_t> mark;    // the intra marks
    };
    std::vector<Seen> seen;
    void PictureDecoded(H264DecoderState &dec, const H264PictureRef &p, bool) override
    {
        Seen s;
        s.type = p.type_index;
        const size_t n = static_cast<size_t>(p.width) * p.height;
        s.y.assign(p.y, p.y + n);
        s.u.assign(p.u, p.u + n / 4);
        s.v.assign(p.v, p.v + n / 4);
        h264dec_processing_planes({p.y, p.u, p.v}, p.width, p.height, dec.analysis, p.type_index,
                                  s.processing);
        s.mark.assign(dec.analysis.vis_intra_mark.Data(), dec.analysis.vis_intra_mark.Data() + n);
        seen.push_back(std::move(s));
    }
};

TEST(H264Views, ProcessingStreamShowsIntraAsDecodedAndInterAsItsErrorAroundGrey)
{
    zn::MessageRecorder boxes;
    H264DecoderState dec;
    PlaneSink sink;
    dec.sink = &sink;
    h264dec_open_memory(dec, IbbpStream(false));
    dec.analysis.paint = true;
    while (h264dec_decode_picture(dec, true) == 2)
        dec_clear_picture_counters(dec);
    ASSERT_EQ(sink.seen.size(), 4u);
    const int w = 48, h = 32;
    // The I picture: the picture itself.
    const PlaneSink::Seen &i = sink.seen[0];
    EXPECT_EQ(i.type, kTypeIndexI);
    EXPECT_EQ(i.processing.y, i.y);
    EXPECT_EQ(i.processing.u, i.u);
    EXPECT_EQ(i.processing.v, i.v);
    // The P picture: macroblock (1, 1) is intra, the others predicted without residual.
    const PlaneSink::Seen &p = sink.seen[1];
    EXPECT_EQ(p.type, kTypeIndexP);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const bool intra = r / 16 == 1 && c / 16 == 1;
            const size_t k = static_cast<size_t>(r) * w + c;
            ASSERT_EQ(p.mark[k], intra ? 127 : 0) << r << "," << c;
            ASSERT_EQ(p.processing.y[k], intra ? p.y[k] : 127) << r << "," << c;
            if (r < h / 2 && c < w / 2) {
                const size_t kc = static_cast<size_t>(r) * (w / 2) + c;
                const bool chromaIntra = r / 8 == 1 && c / 8 == 1;
                ASSERT_EQ(p.processing.u[kc], chromaIntra ? p.u[kc] : 127);
                ASSERT_EQ(p.processing.v[kc], chromaIntra ? p.v[kc] : 127);
            }
        }
}

TEST(H264Views, ProcessingStreamWrapsTheErrorAroundGrey)
{
    DecoderAnalysis a;
    dec_alloc_analysis(a, 16, 16);
    const std::vector<uint8_t> y(256, 9), uv(64, 7);
    a.vis_residual_y[0][0] = 200; // a stored error of -56: 144 -> 71
    a.vis_residual_y[0][1] = 129; // wraps: 256 -> 0
    H264PlaneBuffers out;
    h264dec_processing_planes({y.data(), uv.data(), uv.data()}, 16, 16, a, kTypeIndexB, out);
    EXPECT_EQ(out.y[0], (200 + 127) % 256);
    EXPECT_EQ(out.y[1], 0);
    EXPECT_EQ(out.y[2], 127);
    EXPECT_EQ(out.u[0], 127);
}

TEST(H264Views, BitsPlaneScalesEachMacroblockByThePicturesLargest)
{
    DecoderAnalysis a;
    dec_alloc_analysis(a, 32, 32);
    H264PlaneBuffers out;
    // No bits at all: the largest count is taken as 1 and the plane is uniformly 55.
    h264dec_bits_planes(a, 32, 32, out);
    EXPECT_EQ(out.y, std::vector<uint8_t>(32 * 32, 55));
    EXPECT_EQ(out.u, std::vector<uint8_t>(32 * 32, 127));
    EXPECT_EQ(out.v, out.u);

    a.mb_bits[0][0] = 10;
    a.mb_bits[0][1] = 20;
    a.mb_bits[1][0] = 5;
    a.mb_bits_max = 20;
    h264dec_bits_planes(a, 32, 32, out);
    const int want[2][2] = {{155, 255}, {105, 55}};
    for (int r = 0; r < 32; ++r)
        for (int c = 0; c < 32; ++c)
            ASSERT_EQ(out.y[static_cast<size_t>(r * 32 + c)], want[r / 16][c / 16]);
}

// ---------------------------------------------------------------------------------------------
// Legend

// The letters of the legend, as their table gives them (top row first, 'X' lit).
const std::map<char, std::vector<const char *>> kLetters = {
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

// The legend painted from its description: sections of 26 rows (36 for vectors with intra).
struct ExpectedLegend
{
    int rows;
    std::vector<uint8_t> y, u, v;
    explicit ExpectedLegend(int r) : rows(r), y(116 * r, 0), u(58 * (r / 2), 127), v(u) {}
    void Lit(int r, int c, int lu = 255) { y[static_cast<size_t>(r * 116 + c)] = static_cast<uint8_t>(lu); }
    void Colour(int r, int c, int cu, int cv)
    {
        const size_t k = static_cast<size_t>((r / 2) * 58 + c / 2);
        if (cu >= 0)
            u[k] = static_cast<uint8_t>(cu);
        if (cv >= 0)
            v[k] = static_cast<uint8_t>(cv);
    }
    void Text(int row, const std::string &letters, const std::vector<int> &columns)
    {
        for (size_t i = 0; i < letters.size(); ++i)
            for (int r = 0; r < 6; ++r) {
                const std::string line = kLetters.at(letters[i])[static_cast<size_t>(r)];
                for (size_t c = 0; c < line.size(); ++c)
                    if (line[c] == 'X')
                        Lit(row + r, columns[i] + static_cast<int>(c));
            }
    }
    void Swatch(int r0, int c0, int cu, int cv)
    {
        for (int r = r0; r < r0 + 2; ++r)
            for (int c = c0; c < c0 + 10; ++c) {
                Lit(r, c);
                Colour(r, c, cu, cv);
            }
    }
    void Grey(int r)
    {
        for (int c = 0; c < 116; ++c)
            Lit(r, c, 150);
    }
    void Bdiv(int t)
    {
        Swatch(t + 4, 2, 0, -1);
        Text(t + 2, "INTRAMB", {16, 22, 29, 35, 41, 50, 56});
        Swatch(t + 4, 72, -1, 0);
        Text(t + 2, "BMB", {86, 95, 101});
        Swatch(t + 14, 2, 255, 255);
        Text(t + 12, "DIRECTMB", {16, 22, 28, 34, 40, 46, 55, 61});
        Swatch(t + 14, 72, 0, 0);
        Text(t + 12, "PMB", {86, 95, 101});
        Grey(t + 22);
    }
    void Vectors(int t, bool intra, bool coloured)
    {
        if (intra) {
            std::vector<std::pair<int, int>> arrow = {{2, 9}, {3, 9}, {3, 10}, {5, 9}, {5, 10}, {6, 9}};
            for (int c = 2; c <= 11; ++c)
                arrow.push_back({4, c});
            for (const auto &[r, c] : arrow) {
                Lit(t + r, c);
                if (coloured)
                    Colour(t + r, c, 0, -1);
            }
            Text(t + 2, "INTRAPREDICTION", {16, 22, 29, 35, 41, 50, 56, 62, 68, 74, 80, 86, 92, 98, 104});
            t += 10;
        }
        Swatch(t + 4, 2, 255, -1);
        Text(t + 2, "FORWARDVECTOR", {16, 22, 28, 34, 40, 46, 52, 61, 67, 73, 79, 85, 91});
        Swatch(t + 14, 2, -1, 0);
        Text(t + 12, "BACKWARDVECTOR", {16, 22, 28, 34, 40, 46, 52, 58, 67, 73, 79, 85, 91, 97});
        Grey(t + 22);
    }
    void Bits(int t)
    {
        for (int r = t + 4; r <= t + 7; ++r)
            for (int c = 6; c <= 106; ++c)
                Lit(r, c, 55 + 2 * (c - 6));
        for (int c = 6; c <= 106; c += 10) {
            Lit(t + 9, c);
            Lit(t + 10, c);
        }
        Text(t + 13, "OMAX", {4, 92, 98, 104});
    }
};

TEST(H264Views, LegendHoldsOneSectionPerViewShown)
{
    struct Case
    {
        const char *what;
        std::function<void(H264ViewChoices &)> choose;
        std::function<void(ExpectedLegend &)> paint;
        int rows;
    };
    const std::vector<Case> cases = {
        {"nothing shown", [](H264ViewChoices &) {}, [](ExpectedLegend &) {}, 0},
        {"block division", [](H264ViewChoices &c) { c.bdiv = true; }, [](ExpectedLegend &l) { l.Bdiv(0); },
         26},
        {"vectors", [](H264ViewChoices &c) { c.vectors = true; },
         [](ExpectedLegend &l) { l.Vectors(0, false, false); }, 26},
        {"vectors and coloured intra",
         [](H264ViewChoices &c) { c.vectors = c.intra = c.intra_colored = true; },
         [](ExpectedLegend &l) { l.Vectors(0, true, true); }, 36},
        {"vectors and intra without colour", [](H264ViewChoices &c) { c.vectors = c.intra = true; },
         [](ExpectedLegend &l) { l.Vectors(0, true, false); }, 36},
        {"intra alone has no section", [](H264ViewChoices &c) { c.intra = c.intra_colored = true; },
         [](ExpectedLegend &) {}, 0},
        {"bits", [](H264ViewChoices &c) { c.bits = true; }, [](ExpectedLegend &l) { l.Bits(0); }, 26},
        {"bits with the MB division overlay", [](H264ViewChoices &c) { c.bits = c.bits_bdiv = true; },
         [](ExpectedLegend &l) {
             l.Bdiv(0);
             l.Bits(26);
         },
         52},
        {"bits with the MV overlay", [](H264ViewChoices &c) { c.bits = c.bits_mv = true; },
         [](ExpectedLegend &l) {
             l.Vectors(0, false, false);
             l.Bits(26);
         },
         52},
        {"an overlay counts only with bits shown", [](H264ViewChoices &c) { c.bits_mv = c.bits_bdiv = true; },
         [](ExpectedLegend &) {}, 0},
        {"everything",
         [](H264ViewChoices &c) {
             c.bdiv = c.vectors = c.intra = c.intra_colored = c.bits = c.stream = true;
         },
         [](ExpectedLegend &l) {
             l.Bdiv(0);
             l.Vectors(26, true, true);
             l.Bits(62);
         },
         88},
    };
    for (const Case &c : cases) {
        H264ViewChoices ch;
        ch.intra_colored = false;
        c.choose(ch);
        const H264LegendPlanes got = h264dec_legend_planes(ch);
        ASSERT_EQ(got.rows, c.rows) << c.what;
        ExpectedLegend want(c.rows);
        c.paint(want);
        EXPECT_EQ(got.y, want.y) << c.what;
        EXPECT_EQ(got.u, want.u) << c.what;
        EXPECT_EQ(got.v, want.v) << c.what;
    }
}

TEST(H264Views, LegendImageIsShownWithItsNameOrClosed)
{
    RecordingHost host;
    host.choices.bits = true;
    h264dec_build_legend(host, true);
    EXPECT_EQ(host.legendShown, 1);
    EXPECT_EQ(host.legendCaption, "Legend");
    EXPECT_EQ(host.legend.m_title, "H264_clip__LEGEND");
    ASSERT_EQ(host.legend.GetWidth(), 116);
    ASSERT_EQ(host.legend.GetHeight(), 26);
    const H264LegendPlanes l = h264dec_legend_planes(host.choices);
    EXPECT_EQ(Pixels(host.legend), ConvertedPixels(116, 26, l.y.data(), l.u.data(), l.v.data(), false));
    h264dec_build_legend(host, false);
    EXPECT_EQ(host.legendShown, 0);
}

// ---------------------------------------------------------------------------------------------
// Composition

// Planes of a 16x16 picture and its analysis, with marks in known places.
struct SyntheticPlanes
{
    std::vector<uint8_t> py, pu, pv, proc_y, proc_u, proc_v, vy, vu, vv, by, bu, bv, sy, su, sv;
    H264ViewPlanes planes;
    SyntheticPlanes()
    {
        std::mt19937 rng(3);
        auto random = [&](size_t n) {
            std::vector<uint8_t> p(n);
            for (uint8_t &s : p)
                s = static_cast<uint8_t>(rng() % 256);
            return p;
        };
        py = random(256), pu = random(64), pv = random(64);
        proc_y = random(256), proc_u = random(64), proc_v = random(64);
        sy = random(256), su = std::vector<uint8_t>(256, 127), sv = su;
        vy = std::vector<uint8_t>(256, 0), vu = std::vector<uint8_t>(256, 127), vv = vu;
        by = vy, bu = vu, bv = vv;
        vy[17] = 150, vy[18] = 255, vu[18] = 255; // a forward vector
        vy[40] = 255, vu[40] = 0;                 // a coloured intra stroke
        vy[41] = 255;                             // an uncoloured one
        vy[60] = 255, vv[60] = 0;                 // a backward vector
        for (int c = 0; c < 16; ++c)
            by[c] = 255, bu[c] = 0;               // an intra border along the top
        by[16 * 5 + 3] = 255, bv[16 * 5 + 3] = 0; // an inter border sample
        planes.width = planes.height = 16;
        planes.picture = {py.data(), pu.data(), pv.data()};
        planes.processing = {proc_y.data(), proc_u.data(), proc_v.data()};
        planes.vectors = {vy.data(), vu.data(), vv.data()};
        planes.bdiv = {by.data(), bu.data(), bv.data()};
        planes.bits = {sy.data(), su.data(), sv.data()};
    }
    // The picture's chroma at luma sample k.
    uint8_t PicU(size_t k) const { return pu[(k / 16 / 2) * 8 + (k % 16) / 2]; }
    uint8_t PicV(size_t k) const { return pv[(k / 16 / 2) * 8 + (k % 16) / 2]; }
};

std::vector<uint8_t> Full(const std::vector<uint8_t> &y, const std::vector<uint8_t> &u,
                          const std::vector<uint8_t> &v)
{
    return ConvertedPixels(16, 16, y.data(), u.data(), v.data(), true);
}

TEST(H264Views, EachViewComposesItsOverlaysAndBackground)
{
    const SyntheticPlanes s;
    auto show = [&](const std::function<void(H264ViewChoices &)> &choose) {
        auto host = std::make_unique<RecordingHost>();
        choose(host->choices);
        h264dec_build_views(*host, s.planes, 7, kTypeIndexP, false, true);
        return host;
    };
    // Bits with the MB Division overlay: its lines over the bits, its colour planes everywhere.
    {
        auto host = show([](H264ViewChoices &c) { c.bits = c.bits_bdiv = true; });
        std::vector<uint8_t> y = s.sy;
        for (size_t k = 0; k < 256; ++k)
            if (s.by[k])
                y[k] = s.by[k];
        EXPECT_EQ(Pixels(host->d), Full(y, s.bu, s.bv));
    }
    // Bits with the MV overlay.
    {
        auto host = show([](H264ViewChoices &c) { c.bits = c.bits_mv = true; });
        std::vector<uint8_t> y = s.sy;
        for (size_t k = 0; k < 256; ++k)
            if (s.vy[k])
                y[k] = s.vy[k];
        EXPECT_EQ(Pixels(host->d), Full(y, s.vu, s.vv));
    }
    // Vectors over the picture: empty luma and neutral colour take the picture's.
    {
        auto host = show([](H264ViewChoices &c) { c.vectors = c.vectors_on_picture = true; });
        std::vector<uint8_t> y = s.vy, u = s.vu, v = s.vv;
        for (size_t k = 0; k < 256; ++k) {
            if (!y[k])
                y[k] = s.py[k];
            if (u[k] == 127 && v[k] == 127)
                u[k] = s.PicU(k), v[k] = s.PicV(k);
        }
        EXPECT_EQ(Pixels(host->chain), Full(y, u, v));
    }
    // Intra without vectors: only the coloured strokes stay; without a background the rest is black.
    {
        auto host = show([](H264ViewChoices &c) { c.intra = true; });
        std::vector<uint8_t> y(256, 0), u(256, 127), v = s.vv;
        y[40] = 255, u[40] = 0;
        EXPECT_EQ(Pixels(host->chain), Full(y, u, v));
    }
    // Block division over the picture: the picture's luma everywhere, the borders by colour alone.
    {
        auto host = show([](H264ViewChoices &c) { c.bdiv = c.bdiv_on_picture = true; });
        std::vector<uint8_t> u = s.bu, v = s.bv;
        for (size_t k = 0; k < 256; ++k)
            if (u[k] == 127 && v[k] == 127)
                u[k] = s.PicU(k), v[k] = s.PicV(k);
        EXPECT_EQ(Pixels(host->b), Full(s.py, u, v));
    }
    // The processing stream, 4:2:0; and nothing else built.
    {
        auto host = show([](H264ViewChoices &c) { c.stream = true; });
        EXPECT_EQ(Pixels(host->a),
                  ConvertedPixels(16, 16, s.proc_y.data(), s.proc_u.data(), s.proc_v.data(), false));
        EXPECT_TRUE(Pixels(host->chain).empty());
        EXPECT_TRUE(host->displays.empty());
        ASSERT_EQ(host->windows.size(), 1u);
        EXPECT_TRUE(host->windows[0].a);
        EXPECT_FALSE(host->windows[0].chain || host->windows[0].b || host->windows[0].d);
    }
}

TEST(H264Views, IntraPredictionWithoutColourShowsNoStrokes)
{
    for (const bool background : {false, true}) {
        zntest::ScratchDir dir;
        const std::string stream = dir.File("intra.264");
        ASSERT_TRUE(WriteBytes(stream, IntraStream(false)));
        RecordingHost host;
        zn::MessageRecorder boxes;
        host.choices.intra = true;
        host.choices.vectors_on_picture = background;
        H264Decoder(stream, "", WriteLeakyBucketFile(dir.Path()), false, false, &host);
        ASSERT_EQ(host.displays.size(), 1u);
        std::vector<uint8_t> want;
        if (background) {
            want = Pixels(host.document); // the picture itself, its colour repeated at full resolution
        } else {
            const std::vector<uint8_t> black(48 * 32, 0), grey(48 * 32, 127);
            want = ConvertedPixels(48, 32, black.data(), grey.data(), grey.data(), true);
        }
        EXPECT_EQ(Pixels(host.chain), want) << background;

        // With colour the strokes stay.
        RecordingHost coloured;
        coloured.choices.intra = coloured.choices.intra_colored = true;
        H264Decoder(stream, "", WriteLeakyBucketFile(dir.Path()), false, false, &coloured);
        const std::vector<uint8_t> black(48 * 32, 0), grey(48 * 32, 127);
        EXPECT_NE(Pixels(coloured.chain),
                  ConvertedPixels(48, 32, black.data(), grey.data(), grey.data(), true));
    }
}

TEST(H264Views, ARunShowsEveryViewWithItsCaptionAndImageName)
{
    zntest::ScratchDir dir;
    const std::string stream = dir.File("clip.264");
    ASSERT_TRUE(WriteBytes(stream, IbbpStream(true)));
    RecordingHost host;
    zn::MessageRecorder boxes;
    H264ViewChoices &c = host.choices;
    c.vectors = c.intra = c.intra_colored = c.bdiv = c.bits = c.stream = true;
    H264Decoder(stream, "", WriteLeakyBucketFile(dir.Path()), false, true, &host);
    // Views in decoding order, numbered by the frame counter as it stands after the document's output.
    const std::vector<std::string> numbers = {"#1(I)", "#2(P)", "#3(B)", "#4(B)"};
    ASSERT_EQ(host.windows.size(), 4u);
    for (size_t k = 0; k < 4; ++k) {
        const WindowRequest &w = host.windows[k];
        EXPECT_TRUE(w.chain && w.a && w.b && w.d);
        EXPECT_EQ(w.captionChain, "Mot./Pred. Vectors ( clip " + numbers[k] + " )");
        EXPECT_EQ(w.captionA, "Processing Stream ( clip " + numbers[k] + " )");
        EXPECT_EQ(w.captionB, "Block Division ( clip " + numbers[k] + " )");
        EXPECT_EQ(w.captionD, "MB Bits Usage ( clip " + numbers[k] + " )");
    }
    EXPECT_EQ(host.chain.m_title, "H264_clip_MV");
    EXPECT_EQ(host.a.m_title, "H264_clip_IS");
    EXPECT_EQ(host.b.m_title, "H264_clip_BDIV");
    EXPECT_EQ(host.d.m_title, "H264_clip_BITS");
    EXPECT_EQ(host.d.m_caption, "MB Bits Usage ( clip #4(B) )");
    EXPECT_EQ(boxes.Count(), 0u);
}

} // namespace

} // namespace views_test
