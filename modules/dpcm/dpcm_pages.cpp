// DPCM tab pages. The error choices start disabled: a probability can only be picked once the
// channel is switched on, and switching it off clears the choice again.
#include "modules/dpcm/dpcm_pages.h"

#include "modules/dpcm/pred_model_pictures.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace {
constexpr int kPageWidth = 214;
constexpr int kPageHeight = 104;
} // namespace

CDpcmModelDlg::CDpcmModelDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    resize(kPageWidth, kPageHeight);
    zn::MakeGroupBox(this, -1, QStringLiteral("Set the Prediction Model"), 4, 4, 206, 96);
    m_pModels = new zn::PushRadioGroup(this);
    for (int model = 1; model <= 4; ++model) {
        const int x = 12 + 50 * (model - 1);
        auto *picture = new QLabel(this);
        picture->setPixmap(zn::PredModelPicture(zn::kPredModelPageBitmaps[model - 1]));
        picture->setGeometry(x + (40 - picture->pixmap().width()) / 2, 26, 40, 24);
        m_pModels->Add(1044 + model, QString::number(model), x, 58, 40);
    }
    m_pModels->Select(1047);
    connect(m_pModels, &zn::PushRadioGroup::Clicked, this, [this] { NotifyOwner(WM_DPCM_MODEL_CHANGED); });
}

CDpcmBitrateDlg::CDpcmBitrateDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    resize(kPageWidth, kPageHeight);
    zn::MakeGroupBox(this, 1055, QStringLiteral("Set DPCM Bitrate"), 4, 4, 206, 60);
    m_pBits = new zn::PushRadioGroup(this);
    for (int i = 0; i < 6; ++i)
        m_pBits->Add(1026 + i, QString::number(i + 1), 12 + 32 * i, 28, 28);
    m_pBits->Select(1027);
    connect(m_pBits, &zn::PushRadioGroup::Clicked, this, [this] { NotifyOwner(WM_DPCM_BITS_CHANGED); });
}

CDpcmLevelsDlg::CDpcmLevelsDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    resize(kPageWidth, kPageHeight);
    zn::MakeGroupBox(this, 1032, QStringLiteral("Set Number of Levels"), 4, 4, 206, 60);
    m_pLevels = new zn::PushRadioGroup(this);
    m_pLevels->Add(1534, QStringLiteral("3"), 40, 28, 50);  // the 2^b - 1 choice
    m_pLevels->Add(1035, QStringLiteral("4"), 120, 28, 50); // the 2^b choice
    m_pLevels->Select(1035);
    connect(m_pLevels, &zn::PushRadioGroup::Clicked, this, [this] { NotifyOwner(WM_DPCM_LEVELS_CHANGED); });
}

CDpcmErrorsDlg::CDpcmErrorsDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    resize(kPageWidth, kPageHeight);
    m_pGroup = zn::MakeGroupBox(this, 1020, QStringLiteral("Set Channel Errors Probability"), 4, 4, 206, 54);
    m_pProb = new zn::PushRadioGroup(this);
    m_pProb->Add(1021, QStringLiteral(".005"), 12, 26, 44);
    m_pProb->Add(1022, QStringLiteral(".001"), 60, 26, 44);
    m_pProb->Add(1023, QStringLiteral(".0005"), 108, 26, 44);
    m_pProb->Add(1024, QStringLiteral(".0001"), 156, 26, 44);
    m_pSimulate = zn::MakeCheckBox(this, 1025, QStringLiteral("Simulate Channel Errors"), 8, 64, 180);
    m_pGroup->setEnabled(false);
    m_pProb->SetEnabled(false);
    connect(m_pSimulate, &QCheckBox::clicked, this, &CDpcmErrorsDlg::OnSimulateErrors);
    connect(m_pProb, &zn::PushRadioGroup::Clicked, this, [this] { NotifyOwner(WM_DPCM_ERRORS_CHANGED); });
}

void CDpcmErrorsDlg::OnSimulateErrors()
{
    const bool on = m_pSimulate->isChecked();
    m_pProb->SetEnabled(on);
    m_pGroup->setEnabled(on);
    if (on)
        m_pProb->Select(1021);
    else
        m_pProb->Clear();
    NotifyOwner(WM_DPCM_ERRORS_CHANGED);
}
