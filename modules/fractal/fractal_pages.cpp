// Fractal tab pages. The size page's range rule keeps the quadtree's smallest block no larger than
// its largest; the spin pages only accept the values their spin controls can reach.
#include "modules/fractal/fractal_pages.h"

#include "shell/dialog_support.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

// Radio ids of the size rows, from block 2 up to 128.
constexpr int kMaxIds[7] = {1085, 1084, 1083, 1082, 1081, 1080, 1079};
constexpr int kMinIds[7] = {1092, 1091, 1090, 1089, 1088, 1087, 1086};
// Bits 1 to 8.
constexpr int kScalingIds[8] = {1062, 1061, 1060, 1059, 1558, 1557, 1556, 1890};
constexpr int kOffsetIds[8] = {1065, 1066, 1067, 1068, 1069, 1070, 1071, 1072};

int IndexOf(const int *ids, int n, int id)
{
    for (int i = 0; i < n; ++i)
        if (ids[i] == id)
            return i;
    return -1;
}

// The radio of a block size: 2 is the first, 128 the seventh.
int SizeIndex(int size)
{
    int i = 0;
    while (i < 6 && (2 << i) < size)
        ++i;
    return i;
}

// A labelled row of push-like radios in a grid: the label in column 0, the buttons after it.
void AddRow(QWidget *page, QGridLayout *grid, int row, int labelId, const QString &label,
            zn::PushRadioGroup *group, const int *ids, int n, int firstValue, bool doubling)
{
    auto *l = new QLabel(label, page);
    zn::SetCtrlId(l, labelId);
    grid->addWidget(l, row, 0);
    int value = firstValue;
    for (int i = 0; i < n; ++i) {
        QPushButton *b = group->Add(ids[i], QString::number(value));
        b->setMinimumWidth(10);
        b->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        grid->addWidget(b, row, i + 1);
        value = doubling ? value * 2 : value + 1;
    }
}

QGroupBox *MakeGridGroup(QWidget *page, int id, const QString &text, QGridLayout **grid)
{
    auto *g = new QGroupBox(text, page);
    zn::SetCtrlId(g, id);
    *grid = new QGridLayout(g);
    (*grid)->setHorizontalSpacing(2);
    (*grid)->setContentsMargins(4, 4, 4, 4);
    return g;
}

} // namespace

CFICSizeDlg::CFICSizeDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pMax = new zn::PushRadioGroup(this);
    m_pMin = new zn::PushRadioGroup(this);
    QGridLayout *grid = nullptr;
    QGroupBox *group = MakeGridGroup(this, 1077, QStringLiteral("Set Block Size"), &grid);
    AddRow(this, grid, 0, 1078, QStringLiteral("Max"), m_pMax, kMaxIds, 7, 2, true);
    AddRow(this, grid, 1, 1093, QStringLiteral("Min"), m_pMin, kMinIds, 7, 2, true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addStretch();
    m_pMax->Select(kMaxIds[SizeIndex(m_nMax)]);
    m_pMin->Select(kMinIds[SizeIndex(m_nMin)]);
    ApplyRangeRule();
    connect(m_pMax, &zn::PushRadioGroup::Clicked, this, &CFICSizeDlg::OnMax);
    connect(m_pMin, &zn::PushRadioGroup::Clicked, this, &CFICSizeDlg::OnMin);
}

void CFICSizeDlg::OnMax(int id)
{
    const int size = 2 << IndexOf(kMaxIds, 7, id);
    if (size == m_nMax)
        return;
    m_nMax = size;
    ApplyRangeRule();
    NotifyOwner(WM_FIC_SIZE_CHANGED);
}

void CFICSizeDlg::OnMin(int id)
{
    const int size = 2 << IndexOf(kMinIds, 7, id);
    if (size == m_nMin)
        return;
    m_nMin = size;
    ApplyRangeRule();
    NotifyOwner(WM_FIC_SIZE_CHANGED);
}

void CFICSizeDlg::ApplyRangeRule()
{
    for (int i = 0; i < 7; ++i) {
        const int size = 2 << i;
        m_pMin->Buttons()[static_cast<size_t>(i)]->setEnabled(size <= m_nMax);
        m_pMax->Buttons()[static_cast<size_t>(i)]->setEnabled(size >= m_nMin);
    }
}

CFICSpinPage::CFICSpinPage(const Layout &layout, QWidget *parent)
    : CModulePage(layout.idd, parent), m_nValue(layout.initial), m_nMessage(layout.message)
{
    auto *group = new QGroupBox(QString::fromUtf8(layout.groupText), this);
    zn::SetCtrlId(group, layout.groupId);
    m_pSpin = new QSpinBox(group);
    zn::SetCtrlId(m_pSpin, layout.spinId);
    m_pEdit = m_pSpin->findChild<QLineEdit *>();
    zn::SetCtrlId(m_pEdit, layout.editId);
    m_pEdit->setReadOnly(true); // only the spin control writes it
    m_pSpin->setAlignment(Qt::AlignCenter);
    m_pSpin->setRange(layout.low, layout.high);
    m_pSpin->setValue(layout.initial);
    m_pSpin->setFixedWidth(64);
    auto *row = new QHBoxLayout(group);
    row->setContentsMargins(4, 4, 4, 4);
    row->addStretch();
    row->addWidget(m_pSpin);
    row->addStretch();
    auto *v = new QVBoxLayout(this);
    v->addWidget(group);
    v->addStretch();
    // The spin box updates its edit with the edit's own signals blocked and reports the new text itself.
    connect(m_pSpin, &QSpinBox::textChanged, this, &CFICSpinPage::OnEditChanged);
}

void CFICSpinPage::OnEditChanged()
{
    bool ok = false;
    const unsigned value = m_pEdit->text().toUInt(&ok);
    if (!ok || static_cast<int>(value) == m_nValue)
        return;
    m_nValue = static_cast<int>(value);
    NotifyOwner(m_nMessage);
}

CFICThresholdDlg::CFICThresholdDlg(QWidget *parent)
    : CFICSpinPage(
          {IDD, 1075, "Set rms Threshold for Splitting", 1285, 1286, 2, 50, 8, WM_FIC_THRESHOLD_CHANGED},
          parent)
{}

CFICIterationsDlg::CFICIterationsDlg(QWidget *parent)
    : CFICSpinPage(
          {IDD, 1073, "Set Number of Rec. Iterations", 1284, 1282, 1, 20, 8, WM_FIC_ITERATIONS_CHANGED},
          parent)
{}

CFICBitsDlg::CFICBitsDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pScaling = new zn::PushRadioGroup(this);
    m_pOffset = new zn::PushRadioGroup(this);
    QGridLayout *grid = nullptr;
    QGroupBox *group = MakeGridGroup(this, 1278, QStringLiteral("Set Number of Bits"), &grid);
    AddRow(this, grid, 0, 1279, QStringLiteral("Scaling"), m_pScaling, kScalingIds, 8, 1, false);
    AddRow(this, grid, 1, 1280, QStringLiteral("Offset"), m_pOffset, kOffsetIds, 8, 1, false);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addStretch();
    m_pScaling->Select(kScalingIds[m_nScaling - 1]);
    m_pOffset->Select(kOffsetIds[m_nOffset - 1]);
    connect(m_pScaling, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        const int bits = IndexOf(kScalingIds, 8, id) + 1;
        if (bits == m_nScaling)
            return;
        m_nScaling = bits;
        NotifyOwner(WM_FIC_SCALING_CHANGED);
    });
    connect(m_pOffset, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        const int bits = IndexOf(kOffsetIds, 8, id) + 1;
        if (bits == m_nOffset)
            return;
        m_nOffset = bits;
        NotifyOwner(WM_FIC_OFFSET_CHANGED);
    });
}
