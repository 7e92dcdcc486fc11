// The motion estimation dialog and its run over the document's sequence. The frames come from the
// document: a .seq series advances file by file, a raw YUV sequence is read into the document
// picture; every result goes to the three windows that are reused frame after frame.
#include "mpeg/me/me_dlg.h"

#include "image/cdib.h"
#include "image/yuv_frame.h"
#include "modules/common/module_apply.h"
#include "mpeg/me/bm_search.h"
#include "mpeg/me/me_pages.h"
#include "platform/format.h"
#include "platform/keypoll.h"
#include "platform/messages.h"
#include "platform/qt/gui_platform.h"
#include "shell/dib_doc.h"
#include "shell/doc_commands.h"

#include <QPushButton>
#include <QTabBar>
#include <memory>

namespace {

// The document's sequence as the run reads it.
class SequenceFrames
{
public:
    explicit SequenceFrames(CDibDoc *doc) : m_doc(doc) {}
    // Frame 1 into the document picture; false after the message.
    bool Open()
    {
        if (m_doc->m_nDocType == DOC_SEQ) {
            if (m_doc->m_nSeqFrame == 0)
                m_doc->LoadNextSequenceFrame();
            return true;
        }
        if (m_doc->m_nDocType != DOC_YUV) {
            zn::ShowMessage("OnMeApply()-Internal programming error, only YUV or BMP allowed");
            return false;
        }
        m_yuv = std::make_unique<CYuvFrame>();
        CDib *dib = m_doc->m_pDib;
        if (m_yuv->ReadHeader(dib->m_path) != 0 || !m_yuv->AllocateYuvFrame())
            return false;
        if (dib->GetWidth() != m_yuv->Width16() || dib->GetHeight() != m_yuv->Height16() ||
            dib->GetInfoHeader()->biBitCount != 24 || !dib->GetBits()) {
            zn::ShowMessage("OnMeApply - The sequence no longer matches the document's picture");
            return false;
        }
        m_yuv->m_pData = dib->GetBits();
        return Read(1);
    }
    bool IsYuv() const { return m_yuv != nullptr; }
    // Frame k (2, 3, ...) into the document picture; false at the end of the sequence or after a
    // read failure (its message shown).
    bool Advance(int k)
    {
        if (!m_yuv)
            return m_doc->LoadNextSequenceFrame() != 0;
        return k <= m_yuv->Frames() && Read(k);
    }
    // Back to frame 1.
    void Rewind()
    {
        if (!m_yuv) {
            m_doc->m_nSeqFrame = 0;
            m_doc->LoadNextSequenceFrame();
        } else {
            Read(1);
        }
    }

private:
    bool Read(int k)
    {
        if (m_yuv->ReadFrame(m_doc->m_pDib->m_path, k) != 0)
            return false;
        m_yuv->ConvertYUVFrameDib();
        return true;
    }
    CDibDoc *m_doc;
    std::unique_ptr<CYuvFrame> m_yuv;
};

const char *kMcDescription =
    "Motion Compensated Prediction\r\n\r\n"
    "* Black dots indicate centres of blocks used in motion estimation\r\n"
    "* Arrows point to centre of block in previous frame used for motion compensation\r\n";
const char *kFdDescription = "Frame Difference (no motion information used)\r\n\r\n"
                             "* Calculated as current frame minus previous frame\r\n"
                             "* A value of 127 (gray) is added for visibility\r\n";
const char *kMcfdDescription = "Motion Compensated Frame Difference\r\n\r\n"
                               "* Calculated as current frame minus motion compensated frame\r\n"
                               "* A value of 127 (gray) is added for visibility\r\n";

} // namespace

CMeDlg::CMeDlg()
    : CModuleDialog(IDD, {.caption = QStringLiteral("Motion Estimation: "),
                          .groupId = IDC_GROUP,
                          .groupText = QStringLiteral("Set Motion Estimation Parameters"),
                          .tabId = IDC_TAB,
                          .applyId = IDC_APPLY,
                          .resultId = IDC_RESULTS})
{}

void CMeDlg::CreatePages()
{
    m_pHierarchyPage = new CMeHierarchyDlg(TabCtrl());
    m_pSearchPage = new CMeSearchDlg(TabCtrl());
    m_pBlockPage = new CMeBlockDlg(TabCtrl());
    m_pDisplPage = MakeMeDisplPage(1, TabCtrl());
    m_pNStepPage = MakeMeNStepPage(1, TabCtrl());
    m_pVideoPage = new CMeVideoDlg(TabCtrl());
    AddPage(m_pHierarchyPage, QStringLiteral("Hierarchy"));
    AddPage(m_pSearchPage, QStringLiteral("Search"));
    AddPage(m_pBlockPage, QStringLiteral("Block"));
    AddPage(m_pDisplPage, QStringLiteral("Max.Displ."));
    AddPage(m_pNStepPage, QStringLiteral("N-Step"));
    AddPage(m_pVideoPage, QStringLiteral("Video"));
}

bool CMeDlg::OnInitDialog()
{
    newSettings = MeSettings{};
    m_fields.clear();
    m_nFields = 0;
    if (!CModuleDialog::OnInitDialog())
        return false;
    TabCtrl()->EnableTab(kDisplTab, true);
    TabCtrl()->EnableTab(kNStepTab, false);
    // Six tabs are wider than the column: a tab bar no wider than its control shows its scroll
    // arrows, so every tab stays reachable.
    TabCtrl()->TabBar()->resize(TabCtrl()->width() - 4, TabCtrl()->TabBar()->height());
    connect(ApplyButton(), &QPushButton::clicked, this, &CMeDlg::OnMeApply);
    return true;
}

void CMeDlg::OnDocumentAttached()
{
    const CDibDoc *doc = m_pStartDibDoc;
    if (!doc || !doc->m_pDib)
        return;
    const int w = doc->m_pDib->GetWidth(), h = doc->m_pDib->GetHeight();
    auto disable = [this](int value) {
        if (QWidget *b = m_pBlockPage->GetDlgItem(m_pBlockPage->IdOf(value)))
            b->setEnabled(false);
    };
    if (w % 16 == 0 && h % 16 == 0)
        return;
    disable(16);
    if (w % 8 == 0 && h % 8 == 0)
        return;
    disable(8);
    m_pBlockPage->SetValue(4);
    newSettings.blockSize = 4;
    if (w % 4 == 0 && h % 4 == 0)
        return;
    disable(4);
    m_pBlockPage->SetValue(2);
    newSettings.blockSize = 2;
}

void CMeDlg::SettingChanged()
{
    ApplyButton()->setEnabled(true);
    m_pVideoPage->ShowAgainButton()->setEnabled(false);
}

void CMeDlg::ReplaceLevelPages(int levels)
{
    auto replace = [this](int tab, CMeChoicePage *&page, CMeChoicePage *fresh, const QString &label) {
        fresh->resize(page->size());
        fresh->SetOwner(this);
        connect(fresh, &CModulePage::Notify, this, &CModuleDialog::SendMessage);
        TabCtrl()->ReplaceTab(tab, fresh, label, tab);
        page->deleteLater();
        page = fresh;
    };
    replace(kDisplTab, m_pDisplPage, MakeMeDisplPage(levels, TabCtrl()), QStringLiteral("Max.Displ."));
    replace(kNStepTab, m_pNStepPage, MakeMeNStepPage(levels, TabCtrl()), QStringLiteral("N-Step"));
    ApplyResultFont();
}

void CMeDlg::OnPageMessage(int message)
{
    switch (message) {
    case WM_ME_VIDEO_CHANGED:
        newSettings.frameByFrame = m_pVideoPage->m_bFrameByFrame;
        newSettings.loops = m_pVideoPage->m_nLoops;
        newSettings.showAgain = m_pVideoPage->m_bShowAgain;
        if (newSettings.showAgain) {
            OnMeApply(); // a replay of the stored fields
            return;
        }
        break;
    case WM_ME_BLOCK_CHANGED:
        newSettings.blockSize = m_pBlockPage->m_nValue;
        break;
    case WM_ME_NSTEP_CHANGED:
        newSettings.nSteps = m_pNStepPage->m_nValue;
        break;
    case WM_ME_DISPL_CHANGED:
        newSettings.maxDispl = m_pDisplPage->m_nValue;
        break;
    case WM_ME_SEARCH_CHANGED: {
        newSettings.SearchMethod = m_pSearchPage->m_nValue;
        const bool nStep = newSettings.SearchMethod == 2;
        TabCtrl()->EnableTab(kDisplTab, !nStep);
        TabCtrl()->EnableTab(kNStepTab, nStep);
        const int levels = newSettings.levels;
        if (nStep) {
            const int steps = levels == 1 ? 4 : 3;
            m_pNStepPage->SetValue(steps);
            newSettings.nSteps = steps;
        } else {
            const int displ = levels == 1 ? 15 : levels == 2 ? 10 : 11;
            m_pDisplPage->SetValue(displ);
            newSettings.maxDispl = displ;
        }
        break;
    }
    case WM_ME_LEVELS_CHANGED: {
        const int levels = m_pHierarchyPage->m_nValue;
        newSettings.levels = levels;
        ReplaceLevelPages(levels);
        newSettings.maxDispl = m_pDisplPage->m_nValue;
        newSettings.nSteps = m_pNStepPage->m_nValue;
        break;
    }
    default:
        return;
    }
    SettingChanged();
}

void CMeDlg::OnMeApply()
{
    CDibDoc *doc = m_pStartDibDoc;
    if (!doc || !doc->m_pDib)
        return;
    {
        zn::WaitCursor wait;
        zn::RunModuleApply([this] { RunEstimation(); });
    }
    m_pVideoPage->ShowAgainButton()->setEnabled(m_nFields > 0);
    ApplyButton()->setEnabled(true);
    newSettings.showAgain = 0;
    m_pVideoPage->m_bShowAgain = 0;
}

void CMeDlg::RunEstimation()
{
    CDibDoc *doc = m_pStartDibDoc;
    const MeSettings s = newSettings;
    bool replay = s.showAgain != 0 && m_nFields > 0;
    if (!replay) {
        m_sResults.clear();
        SetResultText(m_sResults);
    }
    MePlan plan;
    if (!MePlanRun(s, &plan))
        return;
    const int H = doc->m_pDib->GetHeight(), W = doc->m_pDib->GetWidth();
    if (!replay && s.levels >= 2) {
        m_sResults += zn::Q(MeHierReport(s, plan));
        SetResultText(m_sResults);
    }
    MeEstimator est(s, plan, H, W);
    if (!est.Ok())
        return;
    SequenceFrames frames(doc);
    if (!frames.Open())
        return;
    BmBeginRun();
    zn::ForgetKeyPresses();
    if (!replay) {
        m_fields.clear();
        m_nFields = 0;
        m_sResults += zn::Q(MeTableHead(s, plan));
        SetResultText(m_sResults);
    }
    const std::string tag = MeResultTag(s);
    const std::string title = doc->m_pDib->m_title;
    const int loops = s.frameByFrame ? 1 : std::max(1, s.loops);
    bool stop = false;
    for (int loop = 0; loop < loops && !stop; ++loop) {
        est.LoadPrevious(doc->m_pDib);
        int processed = 0;
        if (frames.Advance(2)) {
            for (int k = 2;; ++k) {
                if (s.frameByFrame)
                    zn::ShowMessage(zn::Format("Click OK to process frame %d", k));
                est.LoadCurrent(doc->m_pDib);
                const VF *field = nullptr;
                if (!replay) {
                    if (k > kMeMaxFields)
                        zn::ShowMessage(zn::Format(
                            "Maximum of frames supported is %d\nPlease truncated length of your sequence",
                            kMeMaxFields));
                    m_fields.push_back(est.Estimate());
                    field = m_fields.back().get();
                } else {
                    field = m_fields[static_cast<size_t>(processed)].get();
                }
                ++processed;
                const MeFrameMeasures m = est.Measure(field, !replay);
                if (!replay) {
                    m_sResults += zn::Q(MeFrameRow(k, m.variance, m.fd, m.mcfd, m.entropy));
                    SetResultText(m_sResults);
                }
                const std::string f = frames.IsYuv() ? std::to_string(k) : std::string();
                zn::PutResultImage(est.Prediction(), doc->m_pFinalDib, "ME_" + title + "_" + tag + "_MC",
                                   "MOT.COMP. (" + title + f + "): " + tag);
                zn::PutResultImage(est.FrameDifference(), doc->m_pResultDibA,
                                   "ME_" + title + "_" + tag + "_FD",
                                   "FRAME DIFF. (" + title + f + "): " + tag);
                zn::PutResultImage(est.McFrameDifference(), doc->m_pResultDibB,
                                   "ME_" + title + "_" + tag + "_MCFD",
                                   "MC FRAME DIFF. (" + title + f + "): " + tag);
                doc->ShowSequenceResultImages(true, true, true, QString::fromLatin1(kMcDescription),
                                              QString::fromLatin1(kFdDescription),
                                              QString::fromLatin1(kMcfdDescription));
                est.SwapFrames();
                // The fields of frames 2 to 1001 are kept; the estimation ends there.
                if (!replay && k > kMeMaxFields) {
                    stop = true;
                    break;
                }
                if (replay && processed >= m_nFields)
                    break;
                if (!frames.Advance(k + 1))
                    break;
                if (frames.IsYuv() && zn::TakeKeyPress() &&
                    zn::ShowMessage("Motion estimation interrupted by User\nContinue with rest of sequence?",
                                    zn::MsgButtons::YesNo, zn::MsgIcon::Question) == zn::MsgAnswer::No) {
                    stop = true;
                    break;
                }
            }
        }
        frames.Rewind();
        if (!replay) {
            m_nFields = processed;
            replay = m_nFields > 0;
        }
    }
}

void CMeDlg::OnCancel()
{
    m_fields.clear();
    m_nFields = 0;
    CModuleDialog::OnCancel();
}

void RegisterMotionEstimationModule()
{
    zn::RegisterModuleDialogClass<CMeDlg>(zn::cmd::kMotionEstimation);
}
