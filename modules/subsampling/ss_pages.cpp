// Subsampling tab pages. A switched-off option disables its choices and clears them; switching it
// on picks the first choice. A choice notifies only when it changes the value, the check boxes on
// every click.
#include "modules/subsampling/ss_pages.h"

#include <QCheckBox>
#include <QGroupBox>

namespace {

constexpr int kPageWidth = 214;
constexpr int kPageHeight = 104;

struct Choice
{
    int id;
    const char *text;
    int value;
};
constexpr Choice kFactors[] = {{1517, "2", 2},   {1518, "4", 4},   {1519, "8", 8},
                               {1520, "16", 16}, {1521, "32", 32}, {1522, "64", 64}};
constexpr Choice kTaps[] = {
    {1528, "5", 5}, {1529, "9", 9}, {1530, "13", 13}, {1531, "17", 17}, {1532, "21", 21}};
constexpr Choice kWindows[] = {{1034, "None", 0}, {1535, "Triangular", 1}, {1536, "Hamming", 3}};

template <size_t N> int ValueOf(const Choice (&table)[N], int id)
{
    for (const Choice &c : table)
        if (c.id == id)
            return c.value;
    return 0;
}

} // namespace

CSsFactorDlg::CSsFactorDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    resize(kPageWidth, kPageHeight);
    m_pGroup = zn::MakeGroupBox(this, 1515, QStringLiteral("Set Subsampling Factor"), 4, 4, 206, 54);
    m_pFactors = new zn::PushRadioGroup(this);
    for (int i = 0; i < 6; ++i)
        m_pFactors->Add(kFactors[i].id, QString::fromLatin1(kFactors[i].text), 12 + 32 * i, 26, 30);
    m_pApply = zn::MakeCheckBox(this, 1516, QStringLiteral("Apply Subsampling"), 8, 62, 200);
    m_pBlowUp = zn::MakeCheckBox(this, 1288, QStringLiteral("Blow-up Subsampled Image"), 8, 82, 200);
    m_pBlowUp->setChecked(true);
    m_pGroup->setEnabled(false);
    m_pFactors->SetEnabled(false);
    m_pBlowUp->setEnabled(false);
    connect(m_pApply, &QCheckBox::clicked, this, &CSsFactorDlg::OnApplySubsampling);
    connect(m_pFactors, &zn::PushRadioGroup::Clicked, this, &CSsFactorDlg::OnFactor);
    connect(m_pBlowUp, &QCheckBox::clicked, this, &CSsFactorDlg::OnBlowUp);
}

void CSsFactorDlg::OnApplySubsampling()
{
    const bool on = m_pApply->isChecked();
    m_pGroup->setEnabled(on);
    m_pFactors->SetEnabled(on);
    m_pBlowUp->setEnabled(on); // keeps its check either way
    if (on) {
        m_pFactors->Select(kFactors[0].id);
        m_nFactor = 2;
    } else {
        m_pFactors->Clear();
        m_nFactor = 0;
    }
    NotifyOwner(WM_SS_FACTOR_CHANGED);
}

void CSsFactorDlg::OnFactor(int id)
{
    const int factor = ValueOf(kFactors, id);
    if (factor == m_nFactor)
        return;
    m_nFactor = factor;
    NotifyOwner(WM_SS_FACTOR_CHANGED);
}

void CSsFactorDlg::OnBlowUp()
{
    m_nBlowUp = m_pBlowUp->isChecked() ? 1 : 0;
    NotifyOwner(WM_SS_FACTOR_CHANGED);
}

CSsFilterDlg::CSsFilterDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    resize(kPageWidth, kPageHeight);
    m_pGroup = zn::MakeGroupBox(this, 1527, QStringLiteral("Set Number of Taps"), 4, 4, 206, 54);
    m_pTaps = new zn::PushRadioGroup(this);
    for (int i = 0; i < 5; ++i)
        m_pTaps->Add(kTaps[i].id, QString::fromLatin1(kTaps[i].text), 12 + 38 * i, 26, 34);
    m_pApply = zn::MakeCheckBox(this, 1526, QStringLiteral("Apply anti-alias filter"), 8, 62, 200);
    m_pGroup->setEnabled(false);
    m_pTaps->SetEnabled(false);
    connect(m_pApply, &QCheckBox::clicked, this, &CSsFilterDlg::OnApplyFilter);
    connect(m_pTaps, &zn::PushRadioGroup::Clicked, this, &CSsFilterDlg::OnTaps);
}

void CSsFilterDlg::SetFilterOnWithFiveTaps()
{
    m_pApply->setChecked(true);
    m_pTaps->Select(kTaps[0].id);
    m_pTaps->SetEnabled(true);
    m_pGroup->setEnabled(true);
    m_nTaps = 5;
}

void CSsFilterDlg::OnApplyFilter()
{
    const bool on = m_pApply->isChecked();
    m_pGroup->setEnabled(on);
    m_pTaps->SetEnabled(on);
    if (on) {
        m_pTaps->Select(kTaps[0].id);
        m_nTaps = 5;
    } else {
        m_pTaps->Clear();
        m_nTaps = 0;
    }
    NotifyOwner(WM_SS_FILTER_CHANGED);
}

void CSsFilterDlg::OnTaps(int id)
{
    const int taps = ValueOf(kTaps, id);
    if (taps == m_nTaps)
        return;
    m_nTaps = taps;
    NotifyOwner(WM_SS_FILTER_CHANGED);
}

CSsSpectrumDlg::CSsSpectrumDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    resize(kPageWidth, kPageHeight);
    m_pGroup = zn::MakeGroupBox(this, 1033, QStringLiteral("Tapering Type"), 4, 4, 206, 54);
    m_pWindows = new zn::PushRadioGroup(this);
    for (int i = 0; i < 3; ++i)
        m_pWindows->Add(kWindows[i].id, QString::fromLatin1(kWindows[i].text), 12 + 64 * i, 26, 60);
    m_pShow = zn::MakeCheckBox(this, 1832, QStringLiteral("Show Spectrum"), 8, 62, 200);
    m_pShow->setChecked(true);
    m_pWindows->Select(kWindows[0].id);
    connect(m_pShow, &QCheckBox::clicked, this, &CSsSpectrumDlg::OnShowSpectrum);
    connect(m_pWindows, &zn::PushRadioGroup::Clicked, this, &CSsSpectrumDlg::OnWindow);
}

void CSsSpectrumDlg::OnShowSpectrum()
{
    const bool on = m_pShow->isChecked();
    m_pGroup->setEnabled(on);
    m_pWindows->SetEnabled(on);
    if (on) {
        m_pWindows->Select(kWindows[0].id);
        m_nWindow = 0;
    } else {
        m_pWindows->Clear();
        m_nWindow = -1;
    }
    NotifyOwner(WM_SS_SPECTRUM_CHANGED);
}

void CSsSpectrumDlg::OnWindow(int id)
{
    const int window = ValueOf(kWindows, id);
    if (window == m_nWindow)
        return;
    m_nWindow = window;
    NotifyOwner(WM_SS_SPECTRUM_CHANGED);
}
