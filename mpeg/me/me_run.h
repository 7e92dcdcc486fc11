// One motion estimation run as the module drives it, without the windows: the settings and the plan
// they give (reach, border, block size, level tables), the texts of the report, and the estimator that
// holds the frames, smooths them for the levels, estimates a field per frame and measures it.
#pragma once

#include "image/znimage.h"
#include "mpeg/me/me_hier.h"

#include <memory>
#include <string>

class CDib;

// The module's settings, in the pages' terms.
struct MeSettings
{
    int SearchMethod = 0; // 0 full, 1 one-at-a-time, 2 N-step
    int levels = 1;
    int maxDispl = 15; // 1 level: the displacement; 2 or 3 levels: the sum of the levels' values
    int nSteps = 4;    // the first level's count
    int blockSize = 8;
    int frameByFrame = 0;
    int loops = 3;
    int showAgain = 0;
};

// What a run needs to know before its first frame.
struct MePlan
{
    int border = 0; // O: the largest displacement any level may add up to
    int block = 8;  // the finest block size
    MeLevelTable table;
    int distinct[ME_MAX_LEVELS] = {};
    int imageIndex[ME_MAX_LEVELS] = {};
    int nDistinct = 0;
};

// False after the message for a method or a level count the module does not have.
bool MePlanRun(const MeSettings &s, MePlan *plan);

// "Hierarchical Motion Estimation Parameters" and the table of levels (two or three levels only).
std::string MeHierReport(const MeSettings &s, const MePlan &plan);
// The head of the per-frame table, with the N-step search's maximum displacement line first.
std::string MeTableHead(const MeSettings &s, const MePlan &plan);
// "(02)   ..." for frame k.
std::string MeFrameRow(int k, double variance, double fd, double mcfd, double entropy);
// "BF_8x8_15", "H_NS_8x8_3": method, block size and the stored reach.
std::string MeResultTag(const MeSettings &s);

// The most fields a run keeps (frames 2 to 1001).
constexpr int kMeMaxFields = 1000;

struct MeFrameMeasures
{
    double variance = 0, fd = 0, mcfd = 0, entropy = 0;
};

class MeEstimator
{
public:
    MeEstimator(const MeSettings &s, const MePlan &plan, int height, int width);
    ~MeEstimator();
    MeEstimator(const MeEstimator &) = delete;
    MeEstimator &operator=(const MeEstimator &) = delete;

    // False when the images could not be allocated (after the message).
    bool Ok() const { return m_ok; }

    // The picture into the previous or the current frame, inside a border of 127 (stacks smoothed
    // for the levels).
    void LoadPrevious(const CDib *picture);
    void LoadCurrent(const CDib *picture);
    // The same from a luminance plane of height x width bytes (tests, benchmarks).
    void LoadPrevious(const uint8_t *plane);
    void LoadCurrent(const uint8_t *plane);
    // The field of the current frame against the previous one.
    MeField Estimate();
    // Prediction, difference images and the field drawn on the prediction; with `full` also the
    // variance and the entropy, which only an estimating run reports.
    MeFrameMeasures Measure(const VF *field, bool full);
    // The current frame becomes the previous one.
    void SwapFrames();

    const ZnImage &Prediction() const { return m_pred; }
    const ZnImage &FrameDifference() const { return m_fd; }
    const ZnImage &McFrameDifference() const { return m_mcfd; }
    const ZnImage &CurrentFrame() const { return *m_cur; }
    const ZnImage &PreviousFrame() const { return *m_prev; }

private:
    void Smooth(const ZnImage &frame, MeImageStack *stack);
    void FromPlane(const uint8_t *plane, ZnImage *frame);

    MeSettings m_s;
    MePlan m_plan;
    int m_height, m_width;
    bool m_ok = false;
    ZnImage m_a, m_b, m_pred, m_fd, m_mcfd;
    ZnImage *m_prev = &m_a;
    ZnImage *m_cur = &m_b;
    MeImageStack *m_prevStack = nullptr;
    MeImageStack *m_curStack = nullptr;
};
