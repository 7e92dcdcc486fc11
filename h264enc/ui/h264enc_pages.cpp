// The H.264 encoder's pages, laid out for the 256-pixel column: choices as rows of push-like radio
// buttons, the spinner pages with their choice row above the spinner, check boxes in a grid.
#include "h264enc/ui/h264enc_pages.h"

#include "modules/common/file_dialog.h"
#include "platform/messages.h"
#include "shell/doc_app.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QGroupBox *MakeGroup(CModulePage *page, int id, const char *text)
{
    auto *g = new QGroupBox(QString::fromLatin1(text), page);
    zn::SetCtrlId(g, id);
    auto *outer = new QVBoxLayout(page);
    outer->addWidget(g);
    outer->addStretch();
    return g;
}

template <class Layout> Layout *Inside(QGroupBox *group)
{
    auto *l = new Layout(group);
    l->setSpacing(2);
    l->setContentsMargins(4, 4, 4, 4);
    return l;
}

} // namespace

bool H264encPathFitsSettings(const QString &path)
{
    if (!path.contains(QLatin1Char('#')) && !path.contains(QLatin1Char('"')) &&
        !path.contains(QLatin1Char('\n')) && !path.contains(QLatin1Char('\r')))
        return true;
    zn::ShowMessage(zn::Format("The path\n%s\nholds '#' or '\"', which the encoder's settings file cannot "
                               "carry. Please choose another name or folder.",
                               path.toStdString().c_str()),
                    zn::MsgButtons::Ok, zn::MsgIcon::Warning);
    return false;
}

void H264encSpinBox::stepBy(int steps)
{
    if (beforeStep)
        beforeStep();
    QSpinBox::stepBy(steps);
}

// ---------------------------------------------------------------------------------------------------

CH264encSpinPage::CH264encSpinPage(int idd, int groupId, const char *groupText, int editId, int spinId,
                                   std::initializer_list<Radio> radios, QWidget *parent)
    : CModulePage(idd, parent)
{
    m_pGroup = MakeGroup(this, groupId, groupText);
    auto *column = Inside<QVBoxLayout>(m_pGroup);
    m_pRadios = new zn::PushRadioGroup(this);
    auto *row = new QHBoxLayout;
    row->setSpacing(2);
    for (const Radio &r : radios)
        row->addWidget(m_pRadios->Add(r.id, QString::fromLatin1(r.text)));
    column->addLayout(row);

    m_pSpinRow = new QWidget(m_pGroup);
    auto *spinRow = new QHBoxLayout(m_pSpinRow);
    spinRow->setContentsMargins(0, 0, 0, 0);
    m_pSpin = new H264encSpinBox(m_pSpinRow);
    zn::SetCtrlId(m_pSpin, spinId);
    m_pEdit = m_pSpin->findChild<QLineEdit *>();
    zn::SetCtrlId(m_pEdit, editId);
    m_pEdit->setReadOnly(true); // only the spinner writes it
    m_pSpin->setAlignment(Qt::AlignCenter);
    m_pSpin->setFixedWidth(64);
    spinRow->addStretch();
    spinRow->addWidget(m_pSpin);
    spinRow->addStretch();
    column->addWidget(m_pSpinRow);

    // The spin box writes its edit with the edit's own signals blocked and reports the new text itself.
    connect(m_pSpin, &QSpinBox::textChanged, this, &CH264encSpinPage::EditChanged);
    connect(m_pRadios, &zn::PushRadioGroup::Clicked, this, [this](int id) { OnRadio(id); });
}

void CH264encSpinPage::ShowValue(const char *groupText, int low, int high, int position)
{
    m_pGroup->setTitle(QString::fromLatin1(groupText));
    {
        // A range alone does not move the spinner's number: only the position does.
        const QSignalBlocker block(m_pSpin);
        m_pSpin->setRange(low, std::max(low, high));
        m_pSpin->setValue(position);
    }
    EditChanged();
}

void CH264encSpinPage::RenewRange(int low, int high)
{
    {
        const QSignalBlocker block(m_pSpin);
        m_pSpin->setRange(low, std::max(low, high));
    }
    EditChanged();
}

void CH264encSpinPage::EditChanged()
{
    bool ok = false;
    const unsigned value = m_pEdit->text().toUInt(&ok);
    if (ok)
        OnEditChanged(static_cast<int>(value));
}

// ---------------------------------------------------------------------------------------------------

CH264encFileDlg::CH264encFileDlg(std::function<QString()> title, QWidget *parent)
    : CModulePage(IDD, parent), m_title(std::move(title))
{
    auto *column = Inside<QVBoxLayout>(MakeGroup(this, IDC_GROUP, "Click to Select File Name"));
    auto *save = Ctrl(new QPushButton(QStringLiteral("Save encoded H.264 as ..."), this), IDC_SAVE_AS);
    save->setAutoDefault(false);
    column->addWidget(save);
    connect(save, &QPushButton::clicked, this, &CH264encFileDlg::OnSaveAs);
}

void CH264encFileDlg::OnSaveAs()
{
    ModuleFileRequest request;
    request.save = true;
    request.title = QStringLiteral("Save the H.264 Video Stream As ...");
    request.initialDir = DocUserDir();
    request.initialName = (m_title ? m_title() : QString()) + QStringLiteral(".264");
    request.filter = QStringLiteral("H.264 Stream (*.264)|*.264||");
    request.defaultSuffix = QStringLiteral("264");
    const QString path = RunModuleFileDialog(request);
    if (path.isEmpty() || !H264encPathFitsSettings(path))
        return;
    // The path keeps its case: the stream goes exactly where the user named it.
    m_sPath = path;
    m_sFileName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    NotifyOwner(WM_H264ENC_FILE_CHOSEN);
}

// ---------------------------------------------------------------------------------------------------

CH264encSearchModesDlg::CH264encSearchModesDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    auto *grid = Inside<QGridLayout>(MakeGroup(this, IDC_GROUP, "Inter-block Search Modes"));
    const struct
    {
        int id;
        const char *text;
        int *flag;
    } boxes[7] = {{IDC_16x16, "16x16", &m_b16x16}, {IDC_16x8, "16x8", &m_b16x8}, {IDC_8x16, "8x16", &m_b8x16},
                  {IDC_8x8, "8x8", &m_b8x8},       {IDC_8x4, "8x4", &m_b8x4},    {IDC_4x8, "4x8", &m_b4x8},
                  {IDC_4x4, "4x4", &m_b4x4}};
    for (int n = 0; n < 7; ++n) {
        QCheckBox *box = zn::MakeCheckBox(this, boxes[n].id, QString::fromLatin1(boxes[n].text));
        box->setChecked(true);
        grid->addWidget(box, n / 4, n % 4);
        int *flag = boxes[n].flag;
        connect(box, &QCheckBox::clicked, this, [this, flag](bool on) {
            *flag = on ? 1 : 0;
            NotifyOwner(WM_H264ENC_SEARCH_MODES);
        });
    }
}

CH264encSearchDlg::CH264encSearchDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    auto *grid = Inside<QGridLayout>(MakeGroup(this, IDC_GROUP, "Set Maximum Search Range"));
    auto *radios = new zn::PushRadioGroup(this);
    for (int n = 0; n < 10; ++n)
        grid->addWidget(radios->Add(kChoices[n].id, QString::number(kChoices[n].range)), n / 5, n % 5);
    radios->Select(2001);
    // Every click tells the dialog, a click on the range already chosen too.
    connect(radios, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        for (const Choice &c : kChoices)
            if (c.id == id)
                m_nSearchRange = c.range;
        NotifyOwner(WM_H264ENC_SEARCH_RANGE);
    });
}

CH264encEntropyDlg::CH264encEntropyDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    auto *row = Inside<QHBoxLayout>(MakeGroup(this, IDC_GROUP, "Set Entropy Coding Method"));
    auto *radios = new zn::PushRadioGroup(this);
    row->addWidget(radios->Add(IDC_UVLC, QStringLiteral("UVLC")));
    row->addWidget(radios->Add(IDC_CABAC, QStringLiteral("CABAC")));
    radios->Select(IDC_CABAC);
    connect(radios, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        const int cabac = id == IDC_CABAC ? 1 : 0;
        if (cabac == m_bCabac)
            return;
        m_bCabac = cabac;
        NotifyOwner(WM_H264ENC_ENTROPY);
    });
}

CH264encIntraContDlg::CH264encIntraContDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    auto *column = Inside<QVBoxLayout>(MakeGroup(this, IDC_GROUP, "Additional Parameters."));
    QCheckBox *hadamard =
        zn::MakeCheckBox(this, IDC_HADAMARD, QStringLiteral("Use Hadamard trans. in DC trans."));
    QCheckBox *interPixels =
        zn::MakeCheckBox(this, IDC_INTER_PIXELS, QStringLiteral("Use inter-pixels for prediction"));
    hadamard->setChecked(true);
    interPixels->setChecked(true);
    column->addWidget(hadamard);
    column->addWidget(interPixels);
    connect(hadamard, &QCheckBox::clicked, this, [this](bool on) {
        m_bHadamard = on ? 1 : 0;
        NotifyOwner(WM_H264ENC_INTRA_CONT);
    });
    // Intra prediction from inter-coded neighbours is what constrained intra prediction forbids.
    connect(interPixels, &QCheckBox::clicked, this, [this](bool on) {
        m_bConstrainedIntra = on ? 0 : 1;
        NotifyOwner(WM_H264ENC_INTRA_CONT);
    });
}

// ---------------------------------------------------------------------------------------------------

CH264encPeriodPage::CH264encPeriodPage(const Layout &layout, std::function<int()> picturesToCode,
                                       QWidget *parent)
    : CH264encSpinPage(layout.idd, layout.groupId, layout.groupText, layout.editId, layout.spinId,
                       {layout.period, layout.firstQp, layout.secondQp}, parent),
      m_layout(layout), m_picturesToCode(std::move(picturesToCode))
{
    m_nQP[0] = layout.firstQpStart;
    m_nQP[1] = layout.secondQpStart;
    m_pRadios->Select(layout.period.id);
    {
        const QSignalBlocker block(m_pSpin);
        m_pSpin->setRange(0, 10);
        m_pSpin->setValue(m_nPeriod);
    }
    // A frame count changed on another page limits the period at the next step.
    m_pSpin->beforeStep = [this] {
        if (m_bPeriod)
            RenewRange(0, m_picturesToCode() - 1);
    };
}

void CH264encPeriodPage::OnRadio(int id)
{
    m_bPeriod = id == m_layout.period.id ? 1 : 0;
    m_bFirstQP = id == m_layout.firstQp.id ? 1 : 0;
    if (m_bPeriod)
        ShowValue(m_layout.periodTitle, 0, m_picturesToCode() - 1, m_nPeriod);
    else if (m_bFirstQP)
        ShowValue(m_layout.firstQpTitle, 0, 51, m_nQP[0]);
    else
        ShowValue(m_layout.secondQpTitle, 0, 51, m_nQP[1]);
}

void CH264encPeriodPage::OnEditChanged(int value)
{
    int &target = m_bPeriod ? m_nPeriod : m_bFirstQP ? m_nQP[0] : m_nQP[1];
    if (value == target)
        return;
    target = value;
    NotifyOwner(m_layout.message);
}

void CH264encPeriodPage::SetPeriod(int period)
{
    m_nPeriod = period;
    // Only the spinner of the period moves: another value shown there would take the number.
    if (m_bPeriod) {
        const QSignalBlocker block(m_pSpin);
        m_pSpin->setRange(0, std::max(0, period));
        m_pSpin->setValue(period);
    }
}

CH264encIntraDlg::CH264encIntraDlg(std::function<int()> picturesToCode, QWidget *parent)
    : CH264encPeriodPage({IDD,
                          IDC_GROUP,
                          "Set Period of I-Frames (0=only first)",
                          IDC_EDIT,
                          IDC_SPIN,
                          {IDC_I_FRAMES, "I Frames"},
                          {IDC_QP_FIRST, "QP First"},
                          {IDC_QP_REMAIN, "QP Remain"},
                          "Set Period of I-Frames (0=Only First)",
                          "Set QP for First Frame (Intra)",
                          "Set QP for Other Frames",
                          28,
                          28,
                          WM_H264ENC_INTRA},
                         std::move(picturesToCode), parent)
{}

CH264encSPFramesDlg::CH264encSPFramesDlg(std::function<int()> picturesToCode, QWidget *parent)
    : CH264encPeriodPage({IDD,
                          IDC_GROUP,
                          "Set Number of SP Frames",
                          IDC_EDIT,
                          IDC_SPIN,
                          {IDC_SP_FRAMES, "SP Frames"},
                          {IDC_QP_BLOCK, "QP Block"},
                          {IDC_QP_ERROR, "QP Error"},
                          "Set SP-Picture Periodicity",
                          "Set QP for Predicted Blocks",
                          "Set QP for Prediction Error",
                          27,
                          28,
                          WM_H264ENC_SPFRAMES},
                         std::move(picturesToCode), parent)
{}

// ---------------------------------------------------------------------------------------------------

CH264encBFramesDlg::CH264encBFramesDlg(std::function<int()> frameSkip, QWidget *parent)
    : CH264encSpinPage(IDD, IDC_GROUP, "Number of B Frames", IDC_EDIT, IDC_SPIN,
                       {{IDC_B_FRAMES, "B Frames"}, {IDC_QP, "QP"}, {IDC_DIRECT, "Direct Mode"}}, parent),
      m_frameSkip(std::move(frameSkip))
{
    m_pDirectRow = new QWidget(m_pGroup);
    auto *row = new QHBoxLayout(m_pDirectRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    m_pDirect = new zn::PushRadioGroup(this);
    row->addWidget(m_pDirect->Add(IDC_SPATIAL, QStringLiteral("Spatial")));
    row->addWidget(m_pDirect->Add(IDC_TEMPORAL, QStringLiteral("Temporal")));
    m_pGroup->layout()->addWidget(m_pDirectRow);
    m_pRadios->Select(IDC_B_FRAMES);
    m_pDirect->Select(IDC_SPATIAL);
    m_pDirectRow->hide();
    {
        const QSignalBlocker block(m_pSpin);
        m_pSpin->setRange(0, 1);
        m_pSpin->setValue(1);
    }
    // Frames to be skipped may have changed on the InterFrame page since the count was chosen.
    m_pSpin->beforeStep = [this] {
        if (m_bSetBFrames)
            RenewRange(0, m_frameSkip());
    };
    connect(m_pDirect, &zn::PushRadioGroup::Clicked, this, &CH264encBFramesDlg::OnDirect);
}

void CH264encBFramesDlg::OnRadio(int id)
{
    m_bSetBFrames = id == IDC_B_FRAMES ? 1 : 0;
    m_bSetQP = id == IDC_QP ? 1 : 0;
    const bool spin = id != IDC_DIRECT;
    m_pSpinRow->setVisible(spin);
    m_pDirectRow->setVisible(!spin);
    if (m_bSetBFrames) {
        ShowValue("Number of B Frames", 0, m_frameSkip(), m_nBFrames);
    } else if (m_bSetQP) {
        ShowValue("Set QP for B frames", 0, 51, m_nQP);
    } else {
        m_pGroup->setTitle(QStringLiteral("Set Direct Mode Type"));
        m_pDirect->Select(m_bDirectSpatial ? IDC_SPATIAL : IDC_TEMPORAL);
    }
}

void CH264encBFramesDlg::OnDirect(int id)
{
    m_pRadios->Select(IDC_DIRECT);
    const int spatial = id == IDC_SPATIAL ? 1 : 0;
    if (spatial == m_bDirectSpatial)
        return;
    m_bDirectSpatial = spatial;
    NotifyOwner(WM_H264ENC_BFRAMES);
}

void CH264encBFramesDlg::OnEditChanged(int value)
{
    if (!m_bSetBFrames && !m_bSetQP)
        return;
    int &target = m_bSetBFrames ? m_nBFrames : m_nQP;
    if (value == target)
        return;
    target = value;
    NotifyOwner(WM_H264ENC_BFRAMES);
}

void CH264encBFramesDlg::SetBFrames(int count)
{
    m_nBFrames = count;
    // Only the spinner of the count moves: the quantiser shown there would take the number.
    if (m_bSetBFrames) {
        const QSignalBlocker block(m_pSpin);
        m_pSpin->setRange(0, std::max(0, m_frameSkip()));
        m_pSpin->setValue(count);
    }
}

// ---------------------------------------------------------------------------------------------------

CH264encInterDlg::CH264encInterDlg(std::function<int()> frames, std::function<int()> macroblocks,
                                   QWidget *parent)
    : CH264encSpinPage(IDD, IDC_GROUP, "Set #Previous Frames Used", IDC_EDIT, IDC_SPIN,
                       {{IDC_REFERENCE, "Reference"}, {IDC_SKIP, "Skip"}, {IDC_INTRA_MB, "Intra MB"}},
                       parent),
      m_frames(std::move(frames)), m_macroblocks(std::move(macroblocks))
{
    m_pRadios->Select(IDC_REFERENCE);
    const QSignalBlocker block(m_pSpin);
    m_pSpin->setRange(1, 5);
    m_pSpin->setValue(1);
}

void CH264encInterDlg::OnRadio(int id)
{
    m_bSetReferences = id == IDC_REFERENCE ? 1 : 0;
    m_bSetSkip = id == IDC_SKIP ? 1 : 0;
    if (m_bSetReferences)
        ShowValue("Set #Previous Frames Used", 1, 5, m_nReferences);
    else if (m_bSetSkip)
        ShowValue("Set #Frames to be Skipped", 0, m_frames() - 1, m_nSkip);
    else
        ShowValue("Set #Forced Intra-MBs Per Frame", 0, m_macroblocks(), m_nIntraMBs);
}

void CH264encInterDlg::OnEditChanged(int value)
{
    int &target = m_bSetReferences ? m_nReferences : m_bSetSkip ? m_nSkip : m_nIntraMBs;
    if (value == target)
        return;
    target = value;
    NotifyOwner(WM_H264ENC_INTER_FRAME);
}
