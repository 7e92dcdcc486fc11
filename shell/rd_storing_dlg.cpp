// The R(D) storing dialog and its control states: no module open (minimised, Start disabled), idle
// with modules (module list and Start enabled), recording (list, profiles, delete buttons and
// Cancel disabled, last message enabled).
#include "shell/rd_storing_dlg.h"

#include "platform/messages.h"
#include "platform/paths.h"
#include "shell/rd_doc_glue.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <algorithm>

namespace {
constexpr const char *kUseDefaultNames = "Use Default Names";
constexpr const char *kProfileListEmpty = "Profile List Empty";

// A sorted list box orders without regard to case.
bool SortedListLess(const std::string &a, const std::string &b)
{
    const std::string la = zn::ToLower(a), lb = zn::ToLower(b);
    return la != lb ? la < lb : a < b;
}
} // namespace

std::vector<std::string> RDClosedProfileNames(const zn::CRDDataBase &store)
{
    std::vector<std::string> names;
    for (int s = 0; s < zn::MAXIMUM_NUMBER_OF_MODULES; ++s) {
        for (int c = 0; c < store.m_nNumberOfCurves[s]; ++c) {
            if (store.m_ModuleData[s].m_bCurveClosed[c])
                names.push_back(store.m_ModuleData[s].m_sProfileName[c]);
        }
    }
    std::stable_sort(names.begin(), names.end(), SortedListLess);
    return names;
}

CRDStoringDlg::CRDStoringDlg(CDibDoc *doc, zn::CRDDataBase *store, QWidget *parent)
    : CZnDialog(IDD, parent,
                Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint |
                    Qt::WindowStaysOnTopHint),
      m_pStartDibDoc(doc), m_pRDData(store)
{
    setModal(false);
    setWindowTitle(QStringLiteral("Store R(D) Points: "));
    setFixedSize(230, 290);

    auto *control = new QGroupBox(QStringLiteral("Control Storing R(D) Points"), this);
    control->setGeometry(6, 4, 218, 88);
    m_pStart = Ctrl(new QPushButton(QStringLiteral("Start"), this), IDC_RD_START);
    m_pStop = Ctrl(new QPushButton(QStringLiteral("Stop"), this), IDC_RD_STOP);
    for (QPushButton *b : {m_pStart, m_pStop}) {
        b->setCheckable(true);
        b->setAutoDefault(false);
    }
    auto *startStop = new QButtonGroup(this);
    startStop->setExclusive(true);
    startStop->addButton(m_pStart);
    startStop->addButton(m_pStop);
    m_pStart->setGeometry(16, 24, 96, 26);
    m_pStop->setGeometry(118, 24, 96, 26);
    m_pModules = Ctrl(new QComboBox(this), IDC_RD_MODULES);
    m_pModules->setGeometry(16, 56, 198, 26);

    auto *profiles = new QGroupBox(QStringLiteral("Profile Name of Stored R(D) Points"), this);
    profiles->setGeometry(6, 96, 218, 86);
    m_pProfiles = Ctrl(new QComboBox(this), IDC_RD_PROFILES);
    m_pProfiles->setEditable(true);
    m_pProfiles->setInsertPolicy(QComboBox::NoInsert);
    m_pProfiles->setGeometry(16, 116, 198, 26);
    m_pDeleteProfile = Ctrl(new QPushButton(QStringLiteral("Delete Profile"), this), IDC_RD_DELETE_PROFILE);
    m_pDeleteAll = Ctrl(new QPushButton(QStringLiteral("Delete All"), this), IDC_RD_DELETE_ALL);
    m_pDeleteProfile->setGeometry(16, 148, 96, 26);
    m_pDeleteAll->setGeometry(118, 148, 96, 26);

    auto *last = new QGroupBox(QStringLiteral("Last Message"), this);
    last->setGeometry(6, 186, 218, 56);
    m_pLastMessage = Ctrl(new QLabel(QStringLiteral("No messages"), this), IDC_RD_LAST_MESSAGE);
    m_pLastMessage->setGeometry(16, 206, 198, 30);
    m_pLastMessage->setWordWrap(true);

    m_pMinimize = Ctrl(new QPushButton(QStringLiteral("Minimize "), this), IDC_RD_MINIMIZE);
    m_pMinimize->setDefault(true);
    m_pMinimize->setGeometry(16, 252, 96, 28);
    m_pCancel = Ctrl(new QPushButton(QStringLiteral("Cancel"), this), IDCANCEL);
    m_pCancel->setAutoDefault(false);
    m_pCancel->setGeometry(118, 252, 96, 28);

    connect(m_pStart, &QPushButton::clicked, this, &CRDStoringDlg::OnRdStoringStart);
    connect(m_pStop, &QPushButton::clicked, this, &CRDStoringDlg::OnRdStoringStop);
    connect(m_pDeleteProfile, &QPushButton::clicked, this, &CRDStoringDlg::OnRdStoringDeleteProfile);
    connect(m_pDeleteAll, &QPushButton::clicked, this, &CRDStoringDlg::OnRdStoringDeleteAll);
    connect(m_pMinimize, &QPushButton::clicked, this, &CRDStoringDlg::OnRdStoringMinimize);
    connect(m_pCancel, &QPushButton::clicked, this, &CRDStoringDlg::OnCancel);
    // A typed name counts as typed until an entry is picked from the list again.
    connect(m_pProfiles, &QComboBox::editTextChanged, this, [this] { m_bProfileTyped = true; });
    connect(m_pProfiles, &QComboBox::activated, this, [this] { m_bProfileTyped = false; });

    // The busy cursor while points are being recorded, wherever the mouse enters the dialog.
    installEventFilter(this);
    for (QWidget *w : findChildren<QWidget *>())
        w->installEventFilter(this);

    OnInitDialog();
}

void CRDStoringDlg::OnInitDialog()
{
    // Low in the right corner of the main window, above everything.
    QPoint origin;
    QSize client;
    if (RDMainClientArea(&origin, &client))
        move(origin + QPoint(client.width() - 237, client.height() - 297));
    m_pStart->setChecked(false);
    m_pStop->setChecked(true);
    m_pProfiles->clear();
    m_pProfiles->addItem(QString::fromLatin1(kProfileListEmpty));
    m_pProfiles->setCurrentIndex(-1);
    m_pProfiles->setEditText(QString::fromLatin1(kUseDefaultNames));
    m_bProfileTyped = false;
    show();
}

void CRDStoringDlg::SetLastMessage(const std::string &text)
{
    m_pLastMessage->setText(QString::fromStdString(text));
}

void CRDStoringDlg::RestoreWindow()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
}

void CRDStoringDlg::OnRdStoringMinimize()
{
    setWindowState(windowState() | Qt::WindowMinimized);
}

void CRDStoringDlg::UpdateModuleList()
{
    m_pModules->clear();
    if (m_pRDData && m_pRDData->GetNumberOfActiveModules() > 0) {
        for (int i = 0; i < zn::MAXIMUM_NUMBER_OF_MODULES && m_pRDData->m_sModuleName[i] != "_EMPTY_"; ++i) {
            if (m_pRDData->m_bModuleActive[i])
                m_pModules->addItem(QString::fromStdString(m_pRDData->m_sModuleName[i]));
        }
        if (m_pRDData->IsStoring()) {
            m_pModules->setCurrentIndex(m_pModules->findText(
                QString::fromStdString(m_pRDData->m_sModuleName[m_pRDData->GetCurrentModule()])));
        } else {
            m_pModules->setEnabled(true);
            m_pStart->setEnabled(true);
            m_pLastMessage->setEnabled(false);
            m_pCancel->setEnabled(true);
            m_pModules->setCurrentIndex(0);
        }
        RestoreWindow();
    } else {
        m_pModules->addItem(QStringLiteral(" "));
        m_pModules->setCurrentIndex(0);
        m_pModules->setEnabled(false);
        m_pStart->setEnabled(false);
        m_pLastMessage->setEnabled(false);
        m_pCancel->setEnabled(true);
        OnRdStoringMinimize();
    }
    UpdateProfileList();
}

void CRDStoringDlg::UpdateProfileList()
{
    const QSignalBlocker block(m_pProfiles);
    m_pProfiles->clear();
    std::vector<std::string> names =
        m_pRDData ? RDClosedProfileNames(*m_pRDData) : std::vector<std::string>{};
    for (const std::string &n : names)
        m_pProfiles->addItem(QString::fromStdString(n));
    if (names.empty())
        m_pProfiles->addItem(QString::fromLatin1(kProfileListEmpty));
    m_pProfiles->setCurrentIndex(-1);
    m_pProfiles->setEditText(QString::fromLatin1(kUseDefaultNames));
    m_bProfileTyped = false;
    // While recording these stay disabled: deleting then would end the recording behind the
    // dialog's back and leave Cancel disabled for good.
    if (names.empty() && !(m_pRDData && m_pRDData->IsStoring())) {
        bool any = m_pRDData && m_pRDData->GetNumberOfActiveModules() > 0;
        m_pProfiles->setEnabled(any);
        m_pDeleteProfile->setEnabled(any);
        m_pDeleteAll->setEnabled(any);
    }
}

CRDStoringDlg::Verdict CRDStoringDlg::ChosenProfileName(std::string *name) const
{
    int sel = m_pProfiles->currentIndex();
    if (!m_bProfileTyped && sel >= 0) {
        *name = m_pProfiles->itemText(sel).toStdString();
        return *name == kProfileListEmpty ? Verdict::DefaultWanted : Verdict::StoredProfile;
    }
    *name = m_pProfiles->currentText().toStdString();
    if (name->empty() || *name == kUseDefaultNames ||
        m_pProfiles->findText(QString::fromStdString(*name)) >= 0)
        return Verdict::DefaultWanted;
    return Verdict::NewName;
}

void CRDStoringDlg::SetRecordingControls(bool recording)
{
    m_pModules->setEnabled(!recording);
    m_pProfiles->setEnabled(!recording);
    m_pDeleteProfile->setEnabled(!recording);
    m_pDeleteAll->setEnabled(!recording);
    m_pCancel->setEnabled(!recording);
    m_pLastMessage->setEnabled(recording);
}

void CRDStoringDlg::OnRdStoringStart()
{
    if (!m_pRDData || m_pRDData->IsStoring())
        return;
    SetRecordingControls(true);
    std::string key = m_pModules->currentText().toStdString();
    std::string chosen;
    // A recording never reuses the name of a stored curve.
    std::string name =
        ChosenProfileName(&chosen) == Verdict::NewName ? chosen : m_pRDData->GetDefaultProfileName(key);
    {
        const QSignalBlocker block(m_pProfiles);
        m_pProfiles->insertItem(0, QString::fromStdString(name));
        m_pProfiles->setCurrentIndex(0);
        m_bProfileTyped = false;
    }
    m_pRDData->StartStoring(key, name);
    if (QWidget *module = RDModuleDialog(m_pStartDibDoc, key)) {
        module->setAttribute(Qt::WA_ShowWithoutActivating);
        module->show();
    } else {
        zn::ShowMessage("(OnRdStoringStart) Error in ShowWindow() for " + key);
    }
}

void CRDStoringDlg::OnRdStoringStop()
{
    if (!m_pRDData || !m_pRDData->IsStoring())
        return;
    SetRecordingControls(false);
    m_pRDData->StopStoring();
    UpdateProfileList();
}

void CRDStoringDlg::SetStoppedState()
{
    SetRecordingControls(false);
    m_pStart->setChecked(false);
    m_pStop->setChecked(true);
}

void CRDStoringDlg::RefreshPlotDialog()
{
    if (m_pRDData && m_pRDData->m_pDoc) {
        if (zn::RDPlotLink *plot = m_pRDData->m_pDoc->PlotDlg())
            plot->UpdateProfileList();
    }
}

void CRDStoringDlg::OnRdStoringDeleteProfile()
{
    if (!m_pRDData)
        return;
    std::string name;
    if (ChosenProfileName(&name) == Verdict::StoredProfile)
        m_pRDData->EraseOneCurve(name);
    else
        zn::ShowMessage("Not a valid stored profile\r\nname. No profile deleted");
    UpdateProfileList();
    RefreshPlotDialog();
}

void CRDStoringDlg::OnRdStoringDeleteAll()
{
    if (!m_pRDData)
        return;
    m_pRDData->EraseAllCurves();
    UpdateProfileList();
    RefreshPlotDialog();
}

void CRDStoringDlg::DisplayModuleActivated(const std::string &key)
{
    if (m_pRDData && m_pRDData->IsStoring())
        return;
    int at = m_pModules->findText(QString::fromStdString(key));
    if (at >= 0)
        m_pModules->setCurrentIndex(at);
}

void CRDStoringDlg::OnCancel()
{
    if (!m_pCancel->isEnabled())
        return; // recording: the dialog cannot be closed
    RDClearStoringDlgPointer(m_pStartDibDoc);
    hide();
}

void CRDStoringDlg::OnCommand(int id)
{
    if (id == ID_RD_REPORT_STATUS && m_pRDData)
        m_pRDData->ReportStatus();
}

void CRDStoringDlg::closeEvent(QCloseEvent *event)
{
    event->ignore();
    if (isVisible())
        OnCancel();
}

void CRDStoringDlg::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton && m_pRDData)
        m_pRDData->ReportStatus();
    CZnDialog::mousePressEvent(event);
}

bool CRDStoringDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove) {
        if (auto *w = qobject_cast<QWidget *>(watched))
            w->setCursor(m_pRDData && m_pRDData->IsStoring() ? Qt::BusyCursor : Qt::ArrowCursor);
    }
    return CZnDialog::eventFilter(watched, event);
}
