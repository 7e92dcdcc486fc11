// The JPEG dialog's parameter pages. Radio buttons are push-like; a radio notifies its owner only
// when its value changes, the two check boxes on every click. Restart markers and channel errors
// start switched off, with their choices disabled until the check box is ticked.
#include "modules/jpeg/jpeg_pages.h"

#include "platform/format.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

namespace {

QVBoxLayout *PageLayout(QWidget *page)
{
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(4, 4, 4, 4);
    return layout;
}

// An option switched on by a check box enables its choices and selects selectId; switched off, it
// disables and clears them.
void SwitchChoices(QGroupBox *group, zn::PushRadioGroup *choices, bool on, int selectId)
{
    group->setEnabled(on);
    choices->SetEnabled(on);
    if (on)
        choices->Select(selectId);
    else
        choices->Clear();
}

// A page of a check box above the group of choices it switches; the option starts off.
void SwitchedOptionPage(QWidget *page, QCheckBox *check, QGroupBox *group, zn::PushRadioGroup *choices)
{
    QVBoxLayout *layout = PageLayout(page);
    layout->addWidget(check);
    layout->addWidget(group);
    layout->addStretch();
    SwitchChoices(group, choices, false, 0);
}

} // namespace

// ---- up-down control ----------------------------------------------------------------------------

CUpDownCtrl::CUpDownCtrl(int id, QLineEdit *buddy, QWidget *parent) : QWidget(parent), m_pBuddy(buddy)
{
    zn::SetCtrlId(this, id);
    auto *up = new QToolButton(this);
    auto *down = new QToolButton(this);
    up->setArrowType(Qt::UpArrow);
    down->setArrowType(Qt::DownArrow);
    for (QToolButton *b : {up, down}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setFixedSize(18, 12);
    }
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(up);
    column->addWidget(down);
    connect(up, &QToolButton::clicked, this, [this] { Step(+1); });
    connect(down, &QToolButton::clicked, this, [this] { Step(-1); });
    m_pBuddy->installEventFilter(this);
}

void CUpDownCtrl::SetRange(int lower, int upper)
{
    m_nLower = lower;
    m_nUpper = upper;
}

void CUpDownCtrl::SetPos(int pos)
{
    m_nPos = std::clamp(pos, std::min(m_nLower, m_nUpper), std::max(m_nLower, m_nUpper));
    m_pBuddy->setText(QString::number(m_nPos));
}

void CUpDownCtrl::Step(int delta)
{
    emit deltaPos(delta);
    const int next = std::clamp(m_nPos + delta, m_nLower, m_nUpper);
    if (next != m_nPos)
        SetPos(next);
}

bool CUpDownCtrl::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_pBuddy && event->type() == QEvent::KeyPress && isEnabled()) {
        // The arrow keys step by one; Page Up and Page Down by ten, as in a spin box, so that a
        // quality far from the start is a few presses away.
        switch (static_cast<QKeyEvent *>(event)->key()) {
        case Qt::Key_Up:
            Step(+1);
            return true;
        case Qt::Key_Down:
            Step(-1);
            return true;
        case Qt::Key_PageUp:
            Step(+kPageStep);
            return true;
        case Qt::Key_PageDown:
            Step(-kPageStep);
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Bitrate ------------------------------------------------------------------------------------

CJpgBitrateDlg::CJpgBitrateDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pMode = new zn::PushRadioGroup(this);
    QPushButton *quality = m_pMode->Add(1320, QStringLiteral("Quality"));
    QPushButton *bitrate = m_pMode->Add(1321, QStringLiteral("Bitrate"));
    m_pEdit = Ctrl(new QLineEdit(this), 1327);
    m_pEdit->setReadOnly(true);
    m_pEdit->setAlignment(Qt::AlignCenter);
    m_pEdit->setMaximumWidth(56);
    m_pUpDown = new CUpDownCtrl(1326, m_pEdit, this);

    m_pGroup = new QGroupBox(QStringLiteral("Set Quality"), this);
    zn::SetCtrlId(m_pGroup, 1319);
    auto *row = new QHBoxLayout(m_pGroup);
    row->setSpacing(2);
    row->setContentsMargins(4, 4, 4, 4);
    row->addWidget(quality);
    row->addWidget(bitrate);
    row->addSpacing(8);
    row->addWidget(m_pEdit);
    row->addWidget(m_pUpDown);
    QVBoxLayout *layout = PageLayout(this);
    layout->addWidget(m_pGroup);
    layout->addStretch();

    m_pMode->Select(1320);
    m_pUpDown->SetRange(1, 100);
    m_pUpDown->SetPos(75);
    connect(m_pMode, &zn::PushRadioGroup::Clicked, this,
            [this](int id) { id == 1320 ? OnQuality() : OnBitrate(); });
    connect(m_pUpDown, &CUpDownCtrl::deltaPos, this, [this] { m_bArrowClicked = true; });
    connect(m_pEdit, &QLineEdit::textChanged, this, &CJpgBitrateDlg::OnChangeEdit);
}

void CJpgBitrateDlg::OnQuality()
{
    if (m_nQualityMode == 1)
        return;
    m_pGroup->setTitle(QStringLiteral("Set Quality"));
    m_nQualityMode = 1;
    m_pUpDown->SetRange(1, 100);
    m_pUpDown->SetPos(75);
    m_nQuality = 75;
    NotifyOwner(WM_JPG_BITRATE_CHANGED);
}

void CJpgBitrateDlg::OnBitrate()
{
    if (m_nQualityMode == 0)
        return;
    // The mode changes first, so that the edit texts written below are not taken as qualities.
    m_nQualityMode = 0;
    m_bArrowClicked = false;
    m_pGroup->setTitle(QStringLiteral("Set Bitrate"));
    m_pUpDown->SetRange(1, 80);
    m_pUpDown->SetPos(15);
    m_pEdit->setText(QStringLiteral("1.5"));
    m_fBitrate = 1.5f;
    NotifyOwner(WM_JPG_BITRATE_CHANGED);
}

void CJpgBitrateDlg::OnChangeEdit()
{
    if (m_nQualityMode == 1) {
        bool ok = false;
        const uint quality = m_pEdit->text().toUInt(&ok);
        if (ok && static_cast<int>(quality) != m_nQuality) {
            m_nQuality = static_cast<int>(quality);
            NotifyOwner(WM_JPG_BITRATE_CHANGED);
        }
        return;
    }
    // In bit-rate mode the arrows' integer n stands for n / 10 bits per pixel; only the change that
    // follows an arrow click is taken (the rewritten text changes the edit once more).
    if (!m_bArrowClicked)
        return;
    m_bArrowClicked = false;
    const int n = m_pUpDown->GetPos();
    m_pEdit->setText(QString::fromStdString(zn::Format("%1.1f", n * 0.1)));
    const float target = static_cast<float>(n) * 0.1f;
    if (target != m_fBitrate) {
        m_fBitrate = target;
        NotifyOwner(WM_JPG_BITRATE_CHANGED);
    }
}

// ---- Quant --------------------------------------------------------------------------------------

CJpgQuantDlg::CJpgQuantDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pTables = new zn::PushRadioGroup(this);
    const std::vector<QPushButton *> tables = {
        m_pTables->Add(1301, QStringLiteral("Standard Y")), m_pTables->Add(1302, QStringLiteral("Std UV")),
        m_pTables->Add(1303, QStringLiteral("Flat")), m_pTables->Add(1304, QStringLiteral("Highpass")),
        m_pTables->Add(IDC_PERCEPTUAL, QStringLiteral("Percept. optim."))};
    QVBoxLayout *layout = PageLayout(this);
    layout->addWidget(zn::MakeButtonGrid(this, 1300, QStringLiteral("Set Quantization Matrix"), tables, 2));
    layout->addStretch();
    m_pTables->Select(1301);
    connect(m_pTables, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        const int table = id == IDC_PERCEPTUAL ? 4 : id - 1301;
        if (table != m_nQuantTable) {
            m_nQuantTable = table;
            NotifyOwner(WM_JPG_QUANT_CHANGED);
        }
    });
}

// ---- Huffman ------------------------------------------------------------------------------------

CJpgHuffmanDlg::CJpgHuffmanDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pModes = new zn::PushRadioGroup(this);
    const std::vector<QPushButton *> modes = {m_pModes->Add(1305, QStringLiteral("FLC")),
                                              m_pModes->Add(1306, QStringLiteral("Standard VLC")),
                                              m_pModes->Add(1307, QStringLiteral("Optimal VLC"))};
    QVBoxLayout *layout = PageLayout(this);
    layout->addWidget(zn::MakeButtonGrid(this, 1308, QStringLiteral("Set Huffman Coding"), modes, 2));
    layout->addStretch();
    m_pModes->Select(1306);
    connect(m_pModes, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        if (id - 1305 != m_nHuffman) {
            m_nHuffman = id - 1305;
            NotifyOwner(WM_JPG_HUFFMAN_CHANGED);
        }
    });
}

// ---- Smooth -------------------------------------------------------------------------------------

CJpgSmoothDlg::CJpgSmoothDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    auto *group = new QGroupBox(QStringLiteral("Set Smoothing Preferences"), this);
    zn::SetCtrlId(group, 1293);
    m_pSmooth = zn::MakeCheckBox(this, 1295, QStringLiteral("Smooth Output"));
    auto *inner = new QVBoxLayout(group);
    inner->setContentsMargins(8, 4, 4, 4);
    inner->addWidget(m_pSmooth);
    QVBoxLayout *layout = PageLayout(this);
    layout->addWidget(group);
    layout->addStretch();
    connect(m_pSmooth, &QCheckBox::clicked, this, [this] {
        m_nSmoothing = m_pSmooth->isChecked() ? 1 : 0;
        NotifyOwner(WM_JPG_SMOOTHING_CHANGED);
    });
}

// ---- Markers ------------------------------------------------------------------------------------

namespace {

struct RestartChoice
{
    int id, value, unit;
};
constexpr RestartChoice kRestartChoices[] = {{1315, 1, 0}, {1316, 1, 1}, {1317, 10, 1}};

} // namespace

CJpgMarkersDlg::CJpgMarkersDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pMarkers = zn::MakeCheckBox(this, 1318, QStringLiteral("Restart Markers"));
    m_pAfter = new zn::PushRadioGroup(this);
    const std::vector<QPushButton *> after = {m_pAfter->Add(1315, QStringLiteral("Each Block")),
                                              m_pAfter->Add(1316, QStringLiteral("Each Row")),
                                              m_pAfter->Add(1317, QStringLiteral("10 Rows"))};
    m_pGroup = zn::MakeButtonGrid(this, 1314, QStringLiteral("Restart Markers After"), after, 3);
    SwitchedOptionPage(this, m_pMarkers, m_pGroup, m_pAfter);
    connect(m_pMarkers, &QCheckBox::clicked, this, &CJpgMarkersDlg::OnRestartMarkers);
    connect(m_pAfter, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        for (const RestartChoice &c : kRestartChoices)
            if (c.id == id && (c.value != m_nRestartValue || c.unit != m_nRestartUnit)) {
                m_nRestartValue = c.value;
                m_nRestartUnit = c.unit;
                NotifyOwner(WM_JPG_MARKERS_CHANGED);
            }
    });
}

void CJpgMarkersDlg::OnRestartMarkers()
{
    const bool on = m_pMarkers->isChecked();
    SwitchChoices(m_pGroup, m_pAfter, on, 1316); // each row
    m_nRestartValue = on ? 1 : 0;
    m_nRestartUnit = on ? 1 : 0;
    NotifyOwner(WM_JPG_MARKERS_CHANGED);
}

// ---- Errors -------------------------------------------------------------------------------------

namespace {

constexpr zn::IdValue kProbabilities[] = {{1310, 0.001f}, {1311, 0.0005f}, {1312, 0.0001f}, {1313, 0.00005f}};

} // namespace

CJpgErrorsDlg::CJpgErrorsDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pSimulate = zn::MakeCheckBox(this, 1019, QStringLiteral("Simulate Channel Errors"));
    m_pProb = new zn::PushRadioGroup(this);
    const std::vector<QPushButton *> probs = {
        m_pProb->Add(1310, QStringLiteral(".001")), m_pProb->Add(1311, QStringLiteral(".0005")),
        m_pProb->Add(1312, QStringLiteral(".0001")), m_pProb->Add(1313, QStringLiteral(".00005"))};
    m_pGroup = zn::MakeButtonGrid(this, 1309, QStringLiteral("Set Channel Error Probability"), probs, 4);
    SwitchedOptionPage(this, m_pSimulate, m_pGroup, m_pProb);
    connect(m_pSimulate, &QCheckBox::clicked, this, &CJpgErrorsDlg::OnSimulateErrors);
    connect(m_pProb, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        for (const zn::IdValue &p : kProbabilities)
            if (p.id == id && p.value != m_fErrorProb) {
                m_fErrorProb = p.value;
                NotifyOwner(WM_JPG_ERRORS_CHANGED);
            }
    });
}

void CJpgErrorsDlg::OnSimulateErrors()
{
    const bool on = m_pSimulate->isChecked();
    SwitchChoices(m_pGroup, m_pProb, on, 1313); // .00005
    m_fErrorProb = on ? 0.00005f : 0.0f;
    NotifyOwner(WM_JPG_ERRORS_CHANGED);
}
