// Preferences: OK refuses an empty directory, Apply copies without checks, Cancel keeps what the
// application has. OK also drops the shared results font so new module dialogs use the new one.
#include "shell/settings_dlg.h"

#include "platform/messages.h"
#include "shell/compression_app.h"

#include <QFileDialog>
#include <QFontDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

struct DirRow
{
    const char *group;
    int textId;
    int buttonId;
    const char *browseTitle;
};

const DirRow kDirRows[] = {
    {"Images Default Directory", 1215, 1213, "\r\n    Select the Default Directory for Image Files"},
    {"Tables Default Directory", 1218, 1220, "\r\n    Select the Default Directory for Table Files"},
    {"Codebook Default Directory", 1219, 1221, "\r\n    Select the Default Directory for Codebook Files"},
    {"User's Output Default Directory (User Must Have Write Permission)", 1151, 1225,
     "\r\n    Select the Default (Writable) Directory for User Output"},
};

CSettingsDirDlg::FolderDialogHook &FolderHook()
{
    static CSettingsDirDlg::FolderDialogHook hook;
    return hook;
}

CSettingsOptionsDlg::FontDialogHook &FontHook()
{
    static CSettingsOptionsDlg::FontDialogHook hook;
    return hook;
}

QString WithOneSlash(const QString &dir)
{
    QString d = dir;
    while (d.size() > 1 && d.endsWith(QLatin1Char('/')))
        d.chop(1);
    return d.endsWith(QLatin1Char('/')) ? d : d + QLatin1Char('/');
}

QPushButton *PushRadio(const QString &text)
{
    auto *b = new QPushButton(text);
    b->setCheckable(true);
    b->setAutoExclusive(true);
    b->setAutoDefault(false);
    return b;
}

} // namespace

// ---------------------------------------------------------------------------------------------------

CSettingsDirDlg::CSettingsDirDlg(QWidget *parent) : CModulePage(186, parent)
{
    auto *outer = new QVBoxLayout(this);
    auto *group = new QGroupBox(QStringLiteral("Set the Default Directories"), this);
    outer->addWidget(group);
    auto *v = new QVBoxLayout(group);
    for (const DirRow &row : kDirRows) {
        auto *g = new QGroupBox(QString::fromUtf8(row.group), group);
        auto *h = new QHBoxLayout(g);
        auto *text = Ctrl(new QLabel(g), row.textId);
        text->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        text->setMinimumWidth(330);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        auto *browse = Ctrl(new QPushButton(QStringLiteral("Browse"), g), row.buttonId);
        browse->setAutoDefault(false);
        const int id = row.buttonId;
        connect(browse, &QPushButton::clicked, this, [this, id]() { OnBrowse(id); });
        h->addWidget(text, 1);
        h->addWidget(browse);
        v->addWidget(g);
    }
}

void CSettingsDirDlg::OnInitDialog()
{
    m_sImageDir = theApp.m_sImageDir;
    m_sTableDir = theApp.m_sTableDir;
    m_sCodebookDir = theApp.m_sCodebookDir;
    m_sUserDir = theApp.m_sUserDir;
    Item<QLabel>(1215)->setText(m_sImageDir);
    Item<QLabel>(1218)->setText(m_sTableDir);
    Item<QLabel>(1219)->setText(m_sCodebookDir);
    Item<QLabel>(1151)->setText(m_sUserDir);
}

void CSettingsDirDlg::OnBrowse(int buttonId)
{
    for (const DirRow &row : kDirRows) {
        if (row.buttonId != buttonId)
            continue;
        const QString title = QString::fromUtf8(row.browseTitle);
        QString path;
        if (FolderHook())
            path = FolderHook()(title);
        else
            path = QFileDialog::getExistingDirectory(nullptr, title.trimmed(), QString(),
                                                     QFileDialog::ShowDirsOnly);
        if (path.isEmpty())
            return; // nothing chosen, or not a file-system folder
        Item<QLabel>(row.textId)->setText(path);
        const QString dir = WithOneSlash(path);
        switch (buttonId) {
        case 1213:
            m_sImageDir = dir;
            break;
        case 1220:
            m_sTableDir = dir;
            break;
        case 1221:
            m_sCodebookDir = dir;
            break;
        case 1225:
            m_sUserDir = dir;
            break;
        default:
            break;
        }
        return;
    }
}

CSettingsDirDlg::FolderDialogHook CSettingsDirDlg::SetFolderDialogHook(FolderDialogHook hook)
{
    FolderDialogHook previous = std::move(FolderHook());
    FolderHook() = std::move(hook);
    return previous;
}

// ---------------------------------------------------------------------------------------------------

CSettingsOptionsDlg::CSettingsOptionsDlg(QWidget *parent) : CModulePage(264, parent)
{
    auto *outer = new QVBoxLayout(this);
    auto *group = new QGroupBox(QStringLiteral("Set Font and Scrollbar Options"), this);
    outer->addWidget(group);
    auto *v = new QVBoxLayout(group);

    auto *fontGroup = new QGroupBox(QStringLiteral("Font Selection"), group);
    auto *grid = new QGridLayout(fontGroup);
    grid->addWidget(new QLabel(QStringLiteral("Current font        :"), fontGroup), 0, 0);
    auto *face = Ctrl(new QLabel(fontGroup), 1622);
    face->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    grid->addWidget(face, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Current font size :"), fontGroup), 1, 0);
    auto *size = Ctrl(new QLabel(fontGroup), 1623);
    size->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    grid->addWidget(size, 1, 1);
    auto *change = Ctrl(new QPushButton(QStringLiteral("Change Font"), fontGroup), 1621);
    auto *def = Ctrl(new QPushButton(QStringLiteral("Default"), fontGroup), 1624);
    change->setAutoDefault(false);
    def->setAutoDefault(false);
    grid->addWidget(change, 2, 0);
    grid->addWidget(def, 2, 1);
    connect(change, &QPushButton::clicked, this, &CSettingsOptionsDlg::OnChangeFont);
    connect(def, &QPushButton::clicked, this, &CSettingsOptionsDlg::OnDefaultFont);
    v->addWidget(fontGroup);

    auto *scrollGroup = new QGroupBox(QStringLiteral("Scrollbar"), group);
    auto *h = new QHBoxLayout(scrollGroup);
    h->addWidget(new QLabel(QStringLiteral("Enable horizontal scroll bar in results window"), scrollGroup),
                 1);
    auto *no = Ctrl(PushRadio(QStringLiteral("No")), 1619);
    auto *yes = Ctrl(PushRadio(QStringLiteral("Yes")), 1620);
    h->addWidget(no);
    h->addWidget(yes);
    connect(no, &QPushButton::clicked, this, [this]() { m_bHScrollbar = 0; });
    connect(yes, &QPushButton::clicked, this, [this]() { m_bHScrollbar = 1; });
    v->addWidget(scrollGroup);
}

void CSettingsOptionsDlg::OnInitDialog()
{
    m_sFontType = theApp.m_sFontType;
    m_nFontSize = theApp.m_nFontSize;
    m_bHScrollbar = theApp.m_bHScrollbar;
    ShowFontTexts();
    Item<QPushButton>(m_bHScrollbar == 1 ? 1620 : 1619)->setChecked(true);
}

void CSettingsOptionsDlg::ShowFontTexts()
{
    Item<QLabel>(1622)->setText(m_sFontType);
    Item<QLabel>(1623)->setText(QString::asprintf("%d", m_nFontSize));
}

void CSettingsOptionsDlg::OnChangeFont()
{
    QFont font(m_sFontType);
    font.setPointSize(std::max(1, m_nFontSize));
    font.setWeight(QFont::Normal);
    bool ok = false;
    if (FontHook()) {
        ok = FontHook()(font);
    } else {
        font = QFontDialog::getFont(&ok, font, this, QString(),
                                    QFontDialog::ScalableFonts | QFontDialog::NonScalableFonts);
    }
    if (ok) {
        m_sFontType = font.family();
        // The dialog reports tenths of a point; whole points are kept.
        m_nFontSize = static_cast<int>(font.pointSizeF() * 10 + 0.5) / 10;
    }
    ShowFontTexts();
}

void CSettingsOptionsDlg::OnDefaultFont()
{
    m_sFontType = QStringLiteral("MS Sans Serif");
    m_nFontSize = 8;
    ShowFontTexts();
}

CSettingsOptionsDlg::FontDialogHook CSettingsOptionsDlg::SetFontDialogHook(FontDialogHook hook)
{
    FontDialogHook previous = std::move(FontHook());
    FontHook() = std::move(hook);
    return previous;
}

// ---------------------------------------------------------------------------------------------------

CSettingsDlg::CSettingsDlg(QWidget *parent) : CZnDialog(IDD, parent)
{
    setWindowTitle(QStringLiteral("Preferences"));
    auto *v = new QVBoxLayout(this);
    m_pTabCtrl = Ctrl(new CXTabCtrl(this), 1223);
    m_pDirPage = new CSettingsDirDlg(m_pTabCtrl);
    m_pOptionsPage = new CSettingsOptionsDlg(m_pTabCtrl);
    m_pDirPage->OnInitDialog();
    m_pOptionsPage->OnInitDialog();
    m_pTabCtrl->AddTab(m_pDirPage, QStringLiteral("Directories"), 0);
    m_pTabCtrl->AddTab(m_pOptionsPage, QStringLiteral("Other Options"), 1);
    m_pDirPage->SetOwner(this);
    m_pOptionsPage->SetOwner(this);
    m_pTabCtrl->setMinimumSize(m_pTabCtrl->sizeHint());
    v->addWidget(m_pTabCtrl, 1);

    auto *buttons = new QHBoxLayout;
    auto *ok = Ctrl(new QPushButton(QStringLiteral("OK")), IDOK);
    auto *cancel = Ctrl(new QPushButton(QStringLiteral("Cancel")), IDCANCEL);
    auto *apply = Ctrl(new QPushButton(QStringLiteral("Apply")), 1224);
    ok->setDefault(true);
    cancel->setAutoDefault(false);
    apply->setAutoDefault(false);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(apply);
    v->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &CSettingsDlg::OnOK);
    connect(cancel, &QPushButton::clicked, this, &CZnDialog::ForwardOnCancel);
    connect(apply, &QPushButton::clicked, this, &CSettingsDlg::OnApply);
}

void CSettingsDlg::CopyToApp()
{
    theApp.m_sImageDir = m_pDirPage->m_sImageDir;
    theApp.m_sTableDir = m_pDirPage->m_sTableDir;
    theApp.m_sCodebookDir = m_pDirPage->m_sCodebookDir;
    theApp.m_sUserDir = m_pDirPage->m_sUserDir;
    theApp.m_sFontType = m_pOptionsPage->m_sFontType;
    theApp.m_nFontSize = m_pOptionsPage->m_nFontSize;
    theApp.m_bHScrollbar = m_pOptionsPage->m_bHScrollbar;
}

void CSettingsDlg::OnOK()
{
    const struct
    {
        const QString &dir;
        const char *message;
    } checks[] = {
        {m_pDirPage->m_sImageDir, "No default Image Directory selected; Please enter your preference"},
        {m_pDirPage->m_sTableDir, "No default Tables Directory selected; Please enter your preference"},
        {m_pDirPage->m_sCodebookDir, "No default Codebook Directory selected; Please enter your preference"},
        {m_pDirPage->m_sUserDir, "No default User Output Directory selected; Please enter your preference"},
    };
    for (const auto &c : checks) {
        if (c.dir.isEmpty()) {
            zn::ShowMessage(c.message);
            return;
        }
    }
    CopyToApp();
    theApp.ResetResultFont();
    // Written at once as well as at exit, so a later crash loses no choice.
    theApp.SaveSettings();
    QDialog::accept();
}

void CSettingsDlg::OnApply()
{
    CopyToApp();
}
