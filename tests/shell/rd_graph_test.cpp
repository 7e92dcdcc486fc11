// The R(D) graph: scale rules, curve list, and its PostScript checked by Ghostscript.
#include "platform/messages.h"
#include "shell/rd_graph.h"
#include "shell/rd_view.h"
#include "support/test_support.h"

#include <QColor>
#include <QImage>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <limits>
#include <sstream>

namespace rd_graph_test { // one namespace per test file: a folder compiles as one source

using namespace zn;

namespace {

struct Axes
{
    float rateMin, rateMax, rateTicks, valueMin, valueMax, valueTicks;
};

Axes AxesOf(const RDGraph &g)
{
    return {g.m_fRateMin, g.m_fRateMax, g.m_fRateTicks, g.m_fValueMin, g.m_fValueMax, g.m_fValueTicks};
}

void ExpectAxes(const RDGraph &g, Axes want, const std::string &what)
{
    Axes a = AxesOf(g);
    EXPECT_FLOAT_EQ(a.rateMin, want.rateMin) << what;
    EXPECT_FLOAT_EQ(a.rateMax, want.rateMax) << what;
    EXPECT_EQ(a.rateTicks, want.rateTicks) << what;
    EXPECT_FLOAT_EQ(a.valueMin, want.valueMin) << what;
    EXPECT_FLOAT_EQ(a.valueMax, want.valueMax) << what;
    EXPECT_EQ(a.valueTicks, want.valueTicks) << what;
}

TEST(RDGraphScale, StepsAndOutwardRounding)
{
    RDGraph g;
    ExpectAxes(g, {0.5f, 7.0f, 13, 0, 40, 8}, "new view");
    EXPECT_EQ(g.m_nPlotType, 0);
    EXPECT_EQ(g.CurveCount(), 0);
    struct Case
    {
        float rf, rt, vf, vt;
        Axes want;
    } cases[] = {
        {0.0f, 8.0f, 10.0f, 60.0f, {0, 8, 16, 10, 60, 10}},
        {0.5f, 2.0f, 20.0f, 30.0f, {0.4f, 2.0f, 8, 20, 30, 10}},        // steps 0.2 and 1
        {0.0f, 4.0f, -7.0f, 10.0f, {0.0f, 4.0f, 10, -7.5f, 10.0f, 7}},  // steps 0.4 and 2.5
        {0.0f, 0.0f, 30.0f, 30.0f, {0.0f, 0.001f, 2, 30.0f, 30.1f, 2}}, // zero length: one step
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(g.SetScale(c.rf, c.rt, c.vf, c.vt, "PSNR"));
        ExpectAxes(g, c.want, std::to_string(c.rf) + ".." + std::to_string(c.rt));
        EXPECT_EQ(g.m_nPlotType, 1);
    }
}

TEST(RDGraphScale, BadBoundsNeverReachTheScale)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    RDGraph g;
    Axes before = AxesOf(g);
    float bad[][4] = {{nan, 1, 0, 1}, {0, inf, 0, 1}, {0, 1, -inf, 1},       {0, 1, 0, nan},
                      {2, 1, 0, 1},   {0, 1, 5, 4},   {0, 1, 1e20f, -1e20f}, {0, 1, 0, 3e8f}};
    for (auto &b : bad) {
        EXPECT_FALSE(g.SetScale(b[0], b[1], b[2], b[3], "SNR"));
        ExpectAxes(g, before, "rejected");
    }
    // Wide but finite spans get a coarser step instead of an endless row of ticks.
    ASSERT_TRUE(g.SetScale(0, 8, 0, 100000, "SNR"));
    EXPECT_LE(g.ValueTickCount(), RDGraph::kMaxTicks);
    EXPECT_GE(g.m_fValueMax, 100000.0f);
    // Every tick of a zero-length axis is distinct and on the axis.
    ASSERT_TRUE(g.SetScale(0, 0, 30, 30, "SNR"));
    EXPECT_EQ(g.RateTickPos(0), 100);
    EXPECT_EQ(g.ValueTickPos(0), 100);
    EXPECT_GT(g.RateTickPos(1), 100);
    EXPECT_LE(g.RateTickPos(2), 951);
    EXPECT_EQ(g.MapX(0.0f), 100);
    EXPECT_EQ(g.MapY(30.0f), 100);
}

TEST(RDGraphCurves, MappingTicksAndLabels)
{
    RDGraph g;
    g.SetScale(0.0f, 8.0f, 10.0f, 60.0f, "SNR");
    EXPECT_EQ(g.MapX(0.0f), 100);
    EXPECT_NEAR(g.MapX(8.0f), 950, 1);
    EXPECT_NEAR(g.MapX(4.0f), 525, 1);
    EXPECT_NEAR(g.MapY(35.0f), 525, 1);
    EXPECT_EQ(g.RateLabel(3), "1.5");
    EXPECT_EQ(g.ValueLabel(10), "60.0");
    EXPECT_NEAR(g.ValueTickPos(10), 950, 1);
    // Far-out points stay representable (drawn beyond the axes, not wrapped around).
    EXPECT_GT(g.MapX(1e30f), 950);
    EXPECT_LT(g.MapY(-1e30f), 100);
}

TEST(RDGraphCurves, ListNamesAndCapacity)
{
    MessageRecorder boxes;
    RDGraph g;
    const float inf = std::numeric_limits<float>::infinity();
    float r[] = {0.5f, 1.0f, inf, 2.0f}, v[] = {20, 25, 26, std::nanf("")};
    ASSERT_TRUE(g.AddCurve("a", 4, r, v, true));
    EXPECT_EQ(g.EntryCount(), 2); // the non-finite points are left out
    EXPECT_EQ(g.m_pPenCode[0], 2);
    EXPECT_EQ(g.m_pPenCode[1], 1);
    EXPECT_EQ(g.m_pPenCode[2], 0);
    ASSERT_TRUE(g.AddCurve("_EMPTY_", 3, r, v, false));
    EXPECT_EQ(g.CurveCount(), 2);
    EXPECT_EQ(g.m_sCurveName[1], "_EMPTY_");
    EXPECT_EQ(g.m_sCurveName[2], "_EMPTY_");
    ASSERT_TRUE(g.AddCurve("b", 1, r + 1, v + 1, true)); // a first curve discards the others
    EXPECT_EQ(g.CurveCount(), 1);
    EXPECT_EQ(g.EntryCount(), 1);

    // "Add Another Graph" pressed again and again: 99 curves fit, then a message, never an overrun.
    for (int i = 1; i < 99; ++i)
        ASSERT_TRUE(g.AddCurve("c" + std::to_string(i), 2, r, v, false));
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_FALSE(g.AddCurve("one too many", 2, r, v, false));
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{
                  "The graph holds at most 99 curves and 9999 points.\nProfile one too many not added."});
    EXPECT_EQ(g.CurveCount(), 99);
    EXPECT_EQ(g.m_sCurveName[99], "_EMPTY_");

    std::vector<float> many(250, 1.0f);
    g.AddCurve("full", 250, many.data(), many.data(), true);
    for (int i = 0; i < 38; ++i)
        ASSERT_TRUE(g.AddCurve("full", 250, many.data(), many.data(), false));
    EXPECT_EQ(g.EntryCount(), 9750);
    EXPECT_FALSE(g.AddCurve("full", 250, many.data(), many.data(), false));
    EXPECT_TRUE(g.AddCurve("fits", 249, many.data(), many.data(), false));
    EXPECT_EQ(g.EntryCount(), 9999);
    EXPECT_EQ(g.m_pPenCode[9999], 0);
}

int CountLines(const std::string &text, const std::string &line)
{
    int n = 0;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        n += l == line;
    return n;
}

std::string CurveSection(const std::string &ps)
{
    return ps.substr(ps.find("0.800000 setlinewidth"));
}

TEST(RDGraphPostScript, HeadersCurvesAndEscapes)
{
    RDGraph g;
    float r[] = {1, 2, 3}, v[] = {10, 20, 30};
    g.AddCurve("three", 3, r, v, true);
    std::string eps = g.PostScriptText(true);
    std::string ps = g.PostScriptText(false);
    EXPECT_EQ(
        eps.rfind(
            "%!PS-Adobe-3.0 EPSF-3.0 \n%%BoundingBox: 40 40 555 375 \n%%Pages: 1 \n/hscal {0.5 mul} def \n",
            0),
        0u);
    EXPECT_EQ(eps.find("showpage"), std::string::npos);
    EXPECT_EQ(ps.rfind("%!PS \n%%Pages: 1 \n", 0), 0u);
    EXPECT_TRUE(ps.ends_with("\nshowpage \n"));
    EXPECT_NE(ps.find("\n2.000000 setlinewidth \n0.000000 setgray \n"), std::string::npos);
    // One moveto into the curve, two linetos and three circles of radius 2.
    std::string curve = CurveSection(ps);
    EXPECT_EQ(CountLines(curve, "1 0 0 setrgbcolor "), 2); // the legend's and the curve's
    EXPECT_EQ(CountLines(curve, "(three) show "), 1);
    // Lines "<x> hscal <y> vscal <op> " with integer coordinates.
    auto lines = [&](const std::string &op) {
        int n = 0;
        std::istringstream in(curve);
        for (std::string l; std::getline(in, l);) {
            int x = 0, y = 0, used = 0;
            if (std::sscanf(l.c_str(), "%d hscal %d vscal %n", &x, &y, &used) == 2 && used > 0)
                n += l.substr(used) == op + " ";
        }
        return n;
    };
    EXPECT_EQ(lines("2 0 360 arc"), 3);
    EXPECT_EQ(lines("lineto"), 3 + 2); // the clipping box's three sides, then the curve's
    // Legend moveto, the corner of the clipping box, the curve's first point, then after each of
    // the 3 circles one moveto next to it and one back to its centre.
    EXPECT_EQ(lines("moveto"), 1 + 1 + 1 + 3 * 2);
    EXPECT_EQ(CountLines(curve, "closepath clip "), 1);
    EXPECT_LT(curve.find("closepath clip "), curve.find(" 2 0 360 arc "));
    EXPECT_GT(curve.rfind("grestore "), curve.rfind(" 2 0 360 arc "));
    EXPECT_NE(ps.find("\n(SNR (dB)) show \n"), std::string::npos);
    EXPECT_NE(ps.find("\n(Bit Rate (bpp)) show \n"), std::string::npos);
    EXPECT_NE(ps.find("\n(7.0) show \n"), std::string::npos);

    EXPECT_EQ(PostScriptEscape("a(b)\\c"), "a\\(b\\)\\\\c");
    g.AddCurve("x) show (y", 3, r, v, true);
    EXPECT_NE(g.PostScriptText(false).find("\n(x\\) show \\(y) show \n"), std::string::npos);
}

TEST(RDGraphPostScript, SeventhCurveCyclesBackToRedAndTheLegendStepsDown)
{
    RDGraph g;
    float r[] = {1}, v[] = {10};
    for (int i = 0; i < 7; ++i)
        g.AddCurve("c" + std::to_string(i), 1, r, v, i == 0);
    std::string curve = CurveSection(g.PostScriptText(false));
    const char *cycle[] = {"1 0 0", "0 1 0", "0 0 1", "0.75 0.6 0", "1 0 1", "0 1 1", "1 0 0"};
    size_t at = 0;
    int firstX = -1, firstY = -1;
    for (int i = 0; i < 7; ++i) {
        std::string want = std::string(cycle[i]) + " setrgbcolor \n";
        at = curve.find(want, at);
        ASSERT_NE(at, std::string::npos) << want;
        at += want.size();
        int x = 0, y = 0, used = 0;
        ASSERT_EQ(std::sscanf(curve.c_str() + at, "%d hscal %d vscal moveto \n%n", &x, &y, &used), 2);
        const std::string name = "(c" + std::to_string(i) + ")";
        EXPECT_EQ(curve.compare(at + used, name.size(), name), 0);
        if (i == 0) {
            firstX = x;
            firstY = y;
        }
        EXPECT_EQ(x, firstX);
        EXPECT_EQ(y, firstY - RDGraph::kLegendLine * i); // one line below the other
    }
}

// Pure yellow on white cannot be read; its replacement is darker than the green beside it, far
// darker than pure yellow, and still a yellow (red and green well above blue).
TEST(RDGraphColours, FourthColourIsADarkYellow)
{
    auto luminance = [](const RDColour &c) { return 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b; };
    const RDColour &yellow = RDGraph::kCurveColours[3];
    EXPECT_LT(luminance(yellow), luminance(RDGraph::kCurveColours[1]));
    EXPECT_LT(luminance(yellow), 0.7 * luminance({255, 255, 0}));
    EXPECT_GT(yellow.r, yellow.b + 100);
    EXPECT_GT(yellow.g, yellow.b + 100);
}

TEST(RDGraphPostScript, DecimalPointUnderAGermanLocale)
{
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
        if (zntest::RunningUnderCi())
            FAIL() << "locale de_DE.UTF-8 missing (scripts/deps makes it)";
        GTEST_SKIP() << "locale de_DE.UTF-8 missing";
    }
    RDGraph g;
    g.SetScale(0.25f, 1.75f, 20.5f, 31.5f, "SNR");
    float r[] = {0.5f}, v[] = {25.5f};
    g.AddCurve("p", 1, r, v, true);
    std::string ps = g.PostScriptText(false);
    std::setlocale(LC_ALL, "C");
    EXPECT_NE(ps.find("\n2.000000 setlinewidth \n"), std::string::npos);
    EXPECT_NE(ps.find("\n0.800000 setlinewidth \n"), std::string::npos);
    EXPECT_NE(ps.find("(0.2) show"), std::string::npos);
    EXPECT_EQ(ps.find(','), std::string::npos);
}

// ---- Ghostscript as the independent reader ----

struct Plot
{
    RDGraph graph;
    // Three curves far apart, each in its own colour.
    Plot()
    {
        graph.SetScale(0.0f, 8.0f, 0.0f, 60.0f, "PSNR");
        float r0[] = {0.5f, 1.0f, 2.0f}, v0[] = {50, 52, 55};
        float r1[] = {3.0f, 4.0f, 5.0f}, v1[] = {30, 32, 34};
        float r2[] = {5.5f, 6.5f, 7.5f}, v2[] = {5, 8, 12};
        graph.AddCurve("PCM_0001", 3, r0, v0, true);
        graph.AddCurve("DCT_0001", 3, r1, v1, false);
        graph.AddCurve("JPEG(q)", 3, r2, v2, false);
    }
};

// An EPS file has no showpage of its own: the program that embeds it ends the page.
int GhostscriptToPng(const std::string &in, bool eps, const std::string &png, int dpi, std::string *out)
{
    return zntest::Run("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r" + std::to_string(dpi) +
                           " -sOutputFile=" + zntest::ShellQuote(png) + " " + zntest::ShellQuote(in) +
                           (eps ? " -c showpage" : "") + " 2>&1",
                       out);
}

TEST(RDGraphGhostscript, EpsAndPsRenderWithoutError)
{
    ZN_REQUIRE_TOOL("gs");
    zntest::ScratchDir dir;
    Plot plot;
    for (bool eps : {true, false}) {
        std::string file = dir.File(eps ? "graph.eps" : "graph.ps");
        ASSERT_TRUE(plot.graph.WritePostScript(file, eps));
        std::string out;
        EXPECT_EQ(GhostscriptToPng(file, eps, dir.File("x.png"), 72, &out), 0) << out;
        EXPECT_EQ(out.find("Error"), std::string::npos) << out;
        EXPECT_GT(zntest::ReadFileBytes(dir.File("x.png")).size(), 100u);
    }
}

bool ParseBoundingBox(const std::string &text, int box[4])
{
    size_t at = text.find("%%BoundingBox:");
    return at != std::string::npos && std::sscanf(text.c_str() + at, "%%%%BoundingBox: %d %d %d %d", &box[0],
                                                  &box[1], &box[2], &box[3]) == 4;
}

// Ghostscript's bbox device measures what the page really marks; it must lie inside the declared box.
void ExpectBoundingBoxEncloses(const RDGraph &g, const std::string &dir)
{
    std::string file = dir + "b.eps";
    ASSERT_TRUE(g.WritePostScript(file, true));
    std::string text;
    {
        auto bytes = zntest::ReadFileBytes(file);
        text.assign(bytes.begin(), bytes.end());
    }
    int declared[4], measured[4];
    ASSERT_TRUE(ParseBoundingBox(text, declared)) << text.substr(0, 80);
    std::string out;
    ASSERT_EQ(zntest::Run("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bbox " + zntest::ShellQuote(file) +
                              " -c showpage 2>&1",
                          &out),
              0)
        << out;
    ASSERT_TRUE(ParseBoundingBox(out, measured)) << out;
    EXPECT_GE(measured[0], declared[0]) << out;
    EXPECT_GE(measured[1], declared[1]) << out;
    EXPECT_LE(measured[2], declared[2]) << out;
    EXPECT_LE(measured[3], declared[3]) << out;
}

TEST(RDGraphGhostscript, BoundingBoxEnclosesTheDrawing)
{
    ZN_REQUIRE_TOOL("gs");
    zntest::ScratchDir dir;
    Plot plot;
    ExpectBoundingBoxEncloses(plot.graph, dir.Path());
    // Points beyond the axes (an added curve keeps the first curve's scale), a long legend name and
    // legends that run below the page's usual box.
    RDGraph wide;
    float r[] = {0.1f, 12.0f}, v[] = {-30, 70};
    wide.AddCurve("A_rather_long_profile_name_WWWW", 2, r, v, true);
    for (int i = 0; i < 25; ++i)
        wide.AddCurve("M" + std::to_string(i), 2, r, v, false);
    ExpectBoundingBoxEncloses(wide, dir.Path());
}

TEST(RDGraphGhostscript, RenderedCurvesHaveTheirColoursAtTheirPoints)
{
    ZN_REQUIRE_TOOL("gs");
    zntest::ScratchDir dir;
    Plot plot;
    std::string file = dir.File("graph.ps");
    ASSERT_TRUE(plot.graph.WritePostScript(file, false));
    const int dpi = 144;
    std::string out;
    ASSERT_EQ(GhostscriptToPng(file, false, dir.File("g.png"), dpi, &out), 0) << out;
    QImage img(QString::fromStdString(dir.File("g.png")));
    ASSERT_FALSE(img.isNull());
    const RDGraph &g = plot.graph;
    const double px = dpi / 72.0;
    // Whether a pixel of the wanted colour lies within r device pixels of the page point.
    auto colourNear = [&](double pageX, double pageY, QColor want, int r) {
        int cx = static_cast<int>(pageX * px), cy = img.height() - 1 - static_cast<int>(pageY * px);
        for (int y = cy - r; y <= cy + r; ++y)
            for (int x = cx - r; x <= cx + r; ++x) {
                if (!img.valid(x, y))
                    continue;
                QColor c = img.pixelColor(x, y);
                if (std::abs(c.red() - want.red()) < 60 && std::abs(c.green() - want.green()) < 60 &&
                    std::abs(c.blue() - want.blue()) < 60)
                    return true;
            }
        return false;
    };
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue};
    int curve = -1;
    for (int k = 0; k < g.EntryCount(); ++k) {
        if (g.m_pPenCode[k] == 2)
            ++curve;
        double pageX = g.MapX(g.m_pRate[k]) * 0.5 + 50, pageY = g.MapY(g.m_pValue[k]) * 0.3 + 50;
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(colourNear(pageX, pageY, colours[c], 4), c == curve)
                << "point " << k << " colour " << c;
    }
    // The grid and axes stay grey or black: no curve colour in the empty lower left of the box.
    for (int c = 0; c < 3; ++c)
        EXPECT_FALSE(colourNear(150 * 0.5 + 50, 150 * 0.3 + 50, colours[c], 10));
}

// -dEPSCrop takes the page size from the bounding box, and only from a file that declares itself EPS
// in its first line: a header it does not know gives no cropped page.
TEST(RDGraphGhostscript, EpsCropRendersTheBoundingBox)
{
    ZN_REQUIRE_TOOL("gs");
    zntest::ScratchDir dir;
    Plot plot;
    const std::string file = dir.File("graph.eps"), png = dir.File("crop.png");
    ASSERT_TRUE(plot.graph.WritePostScript(file, true));
    std::string out;
    ASSERT_EQ(zntest::Run("gs -q -dSAFER -dBATCH -dNOPAUSE -dEPSCrop -sDEVICE=png16m -r72 -sOutputFile=" +
                              zntest::ShellQuote(png) + " " + zntest::ShellQuote(file) + " 2>&1",
                          &out),
              0)
        << out;
    QImage img(QString::fromStdString(png));
    ASSERT_FALSE(img.isNull()) << out;
    EXPECT_EQ(img.width(), 555 - 40);
    EXPECT_EQ(img.height(), 375 - 40);
    // The drawing is on it: dark axes and labels, and the three curve colours.
    int dark = 0, red = 0, green = 0, blue = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            dark += c.lightness() < 80;
            red += c.red() > 200 && c.green() < 80 && c.blue() < 80;
            green += c.green() > 200 && c.red() < 80 && c.blue() < 80;
            blue += c.blue() > 200 && c.red() < 80 && c.green() < 80;
        }
    EXPECT_GT(dark, 500);
    EXPECT_GT(red, 20);
    EXPECT_GT(green, 20);
    EXPECT_GT(blue, 20);
}

// A coloured pixel: a curve or a legend, never an axis, a label or the grey grid.
bool Coloured(const QColor &c)
{
    return std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) > 60;
}

// A first curve sets the scale; the next ones run far past it on every side, as "Add Another Graph"
// makes them on automatic scaling.
RDGraph Overflowing()
{
    RDGraph g;
    float r0[] = {1.0f, 2.0f, 3.0f}, v0[] = {20, 25, 30};
    g.SetScale(1.0f, 3.0f, 20.0f, 30.0f, "PSNR");
    g.AddCurve("first", 3, r0, v0, true);
    float r1[] = {0.1f, 1.5f, 6.0f}, v1[] = {5, 27, 60};
    float r2[] = {-3.0f, 2.5f, 2.8f}, v2[] = {40, 22, -10};
    g.AddCurve("over", 3, r1, v1, false);
    g.AddCurve("under", 3, r2, v2, false);
    return g;
}

TEST(RDGraphGhostscript, CurvesAreClippedToTheAxisBox)
{
    ZN_REQUIRE_TOOL("gs");
    zntest::ScratchDir dir;
    const RDGraph g = Overflowing();
    const std::string file = dir.File("clip.ps"), png = dir.File("clip.png");
    ASSERT_TRUE(g.WritePostScript(file, false));
    const int dpi = 144;
    std::string out;
    ASSERT_EQ(GhostscriptToPng(file, false, png, dpi, &out), 0) << out;
    QImage img(QString::fromStdString(png));
    ASSERT_FALSE(img.isNull());
    // The axis box on the page, in device pixels (y downward), one pixel of slack for the rasteriser.
    const double px = dpi / 72.0;
    const int left = static_cast<int>((100 * 0.5 + 50) * px) - 1,
              right = static_cast<int>((950 * 0.5 + 50) * px) + 1;
    const int top = img.height() - 1 - static_cast<int>((950 * 0.3 + 50) * px) - 1;
    const int bottom = img.height() - 1 - static_cast<int>((100 * 0.3 + 50) * px) + 1;
    int inside = 0, outside = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            if (!Coloured(img.pixelColor(x, y)))
                continue;
            (x >= left && x <= right && y >= top && y <= bottom ? inside : outside) += 1;
        }
    EXPECT_GT(inside, 100); // the curves are there
    EXPECT_EQ(outside, 0);
}

// Whether a curve would be hidden under the legend: a point marker inside the legend's rectangle, or
// a segment passing through it (sampled finely along its length).
int HiddenUnderLegend(const RDGraph &g, int nameWidth)
{
    const RDGraph::LegendPlace place = g.PlaceLegend(nameWidth);
    const int x0 = place.x, x1 = place.x + nameWidth;
    const int y1 = place.top, y0 = place.top - RDGraph::kLegendLine * g.CurveCount();
    EXPECT_GE(x0, RDGraph::kAxisLow);
    EXPECT_LE(x1, RDGraph::kAxisHigh);
    EXPECT_GE(y0, RDGraph::kAxisLow);
    EXPECT_LE(y1, RDGraph::kAxisHigh);
    auto in = [&](double x, double y, double mx, double my) {
        return x + mx >= x0 && x - mx <= x1 && y + my >= y0 && y - my <= y1;
    };
    int hidden = 0;
    for (int k = 0; k < g.EntryCount(); ++k) {
        const double x = g.MapX(g.m_pRate[k]), y = g.MapY(g.m_pValue[k]);
        hidden += in(x, y, 5, 8);
        if (g.m_pPenCode[k] != 1)
            continue;
        const double px = g.MapX(g.m_pRate[k - 1]), py = g.MapY(g.m_pValue[k - 1]);
        for (int t = 1; t < 1000; ++t)
            if (in(px + (x - px) * t / 1000.0, py + (y - py) * t / 1000.0, 0, 0)) {
                ++hidden;
                break;
            }
    }
    return hidden;
}

TEST(RDGraphLegend, CoversNoCurve)
{
    struct Curve
    {
        std::vector<float> rates, values;
    };
    struct Case
    {
        const char *what;
        std::vector<Curve> curves;
    } cases[] = {
        // The usual rising curves: the top right, where the legend used to sit, is taken.
        {"rising through the top right", {{{0.25f, 0.5f, 1, 2, 3}, {24, 28, 32, 37, 40}}}},
        {"three rising curves",
         {{{0.25f, 1, 2, 3}, {24, 31, 36, 40}},
          {{0.25f, 1, 2, 3}, {22, 29, 34, 39}},
          {{0.25f, 1, 2, 3}, {20, 26, 32, 38}}}},
        // Curves along the top and down the right side: only the bottom left is free.
        {"top and right taken", {{{0.25f, 3, 3}, {40, 40, 20}}, {{0.25f, 2.5f, 2.6f}, {38, 38, 21}}}},
        // A curve that stays low on the right and one high on the left.
        {"flat at both ends", {{{0.25f, 1.0f}, {39, 40}}, {{2.0f, 3.0f}, {20, 21}}}},
    };
    for (const Case &c : cases) {
        RDGraph g;
        g.SetScale(0.25f, 3.0f, 20.0f, 40.0f, "PSNR");
        for (size_t i = 0; i < c.curves.size(); ++i)
            g.AddCurve("PCM_000" + std::to_string(i), static_cast<int>(c.curves[i].rates.size()),
                       c.curves[i].rates.data(), c.curves[i].values.data(), i == 0);
        for (int width : {60, 120, 200})
            EXPECT_EQ(HiddenUnderLegend(g, width), 0) << c.what << ", legend " << width << " wide";
    }
    // The usual place stays when it is free.
    RDGraph low;
    float r[] = {0.5f, 1.0f}, v[] = {10, 12};
    low.SetScale(0.5f, 7.0f, 0.0f, 40.0f, "SNR");
    low.AddCurve("low", 2, r, v, true);
    const RDGraph::LegendPlace place = low.PlaceLegend(100);
    EXPECT_EQ(place.x, RDGraph::kAxisHigh - 10 - 100);
    EXPECT_GT(place.top, 900);
}

// The same on screen: the view's own drawing, grabbed at the dialog's size.
TEST(RDGraphView, CurvesAreClippedToTheAxisBoxOnScreen)
{
    CRDView view;
    view.resize(512, 310);
    const RDGraph g = Overflowing();
    view.SetScale(1.0f, 3.0f, 20.0f, 30.0f, "PSNR");
    for (int c = 0, k = 0; c < g.CurveCount(); ++c) {
        std::vector<float> r, v;
        do {
            r.push_back(g.m_pRate[k]);
            v.push_back(g.m_pValue[k]);
            ++k;
        } while (k < g.EntryCount() && g.m_pPenCode[k] == 1);
        view.AddCurve(g.m_sCurveName[c], static_cast<int>(r.size()), r.data(), v.data(), c == 0);
    }
    const QImage img = view.grab().toImage();
    const QPointF topLeft = view.LogicalToWindow(RDGraph::kAxisLow, RDGraph::kAxisHigh);
    const QPointF bottomRight = view.LogicalToWindow(RDGraph::kAxisHigh, RDGraph::kAxisLow);
    int inside = 0, outside = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            if (!Coloured(img.pixelColor(x, y)))
                continue;
            const bool in = x >= topLeft.x() - 1 && x <= bottomRight.x() + 1 && y >= topLeft.y() - 1 &&
                            y <= bottomRight.y() + 1;
            (in ? inside : outside) += 1;
        }
    EXPECT_GT(inside, 100);
    EXPECT_EQ(outside, 0);
}

TEST(RDGraphPostScript, FailedWriteIsReported)
{
    MessageRecorder boxes;
    RDGraph g;
    EXPECT_FALSE(g.WritePostScript("/nonexistent-folder/g.eps", true));
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{"The graph could not be written to\n/nonexistent-folder/g.eps"});
}

} // namespace

} // namespace rd_graph_test
