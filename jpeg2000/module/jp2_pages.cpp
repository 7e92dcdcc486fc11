// The JPEG2000 dialog's pages. Options switched on by a check box (visual weighting, tiling, spatial
// boosting, spatial scaling) start with their choices disabled; switching one on picks its standard
// value. No page sends anything while it is being built.
#include "jpeg2000/module/jp2_pages.h"

#include "shell/dialog_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <vector>

namespace {

// The page's frame: a group box with the page's caption, and what it holds laid out inside it.
QVBoxLayout *PageFrame(QWidget *page, const QString &caption)
{
    auto *outer = new QVBoxLayout(page);
    outer->setContentsMargins(4, 4, 4, 4);
    auto *group = new QGroupBox(caption, page);
    outer->addWidget(group);
    outer->addStretch();
    auto *inner = new QVBoxLayout(group);
    inner->setContentsMargins(4, 4, 4, 4);
    inner->setSpacing(4);
    return inner;
}

// Buttons in rows of `columns`, optionally after a label on the first row.
QGridLayout *ButtonGrid(const std::vector<QPushButton *> &buttons, int columns, QLabel *label = nullptr)
{
    auto *grid = new QGridLayout;
    grid->setSpacing(2);
    const int first = label ? 1 : 0;
    if (label)
        grid->addWidget(label, 0, 0);
    for (size_t i = 0; i < buttons.size(); ++i)
        grid->addWidget(buttons[i], static_cast<int>(i) / columns, first + static_cast<int>(i) % columns);
    return grid;
}

QLabel *MakeLabel(QWidget *page, int id, const QString &text)
{
    auto *l = new QLabel(text, page);
    if (id)
        zn::SetCtrlId(l, id);
    return l;
}

std::vector<QPushButton *> AddButtons(zn::PushRadioGroup *group, const int *ids, const char *const *texts,
                                      int count)
{
    std::vector<QPushButton *> buttons;
    for (int i = 0; i < count; ++i)
        buttons.push_back(group->Add(ids[i], QString::fromLatin1(texts[i])));
    return buttons;
}

const char *const kRateTexts[kJp2RateCount] = {"0.05", "0.1",  "0.2", "0.3", "0.4",
                                               "0.5",  "0.75", "1.0", "1.5", "3.0"};

int IndexOf(const int *ids, int count, int id)
{
    for (int i = 0; i < count; ++i)
        if (ids[i] == id)
            return i;
    return -1;
}

} // namespace

// ---- encoding rate ------------------------------------------------------------------------------

Jpeg2000EncRateDlg::Jpeg2000EncRateDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pRates = new zn::PushRadioGroup(this);
    const auto buttons = AddButtons(m_pRates, kIds, kRateTexts, kJp2RateCount);
    PageFrame(this, QStringLiteral("Set Encoding Bitrate (bpp)"))->addLayout(ButtonGrid(buttons, 5));
    m_pRates->Select(kIds[5]);
    connect(m_pRates, &zn::PushRadioGroup::Clicked, this, &Jpeg2000EncRateDlg::OnRate);
}

void Jpeg2000EncRateDlg::OnRate(int id)
{
    const float rate = kJp2Rates[IndexOf(kIds, kJp2RateCount, id)];
    if (rate == m_fRate)
        return;
    m_fRate = rate;
    NotifyOwner(WM_JP2_ENCRATE);
}

// ---- quantisation -------------------------------------------------------------------------------

namespace {
constexpr int kBlockIds[] = {1565, 1566, 1567, 1568, 1569};
const char *const kBlockTexts[] = {"4", "8", "16", "32", "64"};
constexpr int kBlockSizes[] = {4, 8, 16, 32, 64};
} // namespace

Jpeg2000QuantDlg::Jpeg2000QuantDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pSizes = new zn::PushRadioGroup(this);
    const auto buttons = AddButtons(m_pSizes, kBlockIds, kBlockTexts, 5);
    m_pLossless = zn::MakeCheckBox(this, 2177, QStringLiteral("Lossless quant."));
    m_pSnrLayers = zn::MakeCheckBox(this, 2178, QStringLiteral("SNR layers"));
    QVBoxLayout *frame = PageFrame(this, QStringLiteral("Set Quantization"));
    auto *checks = new QHBoxLayout;
    checks->addWidget(m_pLossless);
    checks->addWidget(m_pSnrLayers);
    frame->addLayout(checks);
    frame->addWidget(MakeLabel(this, 0, QStringLiteral("Codeblock:")));
    frame->addLayout(ButtonGrid(buttons, 5));
    m_pSizes->Select(1568);
    connect(m_pSizes, &zn::PushRadioGroup::Clicked, this, &Jpeg2000QuantDlg::OnCodeBlock);
    connect(m_pLossless, &QCheckBox::clicked, this, [this](bool on) {
        m_bLossless = on ? 1 : 0;
        NotifyOwner(WM_JP2_QUANT);
    });
    connect(m_pSnrLayers, &QCheckBox::clicked, this, [this](bool on) {
        m_bSnrLayers = on ? 1 : 0;
        NotifyOwner(WM_JP2_QUANT);
    });
}

void Jpeg2000QuantDlg::OnCodeBlock(int id)
{
    const int size = kBlockSizes[IndexOf(kBlockIds, 5, id)];
    if (size == m_nCodeBlock)
        return;
    m_nCodeBlock = size;
    NotifyOwner(WM_JP2_QUANT);
}

// ---- levels -------------------------------------------------------------------------------------

namespace {
// The buttons show resolution levels 2..9: one more than the decomposition levels they set.
constexpr int kLevelIds[] = {2173, 1556, 2175, 2176, 1559, 1560, 1561, 1562};
const char *const kLevelTexts[] = {"2", "3", "4", "5", "6", "7", "8", "9"};
} // namespace

Jpeg2000LevelsDlg::Jpeg2000LevelsDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pLevels = new zn::PushRadioGroup(this);
    const auto buttons = AddButtons(m_pLevels, kLevelIds, kLevelTexts, 8);
    m_pReversible = zn::MakeCheckBox(this, 2167, QStringLiteral("Perfect reconstruction filterbank"));
    QVBoxLayout *frame = PageFrame(this, QStringLiteral("Number of Resolution Levels"));
    frame->addLayout(ButtonGrid(buttons, 4));
    frame->addWidget(m_pReversible);
    m_pLevels->Select(2176);
    connect(m_pLevels, &zn::PushRadioGroup::Clicked, this, &Jpeg2000LevelsDlg::OnLevels);
    connect(m_pReversible, &QCheckBox::clicked, this, [this](bool on) {
        m_bReversible = on ? 1 : 0;
        NotifyOwner(WM_JP2_LEVELS);
    });
}

void Jpeg2000LevelsDlg::OnLevels(int id)
{
    const int levels = IndexOf(kLevelIds, 8, id) + 1;
    if (levels == m_nLevels)
        return;
    m_nLevels = levels;
    NotifyOwner(WM_JP2_LEVELS);
}

void Jpeg2000LevelsDlg::EnableShallowLevels(bool enable)
{
    for (int id : {kLevelIds[0], kLevelIds[1]})
        if (QWidget *b = GetDlgItem(id))
            b->setEnabled(enable);
}

// ---- decoding rate ------------------------------------------------------------------------------

Jpeg2000DecRateDlg::Jpeg2000DecRateDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pRates = new zn::PushRadioGroup(this);
    const auto buttons = AddButtons(m_pRates, kIds, kRateTexts, kJp2RateCount);
    PageFrame(this, QStringLiteral("Set Decoding Bitrate (bpp)"))->addLayout(ButtonGrid(buttons, 5));
    m_pRates->Select(kIds[5]);
    // Rates above the initial encoding rate cannot be decoded.
    for (int i = 6; i < kJp2RateCount; ++i)
        buttons[size_t(i)]->setEnabled(false);
    connect(m_pRates, &zn::PushRadioGroup::Clicked, this, &Jpeg2000DecRateDlg::OnRate);
}

void Jpeg2000DecRateDlg::OnRate(int id)
{
    const float rate = kJp2Rates[IndexOf(kIds, kJp2RateCount, id)];
    if (rate == m_fRate)
        return;
    m_fRate = rate;
    NotifyOwner(WM_JP2_DECOPT);
}

void Jpeg2000DecRateDlg::EnableAllRates()
{
    m_pRates->SetEnabled(true);
}

void Jpeg2000DecRateDlg::ClearAllRates()
{
    m_pRates->Clear();
}

void Jpeg2000DecRateDlg::DisableRate(int index)
{
    QPushButton *b = m_pRates->Buttons()[size_t(index)];
    b->setEnabled(false);
    b->setChecked(false);
}

void Jpeg2000DecRateDlg::SelectRate(int index, bool setRate)
{
    m_pRates->Select(kIds[index]);
    if (setRate)
        m_fRate = kJp2Rates[index];
}

// ---- visual weighting ---------------------------------------------------------------------------

namespace {
constexpr int kExponentIds[] = {1575, 1576, 1577, 1578, 1579};
const char *const kExponentTexts[] = {"0.3", "0.4", "0.5", "0.6", "0.7"};
constexpr float kExponents[] = {0.3f, 0.4f, 0.5f, 0.6f, 0.7f};
} // namespace

Jpeg2000VisWeightDlg::Jpeg2000VisWeightDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pExponents = new zn::PushRadioGroup(this);
    const auto buttons = AddButtons(m_pExponents, kExponentIds, kExponentTexts, 5);
    m_pOn = zn::MakeCheckBox(this, 1573, QStringLiteral("Exponential visual weighing"));
    m_pLabel = MakeLabel(this, 1574, QStringLiteral("Exp."));
    QVBoxLayout *frame = PageFrame(this, QStringLiteral("Set Visual Weighing"));
    frame->addWidget(m_pOn);
    frame->addLayout(ButtonGrid(buttons, 5, m_pLabel));
    m_pLabel->setEnabled(false);
    m_pExponents->SetEnabled(false);
    connect(m_pOn, &QCheckBox::clicked, this, &Jpeg2000VisWeightDlg::OnSwitch);
    connect(m_pExponents, &zn::PushRadioGroup::Clicked, this, &Jpeg2000VisWeightDlg::OnExponent);
}

void Jpeg2000VisWeightDlg::OnSwitch()
{
    m_bOn = m_pOn->isChecked() ? 1 : 0;
    m_pLabel->setEnabled(m_bOn);
    m_pExponents->SetEnabled(m_bOn);
    if (m_bOn) {
        m_fExponent = 0.5f;
        m_pExponents->Select(1577);
    }
    NotifyOwner(WM_JP2_VISMASK);
}

void Jpeg2000VisWeightDlg::OnExponent(int id)
{
    const float e = kExponents[IndexOf(kExponentIds, 5, id)];
    if (e == m_fExponent)
        return;
    m_fExponent = e;
    NotifyOwner(WM_JP2_VISMASK);
}

// ---- tiling -------------------------------------------------------------------------------------

namespace {
constexpr int kTileIds[] = {2179, 2180, 2182, 1570};
const char *const kTileTexts[] = {"16", "32", "64", "128"};
constexpr int kTileSizes[] = {16, 32, 64, 128};
} // namespace

Jpeg2000TilingDlg::Jpeg2000TilingDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pSizes = new zn::PushRadioGroup(this);
    const auto buttons = AddButtons(m_pSizes, kTileIds, kTileTexts, 4);
    m_pOn = zn::MakeCheckBox(this, 2181, QStringLiteral("Image tiling"));
    m_pLabel = MakeLabel(this, 1571, QStringLiteral("Tile size"));
    QVBoxLayout *frame = PageFrame(this, QStringLiteral("Set Image tiling"));
    frame->addWidget(m_pOn);
    frame->addLayout(ButtonGrid(buttons, 4, m_pLabel));
    m_pLabel->setEnabled(false);
    m_pSizes->SetEnabled(false);
    connect(m_pOn, &QCheckBox::clicked, this, &Jpeg2000TilingDlg::OnSwitch);
    connect(m_pSizes, &zn::PushRadioGroup::Clicked, this, &Jpeg2000TilingDlg::OnSize);
}

void Jpeg2000TilingDlg::OnSwitch()
{
    m_bOn = m_pOn->isChecked() ? 1 : 0;
    m_pLabel->setEnabled(m_bOn);
    m_pSizes->SetEnabled(m_bOn);
    if (m_bOn) {
        m_nTileSize = 64;
        m_pSizes->Select(2182);
    }
    NotifyOwner(WM_JP2_TILING);
}

void Jpeg2000TilingDlg::OnSize(int id)
{
    const int size = kTileSizes[IndexOf(kTileIds, 4, id)];
    if (size == m_nTileSize)
        return;
    m_nTileSize = size;
    NotifyOwner(WM_JP2_TILING);
}

// ---- spatial boosting ---------------------------------------------------------------------------

namespace {
constexpr float kRadii[] = {0.05f, 0.1f, 0.15f, 0.2f, 0.25f, 0.3f};
constexpr int kFactors[] = {2, 3, 4, 5, 10, 20, 30};
} // namespace

Jpeg2000RoiDlg::Jpeg2000RoiDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pOn = zn::MakeCheckBox(this, 1581, QStringLiteral("Boost circular region"));
    m_pRadiusLabel = MakeLabel(this, 1582, QStringLiteral("Radius"));
    m_pFactorLabel = MakeLabel(this, 1583, QStringLiteral("Factor"));
    m_pRadius = new QComboBox(this);
    zn::SetCtrlId(m_pRadius, 1584);
    m_pRadius->addItems({"0.05", "0.10", "0.15", "0.20", "0.25", "0.30"});
    m_pFactor = new QComboBox(this);
    zn::SetCtrlId(m_pFactor, 1585);
    m_pFactor->addItems({"2", "3", "4", "5", "10", "20", "30"});
    m_pRadius->setCurrentIndex(3);
    m_pFactor->setCurrentIndex(3);
    QVBoxLayout *frame = PageFrame(this, QStringLiteral("Set Spatial Boosting"));
    frame->addWidget(m_pOn);
    auto *lists = new QGridLayout;
    lists->addWidget(m_pRadiusLabel, 0, 0);
    lists->addWidget(m_pRadius, 0, 1);
    lists->addWidget(m_pFactorLabel, 1, 0);
    lists->addWidget(m_pFactor, 1, 1);
    frame->addLayout(lists);
    EnableControls(false);
    connect(m_pOn, &QCheckBox::clicked, this, &Jpeg2000RoiDlg::OnSwitch);
    connect(m_pRadius, &QComboBox::activated, this, &Jpeg2000RoiDlg::OnRadius);
    connect(m_pFactor, &QComboBox::activated, this, &Jpeg2000RoiDlg::OnFactor);
}

void Jpeg2000RoiDlg::EnableControls(bool enable)
{
    for (QWidget *w : std::initializer_list<QWidget *>{m_pRadiusLabel, m_pFactorLabel, m_pRadius, m_pFactor})
        w->setEnabled(enable);
}

void Jpeg2000RoiDlg::OnSwitch()
{
    m_bOn = m_pOn->isChecked() ? 1 : 0;
    if (m_bOn) {
        m_fRadius = 0.2f;
        m_nFactor = 5;
        m_pRadius->setCurrentIndex(3);
        m_pFactor->setCurrentIndex(3);
    }
    EnableControls(m_bOn);
    NotifyOwner(WM_JP2_ROI);
}

void Jpeg2000RoiDlg::OnRadius(int index)
{
    if (index < 0 || index >= 6)
        return;
    m_fRadius = kRadii[index];
    NotifyOwner(WM_JP2_ROI);
}

void Jpeg2000RoiDlg::OnFactor(int index)
{
    if (index < 0 || index >= 7)
        return;
    m_nFactor = kFactors[index];
    NotifyOwner(WM_JP2_ROI);
}

// ---- scalable decoding --------------------------------------------------------------------------

namespace {
constexpr int kScaleIds[] = {2156, 2157, 2158};
const char *const kScaleTexts[] = {"2", "4", "8"};
} // namespace

Jpeg2000ScalDecDlg::Jpeg2000ScalDecDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pFactors = new zn::PushRadioGroup(this);
    const auto buttons = AddButtons(m_pFactors, kScaleIds, kScaleTexts, 3);
    m_pOn = zn::MakeCheckBox(this, 1517, QStringLiteral("Spatial scaling"));
    QVBoxLayout *frame = PageFrame(this, QStringLiteral("Scalable Decoding Options"));
    frame->addWidget(m_pOn);
    frame->addLayout(ButtonGrid(buttons, 3));
    m_pFactors->Select(2156);
    m_pFactors->SetEnabled(false);
    connect(m_pOn, &QCheckBox::clicked, this, &Jpeg2000ScalDecDlg::OnSwitch);
    connect(m_pFactors, &zn::PushRadioGroup::Clicked, this, &Jpeg2000ScalDecDlg::OnFactor);
}

void Jpeg2000ScalDecDlg::OnSwitch()
{
    const bool on = m_pOn->isChecked();
    m_pFactors->SetEnabled(on);
    if (on) {
        m_nScaling = 1;
    } else {
        m_nScaling = 0;
        m_pFactors->Select(2156);
    }
    NotifyOwner(WM_JP2_SCALDEC);
}

void Jpeg2000ScalDecDlg::OnFactor(int id)
{
    const int choice = IndexOf(kScaleIds, 3, id) + 1;
    if (choice == m_nScaling)
        return;
    m_nScaling = choice;
    NotifyOwner(WM_JP2_SCALDEC);
}
