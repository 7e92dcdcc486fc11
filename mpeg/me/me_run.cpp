// The run's plan, texts and per-frame steps. The border of every frame is the total reach, so no
// candidate of any level ever looks further out than the 127-valued border.
#include "mpeg/me/me_run.h"

#include "mpeg/me/bm_search.h"
#include "mpeg/me/me_measures.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/messages.h"

#include <algorithm>
#include <utility>

bool MePlanRun(const MeSettings &s, MePlan *plan)
{
    if (s.SearchMethod < 0 || s.SearchMethod > 2) {
        zn::ShowMessage("OnMeApply - Error: Incorrect value of newSettings.SearchMethod");
        return false;
    }
    const bool nStep = s.SearchMethod == ME_SEARCH_NSTEP;
    MePlan p;
    if (s.levels == 1) {
        p.border = nStep ? (1 << std::clamp(s.nSteps, 0, 7)) - 1 : std::clamp(s.maxDispl, 0, 127);
        p.block = s.blockSize;
        if (p.block <= 0)
            return false;
    } else {
        if (s.levels != 2 && s.levels != 3) {
            zn::ShowMessage("Must use 2 or 3 levels!");
            return false;
        }
        if (!MeLevelTables(s.levels, s.blockSize, nStep, nStep ? s.nSteps : s.maxDispl, &p.table))
            return false;
        p.border = p.table.totalReach;
        p.block = p.table.block[s.levels - 1];
        p.nDistinct = MeSmoothingSet(s.levels, p.table.smoothing, p.distinct, p.imageIndex);
    }
    *plan = p;
    return true;
}

std::string MeHierReport(const MeSettings &s, const MePlan &plan)
{
    const MeLevelTable &t = plan.table;
    const bool nStep = s.SearchMethod == ME_SEARCH_NSTEP;
    auto box = [&](int l) { return 2 * t.smoothing[l] + 1; };
    std::string r = "Hierarchical Motion Estimation Parameters \r\n\r\n";
    if (t.levels == 2) {
        r += "Resolution Level\t (1)\t (2)\r\n";
        r += zn::Format("  Blocksize\t%ix%i\t%ix%i\r\n", t.block[0], t.block[0], t.block[1], t.block[1]);
        r += zn::Format("  Smoothing\t%ix%i\t%ix%i\r\n", box(0), box(0), box(1), box(1));
        r += zn::Format("  Window\t\t%ix%i\t%ix%i\r\n", t.window[0], t.window[0], t.window[1], t.window[1]);
        r += zn::Format("  Subsample\t  %i\t  %i\r\n", t.subsample[0], t.subsample[1]);
        r += zn::Format(nStep ? "  #Steps\t\t  %i\t  %i\r\n" : "  Max. Displ.\t  %i\t  %i\r\n", t.reach[0],
                        t.reach[1]);
    } else if (t.levels == 3) {
        r += "Res. Level     (1)\t   (2)\t   (3)\r\n";
        r += zn::Format("  Blocksize    %ix%i\t   %ix%i\t   %ix%i\r\n", t.block[0], t.block[0], t.block[1],
                        t.block[1], t.block[2], t.block[2]);
        r += zn::Format("  Smoothing     %ix%i\t    %ix%i\t    %ix%i\r\n", box(0), box(0), box(1), box(1),
                        box(2), box(2));
        r += zn::Format("  Window     %ix%i\t  %ix%i\t   %ix%i\r\n", t.window[0], t.window[0], t.window[1],
                        t.window[1], t.window[2], t.window[2]);
        r += zn::Format("  Subsample      %i\t     %i\t   %i\r\n", t.subsample[0], t.subsample[1],
                        t.subsample[2]);
        r += zn::Format(nStep ? "  #Steps          %i\t    %i\t   %i\r\n"
                              : "  Max. Displ.      %i\t      %i\t    %i\r\n",
                        t.reach[0], t.reach[1], t.reach[2]);
    }
    r += "\r\nESTIMATION RESULTS:\r\n";
    return r;
}

std::string MeTableHead(const MeSettings &s, const MePlan &plan)
{
    std::string r;
    if (s.SearchMethod == ME_SEARCH_NSTEP)
        r += zn::Format("Maximum displacement\t: %d\r\n\r\n", plan.border);
    r += "Frame          Variances                  Vector\r\n";
    r += "          original       fd          mcfd      entropy\r\n";
    return r;
}

std::string MeFrameRow(int k, double variance, double fd, double mcfd, double entropy)
{
    return zn::Format("(%.2d)   %7.2f  %7.2f  %7.2f    %6.2f\r\n", k, variance, fd, mcfd, entropy);
}

std::string MeResultTag(const MeSettings &s)
{
    const char *prefix = s.levels >= 2 ? "H_" : "";
    switch (s.SearchMethod) {
    case ME_SEARCH_FULL:
        return zn::Format("%sBF_%dx%d_%d", prefix, s.blockSize, s.blockSize, s.maxDispl);
    case ME_SEARCH_ONE_AT_A_TIME:
        return zn::Format("%sOT_%dx%d_%d", prefix, s.blockSize, s.blockSize, s.maxDispl);
    default:
        return zn::Format("%sNS_%dx%d_%d", prefix, s.blockSize, s.blockSize, s.nSteps);
    }
}

// ---------------------------------------------------------------------------------------------------

MeEstimator::MeEstimator(const MeSettings &s, const MePlan &plan, int height, int width)
    : m_s(s), m_plan(plan), m_height(height), m_width(width)
{
    if (height <= 0 || width <= 0 || plan.block <= 0)
        return;
    const int rows = height + 2 * plan.border;
    const int cols = width + 2 * plan.border;
    try {
        m_a.Alloc(rows, cols);
        m_b.Alloc(rows, cols);
        m_pred.Alloc(height, width);
        m_fd.Alloc(height, width);
        m_mcfd.Alloc(height, width);
    } catch (const zn::RunAborted &) {
        return; // AllocImg has shown its message
    }
    if (s.levels >= 2) {
        m_prevStack = MeAllocImageStack(rows, cols, IMG_REP_FLOAT, IMG_SEQ_MONO, plan.nDistinct);
        m_curStack = MeAllocImageStack(rows, cols, IMG_REP_FLOAT, IMG_SEQ_MONO, plan.nDistinct);
        if (!m_prevStack || !m_curStack)
            return;
    }
    m_ok = true;
}

MeEstimator::~MeEstimator()
{
    MeFreeImageStack(m_prevStack);
    MeFreeImageStack(m_curStack);
}

void MeEstimator::Smooth(const ZnImage &frame, MeImageStack *stack)
{
    if (!stack)
        return;
    for (int k = 0; k < m_plan.nDistinct; ++k)
        MeSmoothBox(frame.img, stack->images[k], m_plan.distinct[k]);
}

void MeEstimator::FromPlane(const uint8_t *plane, ZnImage *frame)
{
    const int b = m_plan.border;
    const int cols = m_width + 2 * b;
    float *d = frame->Data();
    std::fill(d, d + static_cast<long>(m_height + 2 * b) * cols, 127.0f);
    for (int y = 0; y < m_height; ++y)
        for (int x = 0; x < m_width; ++x)
            d[static_cast<long>(y + b) * cols + x + b] = plane[static_cast<long>(y) * m_width + x];
}

void MeEstimator::LoadPrevious(const CDib *picture)
{
    m_prev->DibToSubZnImage(picture, m_plan.border);
    Smooth(*m_prev, m_prevStack);
}

void MeEstimator::LoadCurrent(const CDib *picture)
{
    m_cur->DibToSubZnImage(picture, m_plan.border);
}

void MeEstimator::LoadPrevious(const uint8_t *plane)
{
    FromPlane(plane, m_prev);
    Smooth(*m_prev, m_prevStack);
}

void MeEstimator::LoadCurrent(const uint8_t *plane)
{
    FromPlane(plane, m_cur);
}

MeField MeEstimator::Estimate()
{
    const int b = m_plan.block;
    VF *raw = nullptr;
    AllocVF(&raw, m_height / b, m_width / b, b, b, 0);
    MeField field(raw);
    if (!field->planeA)
        return field;
    const int O = m_plan.border;
    if (m_s.levels <= 1) {
        const int reach = m_s.SearchMethod == ME_SEARCH_NSTEP ? m_s.nSteps : m_s.maxDispl;
        switch (m_s.SearchMethod) {
        case ME_SEARCH_FULL:
            BmBruteForceSearch(m_cur->img, m_prev->img, field.get(), nullptr, b, b, reach, ME_CRITERION_SAD,
                               O, 0, 0, 1);
            break;
        case ME_SEARCH_ONE_AT_A_TIME:
            BmOneTimeSearch(m_cur->img, m_prev->img, field.get(), nullptr, b, b, reach, ME_CRITERION_SAD, O,
                            0, 0, 1);
            break;
        default:
            BmNStepSearch(m_cur->img, m_prev->img, field.get(), nullptr, b, b, reach, ME_CRITERION_SAD, O, 0,
                          0, 1);
        }
        return field;
    }
    Smooth(*m_cur, m_curStack);
    const MeLevelTable &t = m_plan.table;
    BmHierBlockMatch(m_curStack, m_prevStack, field.get(), m_s.SearchMethod, t.levels, t.reach, t.block,
                     t.window, t.smoothing, m_plan.imageIndex, t.subsample, O);
    std::swap(m_curStack, m_prevStack);
    return field;
}

MeFrameMeasures MeEstimator::Measure(const VF *field, bool full)
{
    MeFrameMeasures m;
    const int O = m_plan.border;
    m.fd = MeFrameDiff(m_cur->img, m_prev->img, m_fd.img, O);
    m.mcfd = MeMcFrameDiff(m_cur->img, m_prev->img, field, m_pred.img, m_mcfd.img, O);
    MeDrawVectorField(m_pred.img, field);
    if (full) {
        m.variance = MeImageVariance(m_cur->img, O);
        m.entropy = MeVectorEntropy(field);
    }
    return m;
}

void MeEstimator::SwapFrames()
{
    std::swap(m_prev, m_cur);
}
