// The DPCM module dialog: pages to pending parameters, Apply to a measured chain window and the
// prediction-error image. The coder needs the quantiser tables: without a tables directory Apply
// asks for one in Preferences and codes nothing.
#include "modules/dpcm/dpcm_dlg.h"

#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/common/module_apply.h"
#include "modules/common/module_controls.h"
#include "modules/dpcm/dpcm_pages.h"
#include "platform/qt/gui_platform.h"
#include "shell/doc_commands.h"

#include <QAbstractButton>
#include <QPushButton>

CDpcmDlg::CDpcmDlg()
    : CModuleDialog(IDD, {.caption = QStringLiteral("DPCM: "),
                          .groupId = 1036,
                          .groupText = QStringLiteral("Set DPCM Parameters"),
                          .tabId = 1544,
                          .applyId = IDC_APPLY,
                          .resultId = IDC_RESULTS})
{
    SetRDKey("DPCM");
    UseStoringCursor();
}

void CDpcmDlg::CreatePages()
{
    m_pPredictionPage = new CDpcmModelDlg(TabCtrl());
    m_pBitratePage = new CDpcmBitrateDlg(TabCtrl());
    m_pLevelsPage = new CDpcmLevelsDlg(TabCtrl());
    m_pErrorsPage = new CDpcmErrorsDlg(TabCtrl());
    AddPage(m_pPredictionPage, QStringLiteral("Model"));
    AddPage(m_pBitratePage, QStringLiteral("Bitrate"));
    AddPage(m_pLevelsPage, QStringLiteral("Levels"));
    AddPage(m_pErrorsPage, QStringLiteral("Errors"));
}

bool CDpcmDlg::OnInitDialog()
{
    m_pendingPar = DpcmParams{3, 2, 4, 0.0f};
    m_activePar = DpcmParams{0, 0, 0, 0.0f};
    if (!CModuleDialog::OnInitDialog())
        return false;
    connect(ApplyButton(), &QPushButton::clicked, this, &CDpcmDlg::OnDpcmApply);
    return true;
}

void CDpcmDlg::OnPageMessage(int message)
{
    switch (message) {
    case WM_DPCM_BITS_CHANGED:
        OnDpcmBitsChanged();
        break;
    case WM_DPCM_ERRORS_CHANGED:
        OnDpcmErrorsChanged();
        break;
    case WM_DPCM_MODEL_CHANGED:
        OnDpcmModelChanged();
        break;
    case WM_DPCM_LEVELS_CHANGED:
        OnDpcmLevelsChanged();
        break;
    default:
        break;
    }
}

bool CDpcmDlg::Differs(const DpcmParams &a, const DpcmParams &b) const
{
    return a.nPredModel != b.nPredModel || a.nBits != b.nBits || a.nLevels != b.nLevels ||
           a.fErrorProb != b.fErrorProb;
}

void CDpcmDlg::OnDpcmBitsChanged()
{
    auto *fewer = Item<QAbstractButton>(1534);
    auto *all = Item<QAbstractButton>(1035);
    if (zn::IsChecked(this, 1026)) {
        // One bit leaves no choice: two levels.
        m_pendingPar.nBits = 1;
        m_pendingPar.nLevels = 2;
        fewer->setText(QStringLiteral("1"));
        all->setText(QStringLiteral("2"));
        fewer->setEnabled(false);
        all->setEnabled(false);
        all->setChecked(true);
        fewer->setChecked(false);
    } else {
        int bits = 6;
        for (int i = 0; i < 4; ++i)
            if (zn::IsChecked(this, 1027 + i)) {
                bits = i + 2;
                break;
            }
        m_pendingPar.nBits = bits;
        fewer->setText(QString::number(DpcmLevelsFor(bits, true)));
        all->setText(QString::number(DpcmLevelsFor(bits, false)));
        fewer->setEnabled(true);
        all->setEnabled(true);
    }
    if (Differs(m_pendingPar, m_activePar))
        OnDpcmLevelsChanged();
    ApplyButton()->setEnabled(true);
}

void CDpcmDlg::OnDpcmLevelsChanged()
{
    const int b = m_pendingPar.nBits;
    if (b > 1) {
        if (zn::IsChecked(this, 1534))
            m_pendingPar.nLevels = DpcmLevelsFor(b, true);
        else if (zn::IsChecked(this, 1035))
            m_pendingPar.nLevels = DpcmLevelsFor(b, false);
    }
    ApplyButton()->setEnabled(true);
}

void CDpcmDlg::OnDpcmModelChanged()
{
    for (int model = 1; model <= 4; ++model)
        if (zn::IsChecked(this, 1044 + model))
            m_pendingPar.nPredModel = model;
    ApplyButton()->setEnabled(true);
}

void CDpcmDlg::OnDpcmErrorsChanged()
{
    static constexpr zn::IdValue kProbs[] = {
        {1021, 0.005f}, {1022, 0.001f}, {1023, 0.0005f}, {1024, 0.0001f}};
    m_pendingPar.fErrorProb = zn::CheckedValue(this, kProbs);
    ApplyButton()->setEnabled(true);
}

void CDpcmDlg::OnDpcmApply()
{
    CDibDoc *doc = m_pStartDibDoc;
    const std::string tableDir = zn::TablesDirOrPreferences();
    if (tableDir.empty())
        return;
    zn::WaitCursor wait;
    m_activePar = m_pendingPar;
    ApplyButton()->setEnabled(true);
    if (!doc || !doc->m_pDib)
        return;
    zn::RunModuleApply([&] {
        ZnImage decoded, predError;
        const std::string title = doc->m_pDib->m_title;
        const DpcmRunResult r =
            DpcmCodeImage(m_activePar, doc->m_pDib, title, tableDir, &decoded, &predError);
        m_sResults = zn::Q(r.results);
        SetResultText(m_sResults); // replaced on every run
        // The point's rate is what an entropy coder of the indices would spend, not the b bits sent.
        zn::StoreRDPointIfRecording(doc, "DPCM", r.entropy, r.measures,
                                    "(OnDpcmApply()) m_pStartDibDoc->m_pRDData == NULL. Should not happen");
        zn::PutResultImage(predError, doc->m_pResultDibA, r.nameA, r.captionA);
        zn::PutResultImage(decoded, doc->m_pFinalDib, r.name, r.caption);
        doc->ShowResultImages(true, true, false, zn::Q(r.description), zn::Q(r.descriptionA), QString());
    });
    if (m_activePar.fErrorProb != 0.0f)
        ApplyButton()->setEnabled(true);
}

void RegisterDpcmModule()
{
    zn::RegisterModuleDialogClass<CDpcmDlg>(zn::cmd::kDpcm);
}
