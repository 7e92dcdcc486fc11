// The R(D) graph window: bit rate against SNR or PSNR, one coloured polyline with point markers and
// a legend entry per curve, its 1000 x 1000 logical space stretched over the window with y upward.
#pragma once

#include "shell/rd_graph.h"

#include <QFrame>

namespace zn {

class CRDView : public QFrame
{
public:
    explicit CRDView(QWidget *parent = nullptr);

    bool SetScale(float rateFrom, float rateTo, float valueFrom, float valueTo, const std::string &plotType)
    {
        return m_graph.SetScale(rateFrom, rateTo, valueFrom, valueTo, plotType);
    }
    bool AddCurve(const std::string &profileName, int count, const float *rates, const float *values,
                  bool firstCurve)
    {
        return m_graph.AddCurve(profileName, count, rates, values, firstCurve);
    }
    bool WritePostScript(const std::string &path, bool encapsulated) const
    {
        return m_graph.WritePostScript(path, encapsulated);
    }
    const RDGraph &Graph() const { return m_graph; }
    // Window position of a logical point (x to the right, y upward, 1000 x 1000 over the window).
    QPointF LogicalToWindow(int x, int y) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void OnDraw(class QPainter &painter);
    RDGraph m_graph;
};

} // namespace zn
