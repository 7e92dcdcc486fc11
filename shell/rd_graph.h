// The rate-distortion graph as data: the axis scale with its tick rules, the curves to draw, the
// mapping into a 1000 x 1000 logical space (axes from 100 to 950), where the legend goes, and the
// same graph written as PostScript or Encapsulated PostScript. Curves are clipped to the axis box, so
// a curve added on another curve's scale never runs over the labels. Qt-free; the graph view paints
// it on screen.
#pragma once

#include <string>
#include <vector>

namespace zn {

struct RDColour
{
    int r, g, b;
};

class RDGraph
{
public:
    static constexpr int kMaxNames = 100;     // legend slots; the one after the last name holds "_EMPTY_"
    static constexpr int kMaxEntries = 10000; // point entries, terminator included
    static constexpr int kMaxTicks = 1000;    // more tick intervals than this are never drawn
    static constexpr int kAxisLow = 100;
    static constexpr int kAxisHigh = 950;
    static const RDColour kCurveColours[6];
    static const RDColour kGridColour;

    RDGraph();

    // False (scale unchanged) when a bound is not finite, out of order or beyond any sensible
    // rate or level (magnitude above 1e7).
    bool SetScale(float rateFrom, float rateTo, float valueFrom, float valueTo, const std::string &plotType);
    // Points with a non-finite rate or value are left out. False, after a message, when the graph
    // is full (99 curves, 9999 points); nothing is added then.
    bool AddCurve(const std::string &profileName, int count, const float *rates, const float *values,
                  bool firstCurve);

    // Logical coordinates.
    int MapX(float rate) const;
    int MapY(float value) const;
    int RateTickCount() const { return static_cast<int>(m_fRateTicks); }
    int ValueTickCount() const { return static_cast<int>(m_fValueTicks); }
    int RateTickPos(int i) const;
    int ValueTickPos(int i) const;
    std::string RateLabel(int i) const;
    std::string ValueLabel(int i) const;
    const char *ValueTitle() const { return m_nPlotType == 1 ? "PSNR (dB)" : "SNR (dB)"; }
    // The legend: one line of kLegendLine units per curve, in a corner of the axis box that no curve
    // crosses (the top right when free). nameWidth is the widest name in logical units, as the
    // caller's font measures it. Line i spans kLegendLine downward from Line(i).
    static constexpr int kLegendLine = 40;
    struct LegendPlace
    {
        int x = 0;   // left edge
        int top = 0; // top edge of the first line
        int Line(int i) const { return top - kLegendLine * i; }
    };
    LegendPlace PlaceLegend(int nameWidth) const;
    // How many drawn points and segments of the curves fall into the rectangle (logical units).
    int CurvesCrossing(int x0, int y0, int x1, int y1) const;
    int CurveCount() const;
    int EntryCount() const; // entries before the terminator

    std::string PostScriptText(bool encapsulated) const;
    // False, after a message, when the file cannot be written.
    bool WritePostScript(const std::string &path, bool encapsulated) const;

    std::vector<std::string> m_sCurveName; // kMaxNames entries
    std::vector<float> m_pRate;            // empty until the first curve, then kMaxEntries
    std::vector<float> m_pValue;
    std::vector<int> m_pPenCode; // 2 first point of a curve, 1 further point, 0 end of list
    int m_nPlotType = 0;         // 0 SNR, 1 PSNR
    float m_fRateMin = 0, m_fRateMax = 0, m_fRateTicks = 0;
    float m_fValueMin = 0, m_fValueMax = 0, m_fValueTicks = 0;

private:
    int PsNameWidth() const;
    int m_nCurves = 0; // a profile may itself be called "_EMPTY_", so count rather than search
};

// "(" ")" and "\" escaped for a PostScript string literal.
std::string PostScriptEscape(const std::string &text);

} // namespace zn
