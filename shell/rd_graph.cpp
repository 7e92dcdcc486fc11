// Scale rules, curve list, mapping, legend placement and PostScript output of the R(D) graph.
// Tick steps are picked from a tenth of the axis span so an axis gets roughly ten intervals on
// round numbers; the ends are rounded outward to whole steps.
#include "shell/rd_graph.h"

#include "platform/file.h"
#include "platform/format.h"
#include "platform/messages.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>

namespace zn {

// The fourth colour is a dark yellow: pure yellow vanishes on white, on screen and on paper.
const RDColour RDGraph::kCurveColours[6] = {{255, 0, 0},   {0, 255, 0},   {0, 0, 255},
                                            {191, 153, 0}, {255, 0, 255}, {0, 255, 255}};
const RDColour RDGraph::kGridColour = {210, 210, 210};

namespace {
constexpr const char *kEmptyName = "_EMPTY_";
constexpr float kInvAxisLength = 0.0011764705f; // 1/850: logical units per axis
constexpr float kLargestBound = 1e7f;
constexpr float kFarOut = 100000.0f; // points far beyond the axes are pinned here

const char *const kPostScriptColours[6] = {"1 0 0 setrgbcolor", "0 1 0 setrgbcolor",
                                           "0 0 1 setrgbcolor", "0.75 0.6 0 setrgbcolor",
                                           "1 0 1 setrgbcolor", "0 1 1 setrgbcolor"};

// Half the size of a point marker plus a little air (the screen ellipse is 10 x 16 units).
constexpr int kMarkerX = 6, kMarkerY = 9;
// The legend keeps this far from the axes; at the bottom it stays above the rate axis title, and
// at the top below the value axis title, both of which reach into the box.
constexpr int kLegendInset = 10;
constexpr int kLegendTop = 930;
constexpr int kLegendLowest = 178;
// The PostScript legend writes its baseline this far below the top of its line (12 point text).
constexpr int kPsLegendBaseline = 30;

// Whether the segment a-b meets the rectangle, by clipping the segment's parameter range against
// the four sides in turn.
bool SegmentMeetsRect(double ax, double ay, double bx, double by, double x0, double y0, double x1, double y1)
{
    const double dx = bx - ax, dy = by - ay;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {ax - x0, x1 - ax, ay - y0, y1 - ay};
    double t0 = 0.0, t1 = 1.0;
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0)
                return false; // parallel to this side and outside it
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1)
            return false;
    }
    return true;
}

float RateStep(float from, float to)
{
    double d = static_cast<float>((to - from) * 0.1f);
    if (d < 0.005)
        return 0.001f;
    if (d < 0.05)
        return 0.01f;
    if (d < 0.125)
        return 0.1f;
    if (d < 0.25)
        return 0.2f;
    if (d < 0.5)
        return 0.4f;
    return 0.5f;
}

float ValueStep(float from, float to)
{
    double f = static_cast<float>((to - from) * 0.1f);
    if (f < 0.3)
        return 0.1f;
    if (f < 1.25)
        return 1.0f;
    if (f < 2.5)
        return 2.5f;
    return 5.0f;
}

void Axis(float from, float to, float step, float *min, float *max, float *ticks)
{
    auto fit = [&] {
        *min = static_cast<float>(step * std::floor(from / step));
        *max = static_cast<float>(step * std::ceil(to / step));
        *ticks = std::ceil((*max - *min) / step);
    };
    fit();
    // Only absurd spans get here (thousands of dB); a coarser step keeps the tick loops short.
    while (*ticks > RDGraph::kMaxTicks) {
        step *= 10.0f;
        fit();
    }
    // All points at one rate or one level: give the axis one step of length instead of dividing by 0.
    if (!(*max > *min)) {
        *max = *min + step;
        *ticks = std::ceil((*max - *min) / step);
    }
    if (*ticks < 2)
        *ticks = 2;
}

int ToLogical(float v)
{
    return static_cast<int>(std::trunc(std::clamp(v, -kFarOut, kFarOut)));
}

bool Sane(float v)
{
    return std::isfinite(v) && std::fabs(v) <= kLargestBound;
}

// Upper bounds of Helvetica glyph widths in em, to keep the bounding box around the text.
double WidthEm(const std::string &text)
{
    double w = 0;
    for (unsigned char c : text) {
        if ((c >= '0' && c <= '9') || c == '_')
            w += 0.556;
        else if (c == '.' || c == ' ' || c == ',')
            w += 0.278;
        else if (c >= 'a' && c <= 'z')
            w += 0.85;
        else
            w += 1.0;
    }
    return w;
}

struct Box
{
    double x0 = 40, y0 = 40, x1 = 555, y1 = 375;
    void Add(double x, double y)
    {
        x0 = std::min(x0, x);
        y0 = std::min(y0, y);
        x1 = std::max(x1, x);
        y1 = std::max(y1, y);
    }
};

double PageX(int x)
{
    return x * 0.5 + 50;
}
double PageY(int y)
{
    return y * 0.3 + 50;
}
} // namespace

std::string PostScriptEscape(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '(' || c == ')' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

RDGraph::RDGraph() : m_sCurveName(kMaxNames)
{
    SetScale(0.5f, 7.0f, 0.0f, 40.0f, "SNR");
}

bool RDGraph::SetScale(float rateFrom, float rateTo, float valueFrom, float valueTo,
                       const std::string &plotType)
{
    if (!Sane(rateFrom) || !Sane(rateTo) || !Sane(valueFrom) || !Sane(valueTo) || rateFrom > rateTo ||
        valueFrom > valueTo)
        return false;
    float rateStep = RateStep(rateFrom, rateTo);
    float valueStep = ValueStep(valueFrom, valueTo);
    m_nPlotType = plotType == "PSNR" ? 1 : 0;
    Axis(rateFrom, rateTo, rateStep, &m_fRateMin, &m_fRateMax, &m_fRateTicks);
    Axis(valueFrom, valueTo, valueStep, &m_fValueMin, &m_fValueMax, &m_fValueTicks);
    return true;
}

int RDGraph::EntryCount() const
{
    int n = 0;
    while (n < static_cast<int>(m_pPenCode.size()) && m_pPenCode[n] != 0)
        ++n;
    return n;
}

int RDGraph::CurveCount() const
{
    return m_nCurves;
}

bool RDGraph::AddCurve(const std::string &profileName, int count, const float *rates, const float *values,
                       bool firstCurve)
{
    if (firstCurve || m_pPenCode.empty()) {
        m_pRate.assign(kMaxEntries, 0.0f);
        m_pValue.assign(kMaxEntries, 0.0f);
        m_pPenCode.assign(kMaxEntries, 0);
        m_sCurveName.assign(kMaxNames, std::string());
        m_sCurveName[0] = kEmptyName;
        m_nCurves = 0;
    }
    int usable = 0;
    for (int k = 0; k < count; ++k) {
        if (std::isfinite(rates[k]) && std::isfinite(values[k]))
            ++usable;
    }
    if (usable == 0)
        return true;
    int curves = CurveCount();
    int entries = EntryCount();
    if (curves + 1 >= kMaxNames || entries + usable + 1 > kMaxEntries) {
        ShowMessage(Format("The graph holds at most %d curves and %d points.\nProfile %s not added.",
                           kMaxNames - 1, kMaxEntries - 1, profileName.c_str()));
        return false;
    }
    int pen = 2;
    for (int k = 0; k < count; ++k) {
        if (!std::isfinite(rates[k]) || !std::isfinite(values[k]))
            continue;
        m_pRate[entries] = rates[k];
        m_pValue[entries] = values[k];
        m_pPenCode[entries] = pen;
        pen = 1;
        ++entries;
    }
    m_pPenCode[entries] = 0;
    m_sCurveName[curves] = profileName;
    m_sCurveName[curves + 1] = kEmptyName;
    ++m_nCurves;
    return true;
}

int RDGraph::MapX(float rate) const
{
    float sx = (m_fRateMax - m_fRateMin) * kInvAxisLength;
    return ToLogical((rate - m_fRateMin) / sx) + kAxisLow;
}

int RDGraph::MapY(float value) const
{
    float sy = (m_fValueMax - m_fValueMin) * kInvAxisLength;
    return ToLogical((value - m_fValueMin) / sy) + kAxisLow;
}

int RDGraph::RateTickPos(int i) const
{
    float span = m_fRateMax - m_fRateMin;
    float s = span * kInvAxisLength;
    return ToLogical(span * static_cast<float>(i) / (s * m_fRateTicks)) + kAxisLow;
}

int RDGraph::ValueTickPos(int i) const
{
    float span = m_fValueMax - m_fValueMin;
    float s = span * kInvAxisLength;
    return ToLogical(span * static_cast<float>(i) / (s * m_fValueTicks)) + kAxisLow;
}

std::string RDGraph::RateLabel(int i) const
{
    return Format("%.1f", m_fRateMin + (m_fRateMax - m_fRateMin) * static_cast<float>(i) / m_fRateTicks);
}

std::string RDGraph::ValueLabel(int i) const
{
    return Format("%.1f", m_fValueMin + (m_fValueMax - m_fValueMin) * static_cast<float>(i) / m_fValueTicks);
}

int RDGraph::CurvesCrossing(int x0, int y0, int x1, int y1) const
{
    int hits = 0;
    for (int k = 0, n = EntryCount(); k < n; ++k) {
        const int x = MapX(m_pRate[k]), y = MapY(m_pValue[k]);
        if (x + kMarkerX >= x0 && x - kMarkerX <= x1 && y + kMarkerY >= y0 && y - kMarkerY <= y1)
            ++hits;
        if (m_pPenCode[k] == 1 &&
            SegmentMeetsRect(MapX(m_pRate[k - 1]), MapY(m_pValue[k - 1]), x, y, x0, y0, x1, y1))
            ++hits;
    }
    return hits;
}

// Rate-distortion curves rise from the bottom left to the top right, so the usual place at the top
// right is often taken while the top left or the bottom right is empty. The first corner that no
// curve crosses wins; with none free, the one crossed least.
RDGraph::LegendPlace RDGraph::PlaceLegend(int nameWidth) const
{
    const int height = kLegendLine * std::max(1, CurveCount());
    const int left = kAxisLow + kLegendInset;
    const int right = std::max(left, kAxisHigh - kLegendInset - nameWidth);
    const int lowTop = std::min(kLegendTop, kLegendLowest + height);
    const LegendPlace corners[] = {{right, kLegendTop}, {right, lowTop}, {left, kLegendTop}, {left, lowTop}};
    LegendPlace best = corners[0];
    int fewest = -1;
    for (const LegendPlace &c : corners) {
        const int hits = CurvesCrossing(c.x, c.top - height, c.x + nameWidth, c.top);
        if (fewest < 0 || hits < fewest) {
            best = c;
            fewest = hits;
        }
        if (hits == 0)
            break;
    }
    return best;
}

// The widest legend name in 12 point Helvetica, in logical units (half a point each across).
int RDGraph::PsNameWidth() const
{
    double em = 0;
    for (int i = 0, n = CurveCount(); i < n; ++i)
        em = std::max(em, WidthEm(m_sCurveName[i]));
    return static_cast<int>(std::ceil(12 * em / 0.5));
}

namespace {
class PsWriter
{
public:
    void operator()(const char *fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        va_list args;
        va_start(args, fmt);
        text += FormatV(fmt, args);
        va_end(args);
        text += " \n";
    }
    void MoveTo(int x, int y) { (*this)("%d hscal %d vscal moveto", x, y); }
    void LineTo(int x, int y) { (*this)("%d hscal %d vscal lineto", x, y); }
    void DashedGrid(int x0, int y0, int x1, int y1)
    {
        (*this)("%f setlinewidth", 0.0);
        (*this)("%f setgray", 0.0);
        (*this)("[3] 0 setdash");
        (*this)("newpath");
        MoveTo(x0, y0);
        LineTo(x1, y1);
        (*this)("stroke");
        (*this)("%f setlinewidth", 2.0);
        (*this)("%f setgray", 0.0);
        (*this)("[] 0 setdash");
    }
    std::string text;
};
} // namespace

std::string RDGraph::PostScriptText(bool encapsulated) const
{
    PsWriter ps;
    std::string header;
    const LegendPlace legend = PlaceLegend(PsNameWidth());
    if (encapsulated) {
        // The usual box holds the axes, their labels and a legend inside the axis box (curves are
        // clipped to it). Only a legend of more lines than the box holds runs below it and widens
        // the box, so that nothing drawn falls outside.
        Box box;
        for (int i = 0, n = CurveCount(); i < n; ++i) {
            const double baseline = PageY(legend.Line(i) - kPsLegendBaseline);
            box.Add(PageX(legend.x), baseline - 12 * 0.25);
            box.Add(PageX(legend.x) + 12 * WidthEm(m_sCurveName[i]), baseline + 12);
        }
        header = "%!PS-Adobe-3.0 EPSF-3.0 \n";
        header += Format("%%%%BoundingBox: %d %d %d %d \n", static_cast<int>(std::floor(box.x0)),
                         static_cast<int>(std::floor(box.y0)), static_cast<int>(std::ceil(box.x1)),
                         static_cast<int>(std::ceil(box.y1)));
    } else {
        header = "%!PS \n";
    }
    ps.text = header;
    ps("%%%%Pages: 1");
    ps("/hscal {0.5 mul} def");
    ps("/vscal {0.3 mul} def");
    ps("50 50 translate");
    ps("/Helvetica findfont");
    ps("16 scalefont");
    ps("setfont");
    ps("%f setlinewidth", 2.0);
    ps("%f setgray", 0.0);

    ps("newpath");
    ps.MoveTo(kAxisLow, kAxisHigh);
    ps.LineTo(kAxisLow, kAxisLow);
    ps.LineTo(kAxisHigh, kAxisLow);
    ps("stroke");

    for (int i = 0, n = RateTickCount(); i <= n; ++i) {
        int x = RateTickPos(i);
        ps("newpath");
        ps.MoveTo(x, 100);
        ps.LineTo(x, 80);
        ps("stroke");
        if (i > 0)
            ps.DashedGrid(x, 105, x, 950);
        ps.MoveTo(x - 10, 20);
        ps("(%s) show", RateLabel(i).c_str());
    }
    for (int i = 0, n = ValueTickCount(); i <= n; ++i) {
        int y = ValueTickPos(i);
        ps("newpath");
        ps.MoveTo(100, y);
        ps.LineTo(80, y);
        ps("stroke");
        if (i > 0)
            ps.DashedGrid(103, y, 950, y);
        ps.MoveTo(10, y - 5);
        ps("(%s) show", ValueLabel(i).c_str());
    }

    ps.MoveTo(790, 130);
    ps("(Bit Rate (bpp)) show");
    ps.MoveTo(100, 980);
    ps(m_nPlotType == 1 ? "(PSNR (dB)) show" : "(SNR (dB)) show");

    ps("/Helvetica findfont");
    ps("12 scalefont");
    ps("setfont");
    ps("%f setlinewidth", 0.8);

    for (int i = 0, n = CurveCount(); i < n; ++i) {
        ps("%s", kPostScriptColours[i % 6]);
        ps.MoveTo(legend.x, legend.Line(i) - kPsLegendBaseline);
        ps("(%s) show", PostScriptEscape(m_sCurveName[i]).c_str());
    }

    // The curves draw inside the axis box only.
    ps("gsave");
    ps("newpath");
    ps.MoveTo(kAxisLow, kAxisLow);
    ps.LineTo(kAxisHigh, kAxisLow);
    ps.LineTo(kAxisHigh, kAxisHigh);
    ps.LineTo(kAxisLow, kAxisHigh);
    ps("closepath clip");
    int curve = -1;
    for (int k = 0, entries = EntryCount(); k < entries; ++k) {
        int x = MapX(m_pRate[k]);
        int y = MapY(m_pValue[k]);
        if (m_pPenCode[k] == 2) {
            ++curve;
            ps("%s", kPostScriptColours[curve % 6]);
            ps("newpath");
            ps.MoveTo(x, y);
        } else {
            ps.LineTo(x, y);
        }
        ps("stroke");
        ps.MoveTo(x + 3, y);
        ps("%d hscal %d vscal 2 0 360 arc", x, y);
        ps("stroke");
        ps("newpath");
        ps.MoveTo(x, y);
    }
    ps("grestore");
    if (!encapsulated)
        ps("showpage");
    return ps.text;
}

bool RDGraph::WritePostScript(const std::string &path, bool encapsulated) const
{
    const bool ok = WriteWholeFile(path, PostScriptText(encapsulated), "w");
    if (!ok)
        ShowMessage("The graph could not be written to\n" + path, MsgButtons::Ok, MsgIcon::Error);
    return ok;
}

} // namespace zn
