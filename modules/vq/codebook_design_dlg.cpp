// The codebook-design dialog: parameter radios with the range and size rules, Apply running the
// Lloyd design under the wait cursor, Save Codebook writing the .cbk file, OK once one was saved.
#include "modules/vq/codebook_design_dlg.h"

#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/common/file_dialog.h"
#include "modules/common/module_apply.h"
#include "modules/common/module_controls.h"
#include "modules/vq/vq_design.h"
#include "platform/format.h"
#include "platform/qt/gui_platform.h"
#include "shell/doc_app.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <cmath>
#include <span>

namespace {

constexpr zn::IdValue kWidths[] = {{1235, 2}, {1234, 4}, {1233, 6}, {1232, 8}, {1898, 10}};
constexpr zn::IdValue kHeights[] = {{1237, 2}, {1238, 4}, {1239, 6}, {1240, 8}, {1149, 10}};
constexpr zn::IdValue kMins[] = {{1243, 1}, {1244, 2}, {1245, 3}, {1246, 4},  {1247, 5},  {1248, 6},
                                 {1249, 7}, {1250, 8}, {1251, 9}, {1252, 10}, {1336, 11}, {1337, 12}};
constexpr zn::IdValue kMaxs[] = {{1892, 1}, {2169, 2}, {2170, 3}, {2171, 4},  {1554, 5},  {1894, 6},
                                 {2172, 7}, {2174, 8}, {1895, 9}, {1896, 10}, {1338, 11}, {1339, 12}};
constexpr zn::IdValue kIterations[] = {{1268, 10}, {1267, 20}, {1266, 30}, {1269, 50}, {1265, 100}};
constexpr zn::IdValue kThresholds[] = {{1272, 1.0f}, {1273, 0.1f}, {1274, 0.01f}, {1275, 0.001f}};
constexpr zn::IdValue kInits[] = {{1270, 1}, {1271, 2}};

float ValueOf(std::span<const zn::IdValue> table, int id)
{
    for (const zn::IdValue &e : table)
        if (e.id == id)
            return e.value;
    return 0;
}

int IdOf(std::span<const zn::IdValue> table, float value)
{
    for (const zn::IdValue &e : table)
        if (e.value == value)
            return e.id;
    return 0;
}

QWidget *ButtonOf(zn::PushRadioGroup *group, int id)
{
    for (QPushButton *b : group->Buttons())
        if (zn::CtrlId(b) == id)
            return b;
    return nullptr;
}

zn::PushRadioGroup *AddRow(QWidget *parent, QGridLayout *grid, int row, std::span<const zn::IdValue> table,
                           const char *const *texts)
{
    auto *group = new zn::PushRadioGroup(parent);
    for (size_t i = 0; i < table.size(); ++i) {
        QPushButton *b = group->Add(table[i].id, QString::fromLatin1(texts[i]));
        b->setMinimumWidth(30);
        grid->addWidget(b, row, static_cast<int>(i) + 1);
    }
    return group;
}

QGroupBox *Group(QWidget *parent, int id, const char *text, QGridLayout **grid)
{
    auto *g = new QGroupBox(QString::fromLatin1(text), parent);
    zn::SetCtrlId(g, id);
    *grid = new QGridLayout(g);
    (*grid)->setSpacing(2);
    (*grid)->setContentsMargins(6, 4, 6, 4);
    return g;
}

} // namespace

CCodebookDesignDlg::CCodebookDesignDlg(QWidget *parent) : CZnDialog(IDD, parent)
{
    setWindowTitle(QStringLiteral("Codebook Design"));
    BuildTemplate();
}

void CCodebookDesignDlg::BuildTemplate()
{
    static const char *const kSizes[] = {"2", "4", "6", "8", "10"};
    static const char *const kRates[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"};
    static const char *const kIters[] = {"10", "20", "30", "50", "100"};
    static const char *const kThr[] = {"1", "0.1", "0.01", "0.001"};
    static const char *const kInit[] = {"Constant", "Random"};

    auto *frame = new QGroupBox(QStringLiteral("Set Codebook Parameters"), this);
    zn::SetCtrlId(frame, 1231);
    auto *inner = new QGridLayout(frame);
    QGridLayout *grid = nullptr;

    QGroupBox *g = Group(frame, 1236, "Set Horizontal Size", &grid);
    m_pWidth = AddRow(g, grid, 0, kWidths, kSizes);
    inner->addWidget(g, 0, 0);
    g = Group(frame, 1241, "Set Vertical Size", &grid);
    m_pHeight = AddRow(g, grid, 0, kHeights, kSizes);
    inner->addWidget(g, 0, 1);

    g = Group(frame, 1242, "Set Rate per Vector", &grid);
    auto *minLabel = Ctrl(new QLabel(QStringLiteral("Min"), g), 1253);
    auto *maxLabel = Ctrl(new QLabel(QStringLiteral("Max"), g), 1254);
    grid->addWidget(minLabel, 0, 0);
    grid->addWidget(maxLabel, 1, 0);
    m_pMin = AddRow(g, grid, 0, kMins, kRates);
    m_pMax = AddRow(g, grid, 1, kMaxs, kRates);
    inner->addWidget(g, 1, 0, 1, 2);

    g = Group(frame, 1263, "Set Maximum Number of iterations", &grid);
    m_pIterations = AddRow(g, grid, 0, kIterations, kIters);
    inner->addWidget(g, 2, 0);
    g = Group(frame, 1258, "Set Convergence Threshold", &grid);
    m_pThreshold = AddRow(g, grid, 0, kThresholds, kThr);
    inner->addWidget(g, 2, 1);
    g = Group(frame, 1255, "Set Vector Initialization", &grid);
    m_pInit = AddRow(g, grid, 0, kInits, kInit);
    inner->addWidget(g, 3, 0);

    m_pOk = Ctrl(new QPushButton(QStringLiteral("OK"), this), IDOK);
    auto *cancel = Ctrl(new QPushButton(QStringLiteral("Cancel"), this), IDCANCEL);
    m_pApply = Ctrl(new QPushButton(QStringLiteral("Apply"), this), IDC_APPLY);
    m_pSave = Ctrl(new QPushButton(QStringLiteral("Save Codebook"), this), IDC_SAVE);
    for (QPushButton *b : {m_pOk, cancel, m_pApply, m_pSave})
        b->setAutoDefault(false);
    m_pOk->setEnabled(false);
    m_pSave->setEnabled(false);
    m_pLog = Ctrl(new QPlainTextEdit(this), IDC_LOG);
    m_pLog->setReadOnly(true);
    m_pLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_pLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_pLog->setMinimumHeight(150);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_pOk);
    buttons->addWidget(cancel);
    buttons->addStretch();
    buttons->addWidget(m_pApply);
    buttons->addWidget(m_pSave);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addLayout(buttons);
    layout->addWidget(m_pLog, 1);

    for (zn::PushRadioGroup *group :
         {m_pWidth, m_pHeight, m_pMin, m_pMax, m_pIterations, m_pThreshold, m_pInit})
        connect(group, &zn::PushRadioGroup::Clicked, this, [this, group](int id) { OnRadio(group, id); });
    connect(m_pOk, &QPushButton::clicked, this, &CZnDialog::ForwardOnOK);
    connect(cancel, &QPushButton::clicked, this, &CZnDialog::ForwardOnCancel);
    connect(m_pApply, &QPushButton::clicked, this, &CCodebookDesignDlg::OnDesignApply);
    connect(m_pSave, &QPushButton::clicked, this, &CCodebookDesignDlg::OnSaveCodebook);
}

int CCodebookDesignDlg::DoModalDesign(ZnImage *train, ZnImage *codebook, const std::string &name)
{
    m_pTrainImage = train;
    m_pCodebookImage = codebook;
    m_sName = name;
    OnInitDialog();
    // Escape and the window's close button reject, which is Cancel.
    return exec() == IDOK ? IDOK : IDCANCEL;
}

bool CCodebookDesignDlg::OnInitDialog()
{
    m_applied = CodebookDesignParams{-1, -1, -1, -1, -1, -1.0f, -1};
    m_pending = CodebookDesignParams{};

    // Sizes that do not tile the picture are switched off from the largest down, until one divides
    // the side; losing 4 leaves 2 as the only choice.
    const auto cascade = [this](zn::PushRadioGroup *group, std::span<const zn::IdValue> table, int count,
                                int *size) {
        for (int s : {10, 8, 6, 4}) {
            if (count % s == 0)
                break;
            ButtonOf(group, IdOf(table, static_cast<float>(s)))->setEnabled(false);
            if (s == 4)
                *size = 2;
        }
    };
    const int cols = m_pTrainImage ? m_pTrainImage->Cols() : 0;
    const int rows = m_pTrainImage ? m_pTrainImage->Rows() : 0;
    cascade(m_pWidth, kWidths, cols, &m_pending.w);
    cascade(m_pHeight, kHeights, rows, &m_pending.h);

    m_pWidth->Select(IdOf(kWidths, static_cast<float>(m_pending.w)));
    m_pHeight->Select(IdOf(kHeights, static_cast<float>(m_pending.h)));
    m_pMin->Select(1243);
    m_pMax->Select(2174);
    m_pIterations->Select(1267);
    m_pThreshold->Select(1274);
    m_pInit->Select(1271);
    for (const zn::IdValue &e : kMins)
        ButtonOf(m_pMin, e.id)->setEnabled(e.value <= 8);
    m_pMax->SetEnabled(true);

    m_pApply->setEnabled(true);
    m_pSave->setEnabled(false);
    m_pOk->setEnabled(false);
    return true;
}

void CCodebookDesignDlg::OnRadio(zn::PushRadioGroup *group, int id)
{
    // The top rates always enable Apply; the other radios only when the parameters changed.
    bool always = false;
    if (group == m_pWidth) {
        const int v = static_cast<int>(ValueOf(kWidths, id));
        if (v == m_pending.w)
            return;
        m_pending.w = v;
    } else if (group == m_pHeight) {
        const int v = static_cast<int>(ValueOf(kHeights, id));
        if (v == m_pending.h)
            return;
        m_pending.h = v;
    } else if (group == m_pMin) {
        const int v = static_cast<int>(ValueOf(kMins, id));
        always = v >= 11;
        if (v == m_pending.rmin && !always)
            return;
        m_pending.rmin = v;
        for (const zn::IdValue &e : kMaxs)
            ButtonOf(m_pMax, e.id)->setEnabled(e.value >= v);
    } else if (group == m_pMax) {
        const int v = static_cast<int>(ValueOf(kMaxs, id));
        always = v >= 11;
        if (v == m_pending.rmax && !always)
            return;
        m_pending.rmax = v;
        for (const zn::IdValue &e : kMins)
            ButtonOf(m_pMin, e.id)->setEnabled(e.value <= v);
    } else if (group == m_pIterations) {
        const int v = static_cast<int>(ValueOf(kIterations, id));
        if (v == m_pending.maxIterations)
            return;
        m_pending.maxIterations = v;
    } else if (group == m_pThreshold) {
        const float v = ValueOf(kThresholds, id);
        if (v == m_pending.threshold)
            return;
        m_pending.threshold = v;
    } else if (group == m_pInit) {
        const int v = static_cast<int>(ValueOf(kInits, id));
        if (v == m_pending.initType)
            return;
        m_pending.initType = v;
    }
    UpdateApply(always);
}

void CCodebookDesignDlg::UpdateApply(bool always)
{
    m_pApply->setEnabled(always || !(m_pending == m_applied));
}

bool CCodebookDesignDlg::HoldsCodebook() const
{
    return m_pCodebookImage && m_pCodebookImage->Rows() > 0 && m_pCodebookImage->Cols() > 0;
}

void CCodebookDesignDlg::ShowLog(const std::string &text)
{
    m_pLog->setPlainText(QString::fromStdString(text));
    m_pLog->verticalScrollBar()->setValue(m_pLog->verticalScrollBar()->maximum());
    // Painted now: the design runs on this thread, and the log is its progress display.
    m_pLog->repaint();
}

void CCodebookDesignDlg::OnDesignApply()
{
    zn::WaitCursor wait;
    m_applied = m_pending;
    m_pApply->setEnabled(false);
    if (m_pTrainImage && m_pCodebookImage) {
        const CodebookDesignParams &p = m_applied;
        zn::RunModuleApply([&] {
            VqCodebookDesign(m_pTrainImage->img, m_pCodebookImage, p.w, p.h, p.rmin, p.rmax, p.initType,
                             p.threshold, p.maxIterations,
                             [this](const std::string &text) { ShowLog(text); });
        });
    }
    if (HoldsCodebook()) {
        m_pSave->setEnabled(true);
    } else {
        m_pSave->setEnabled(false);
        m_pOk->setEnabled(false);
    }
}

void CCodebookDesignDlg::OnSaveCodebook()
{
    if (!HoldsCodebook())
        return;
    const CodebookDesignParams &p = m_applied;
    ModuleFileRequest request;
    request.save = true;
    request.title = QStringLiteral("Save the Current Codebook As...");
    request.initialDir = DocUserDir();
    request.initialName =
        QString::fromStdString(m_sName + zn::Format("_%ix%i_min%i_max%i.cbk", p.w, p.h, p.rmin, p.rmax));
    request.filter = QStringLiteral("Codebook File (*.cbk)|*.cbk||");
    request.defaultSuffix = QStringLiteral("cbk");
    const QString path = RunModuleFileDialog(request);
    if (path.isEmpty())
        return;
    CDib file;
    m_pCodebookImage->ZnImageToDib(&file);
    // SaveDibFile tells the user when the file cannot be written; the codebook itself is still
    // usable, so OK is offered either way.
    file.SaveDibFile(path.toStdString());
    m_pOk->setEnabled(true);
}
