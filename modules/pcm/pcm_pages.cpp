// PCM tab pages. The dither and error choices start disabled: a value can only be picked once the
// option is switched on, and switching it off clears the value again.
#include "modules/pcm/pcm_pages.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <vector>

CPcmBitrateDlg::CPcmBitrateDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pBits = new zn::PushRadioGroup(this);
    std::vector<QPushButton *> bits;
    for (int i = 0; i < 7; ++i)
        bits.push_back(m_pBits->Add(1000 + i, QString::number(i + 1)));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(zn::MakeButtonRow(this, 1007, QStringLiteral("Set PCM Bitrate"), bits));
    layout->addStretch();
    m_pBits->Select(1000);
    connect(m_pBits, &zn::PushRadioGroup::Clicked, this, [this] { NotifyOwner(WM_PCM_BITS_CHANGED); });
}

CPcmDitherDlg::CPcmDitherDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pFactor = new zn::PushRadioGroup(this);
    const std::vector<QPushButton *> factors = {
        m_pFactor->Add(1509, QStringLiteral("0.75")), m_pFactor->Add(1510, QStringLiteral("1.0")),
        m_pFactor->Add(1011, QStringLiteral("1.5")), m_pFactor->Add(1012, QStringLiteral("2.0"))};
    m_pGroup = zn::MakeButtonRow(this, 1008, QStringLiteral("Set Dithering Stepsize"), factors);
    m_pApply = zn::MakeCheckBox(this, 1013, QStringLiteral("Apply Dither"));
    m_pSubtract = zn::MakeCheckBox(this, 1098, QStringLiteral("Subtract Dither"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_pGroup);
    auto *checks = new QHBoxLayout;
    checks->addWidget(m_pApply);
    checks->addWidget(m_pSubtract);
    layout->addLayout(checks);
    layout->addStretch();
    m_pGroup->setEnabled(false);
    m_pFactor->SetEnabled(false);
    m_pSubtract->setEnabled(false);
    m_pSubtract->setChecked(false);
    connect(m_pApply, &QCheckBox::clicked, this, &CPcmDitherDlg::OnApplyDither);
    connect(m_pFactor, &zn::PushRadioGroup::Clicked, this, [this] { NotifyOwner(WM_PCM_DITHER_CHANGED); });
    connect(m_pSubtract, &QCheckBox::clicked, this, [this] { NotifyOwner(WM_PCM_DITHER_CHANGED); });
}

void CPcmDitherDlg::OnApplyDither()
{
    const bool on = m_pApply->isChecked();
    m_pFactor->SetEnabled(on);
    m_pGroup->setEnabled(on);
    m_pSubtract->setEnabled(on); // keeps its state either way
    if (on)
        m_pFactor->Select(1510);
    else
        m_pFactor->Clear();
    NotifyOwner(WM_PCM_DITHER_CHANGED);
}

CPcmErrorsDlg::CPcmErrorsDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pProb = new zn::PushRadioGroup(this);
    const std::vector<QPushButton *> probs = {
        m_pProb->Add(1015, QStringLiteral(".005")), m_pProb->Add(1016, QStringLiteral(".001")),
        m_pProb->Add(1017, QStringLiteral(".0005")), m_pProb->Add(1018, QStringLiteral(".0001"))};
    m_pGroup = zn::MakeButtonRow(this, 1014, QStringLiteral("Set Channel Errors Probability"), probs);
    m_pSimulate = zn::MakeCheckBox(this, 1019, QStringLiteral("Simulate Channel Errors"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_pGroup);
    layout->addWidget(m_pSimulate);
    layout->addStretch();
    m_pGroup->setEnabled(false);
    m_pProb->SetEnabled(false);
    connect(m_pSimulate, &QCheckBox::clicked, this, &CPcmErrorsDlg::OnSimulateErrors);
    connect(m_pProb, &zn::PushRadioGroup::Clicked, this, [this] { NotifyOwner(WM_PCM_ERRORS_CHANGED); });
}

void CPcmErrorsDlg::OnSimulateErrors()
{
    const bool on = m_pSimulate->isChecked();
    m_pProb->SetEnabled(on);
    m_pGroup->setEnabled(on);
    if (on)
        m_pProb->Select(1015);
    else
        m_pProb->Clear();
    NotifyOwner(WM_PCM_ERRORS_CHANGED);
}
