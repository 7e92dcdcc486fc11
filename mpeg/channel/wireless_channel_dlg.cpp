// The channel dialog: protocol, coding scheme and channel choices with their enabling rules, the
// probability edits read back whenever one is left, and Apply running the simulation under the wait
// cursor with its report.
#include "mpeg/channel/wireless_channel_dlg.h"

#include "modules/common/module_controls.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/qt/gui_platform.h"
#include "platform/random.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <cmath>

namespace {

QGroupBox *Group(QWidget *parent, int id, const char *text)
{
    auto *g = new QGroupBox(QString::fromLatin1(text), parent);
    zn::SetCtrlId(g, id);
    return g;
}

QLabel *Label(QWidget *parent, int id, const char *text)
{
    auto *l = new QLabel(QString::fromLatin1(text), parent);
    zn::SetCtrlId(l, id);
    return l;
}

QString NumberText(double v)
{
    return QString::fromStdString(zn::Format("%.15g", v));
}

} // namespace

CWirelessChannelDlg::CWirelessChannelDlg(QWidget *parent) : CZnDialog(IDD, parent)
{
    setWindowTitle(QStringLiteral("Channel and Protocol Model for Wireless Transmission"));
    BuildTemplate();
}

void CWirelessChannelDlg::BuildTemplate()
{
    QGroupBox *protocol = Group(this, IDC_PROTOCOL_GROUP, "Protocol");
    m_pProtocol = new zn::PushRadioGroup(protocol);
    m_pAlign = zn::MakeCheckBox(protocol, IDC_ALIGN, QStringLiteral("Use RTP/Startcode alignment"));
    auto *protocolRow = new QHBoxLayout;
    protocolRow->addWidget(m_pProtocol->Add(IDC_HIPERLAN, QStringLiteral("HiperLAN\n20Mbs")));
    protocolRow->addWidget(m_pProtocol->Add(IDC_GPRS, QStringLiteral("GPRS\n")));
    auto *protocolColumn = new QVBoxLayout(protocol);
    protocolColumn->addLayout(protocolRow);
    protocolColumn->addWidget(m_pAlign);

    QGroupBox *hiperlan = Group(this, IDC_HIPERLAN_GROUP, "HiperLAN");
    m_pUsers = new QLineEdit(hiperlan);
    zn::SetCtrlId(m_pUsers, IDC_USERS);
    auto *hiperlanColumn = new QVBoxLayout(hiperlan);
    hiperlanColumn->addWidget(Label(hiperlan, IDC_USERS_LABEL, "Number of users:"));
    hiperlanColumn->addWidget(m_pUsers);
    hiperlanColumn->addStretch();

    QGroupBox *gprs = Group(this, IDC_GPRS_GROUP, "GPRS");
    m_pSchemes = new zn::PushRadioGroup(gprs);
    auto *schemeRow = new QHBoxLayout;
    for (int i = 0; i < 4; ++i)
        schemeRow->addWidget(m_pSchemes->Add(kSchemeIds[i], QStringLiteral("CS%1").arg(i + 1)));
    auto *gprsColumn = new QVBoxLayout(gprs);
    gprsColumn->addWidget(Label(gprs, IDC_SCHEME_LABEL, "Coding Scheme:"));
    gprsColumn->addLayout(schemeRow);
    gprsColumn->addStretch();

    QGroupBox *channel = Group(this, IDC_CHANNEL_GROUP, "Physical Channel");
    m_pModels = new zn::PushRadioGroup(channel);
    auto *channelGrid = new QGridLayout(channel);
    channelGrid->addWidget(m_pModels->Add(IDC_RANDOM, QStringLiteral("Random\nBit Errors")), 0, 0, 2, 1);
    channelGrid->addWidget(m_pModels->Add(IDC_GILBERT, QStringLiteral("Gilbert-Elliot")), 2, 0, 2, 1);
    static const int kEditIds[4] = {IDC_ERROR_PROB, IDC_FADE_PROB, IDC_BAD_GIVEN_GOOD, IDC_GOOD_GIVEN_BAD};
    static const int kLabelIds[4] = {IDC_ERROR_LABEL, kFadeLabelIds[0], kFadeLabelIds[1], kFadeLabelIds[2]};
    static const char *const kLabels[4] = {"P(error):", "P(error) in Fade:", "P(bad/good):", "P(good/bad):"};
    for (int i = 0; i < 4; ++i) {
        m_pProbs[i] = new QLineEdit(channel);
        zn::SetCtrlId(m_pProbs[i], kEditIds[i]);
        channelGrid->addWidget(Label(channel, kLabelIds[i], kLabels[i]), i, 1);
        channelGrid->addWidget(m_pProbs[i], i, 2);
    }

    m_pResult = new QPlainTextEdit(this);
    zn::SetCtrlId(m_pResult, IDC_RESULT);
    m_pResult->setReadOnly(true);
    m_pResult->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_pResult->setMinimumSize(520, 170);
    // The report's columns line up at tab stops 32 dialog units apart, as in the template's units.
    m_pResult->setTabStopDistance(zn::DluToPixelsX(32));

    auto *apply = Ctrl(new QPushButton(QStringLiteral("Apply"), this), IDC_APPLY);
    m_pDecode = Ctrl(new QPushButton(QStringLiteral("Decode Stream"), this), IDC_DECODE);
    auto *cancel = Ctrl(new QPushButton(QStringLiteral("Cancel"), this), IDCANCEL);
    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {apply, m_pDecode, cancel}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->addStretch();

    auto *grid = new QGridLayout(this);
    grid->addWidget(protocol, 0, 0);
    grid->addWidget(hiperlan, 0, 1);
    grid->addWidget(gprs, 0, 2);
    grid->addWidget(channel, 1, 0, 1, 3);
    grid->addWidget(m_pResult, 2, 0, 1, 3);
    grid->addLayout(buttons, 3, 0, 1, 3);

    connect(m_pProtocol, &zn::PushRadioGroup::Clicked, this,
            [this](int id) { SelectProtocol(id == IDC_HIPERLAN); });
    connect(m_pSchemes, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        for (int i = 0; i < 4; ++i)
            if (kSchemeIds[i] == id)
                m_nCodingScheme = i + 1;
    });
    connect(m_pModels, &zn::PushRadioGroup::Clicked, this,
            [this](int id) { SelectModel(id == IDC_RANDOM ? 1 : 2); });
    connect(m_pAlign, &QCheckBox::clicked, this, [this] { m_bAlign = m_pAlign->isChecked() ? 1 : 0; });
    for (QLineEdit *e : {m_pUsers, m_pProbs[0], m_pProbs[1], m_pProbs[2], m_pProbs[3]})
        connect(e, &QLineEdit::editingFinished, this, [this, e] { OnEditLeft(e); });
    connect(apply, &QPushButton::clicked, this, &CWirelessChannelDlg::OnWirelessApply);
    connect(m_pDecode, &QPushButton::clicked, this, [this] { done(IDOK); });
    connect(cancel, &QPushButton::clicked, this, [this] { done(IDCANCEL); });
}

bool CWirelessChannelDlg::OnInitDialog()
{
    SelectProtocol(true);
    m_pSchemes->Select(kSchemeIds[0]);
    m_nCodingScheme = 1;
    m_pAlign->setChecked(false);
    m_bAlign = 0;
    SelectModel(1);
    m_pDecode->setEnabled(false);
    UpdateData(false);
    move(300, 150);
    return true;
}

int CWirelessChannelDlg::DoModal()
{
    OnInitDialog();
    // Escape and the window's close button reject, which is Cancel.
    return exec() == IDOK ? IDOK : IDCANCEL;
}

void CWirelessChannelDlg::SelectProtocol(bool hiperlan)
{
    m_bHiperlan = hiperlan ? 1 : 0;
    m_pProtocol->Select(hiperlan ? IDC_HIPERLAN : IDC_GPRS);
    for (int id : {IDC_HIPERLAN_GROUP, IDC_USERS_LABEL, IDC_USERS})
        GetDlgItem(id)->setEnabled(hiperlan);
    for (int id : {IDC_GPRS_GROUP, IDC_SCHEME_LABEL})
        GetDlgItem(id)->setEnabled(!hiperlan);
    m_pSchemes->SetEnabled(!hiperlan);
}

void CWirelessChannelDlg::SelectModel(int model)
{
    m_nChannelModel = model;
    m_pModels->Select(model == 1 ? IDC_RANDOM : IDC_GILBERT);
    for (int i = 1; i < 4; ++i)
        m_pProbs[i]->setEnabled(model == 2);
    for (int id : kFadeLabelIds)
        GetDlgItem(id)->setEnabled(model == 2);
}

bool CWirelessChannelDlg::UpdateData(bool fromControls)
{
    double *probs[4] = {&m_dErrorProb, &m_dFadeErrorProb, &m_dBadGivenGood, &m_dGoodGivenBad};
    if (!fromControls) {
        m_pUsers->setText(QString::number(m_nUsers));
        for (int i = 0; i < 4; ++i)
            m_pProbs[i]->setText(NumberText(*probs[i]));
        return true;
    }
    auto refuse = [](QLineEdit *e, const char *text) {
        zn::ShowMessage(text, zn::MsgButtons::Ok, zn::MsgIcon::Warning);
        e->setFocus();
        return false;
    };
    bool ok = false;
    const int users = QLocale::c().toInt(m_pUsers->text().trimmed(), &ok);
    if (!ok)
        return refuse(m_pUsers, "Please enter an integer.");
    if (users < 1 || users > 1000)
        return refuse(m_pUsers, "Please enter an integer between 1 and 1000.");
    double values[4];
    for (int i = 0; i < 4; ++i) {
        values[i] = QLocale::c().toDouble(m_pProbs[i]->text().trimmed(), &ok);
        if (!ok || !std::isfinite(values[i]))
            return refuse(m_pProbs[i], "Please enter a number.");
        if (values[i] < 0.0 || values[i] > 0.5)
            return refuse(m_pProbs[i], "Please enter a number between 0 and 0.5.");
    }
    m_nUsers = users;
    for (int i = 0; i < 4; ++i)
        *probs[i] = values[i];
    return true;
}

void CWirelessChannelDlg::OnEditLeft(QLineEdit *edit)
{
    // The message box takes the focus from the edit, which would report leaving it a second time.
    static bool busy = false;
    if (busy || !edit->isModified())
        return;
    busy = true;
    if (UpdateData(true))
        edit->setModified(false);
    busy = false;
}

void CWirelessChannelDlg::ShowText(const std::string &text)
{
    m_pResult->setPlainText(
        QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    m_pResult->verticalScrollBar()->setValue(m_pResult->verticalScrollBar()->maximum());
    m_pResult->repaint();
}

void CWirelessChannelDlg::OnWirelessApply()
{
    m_stats = {};
    std::string text;
    if (m_nBitRate == -1) {
        text = "(Warning) MPEG file is VBR. Simulation will assume 1Mbit/sec CBR\r\n\r\n";
        m_nBitRate = 1000;
    }
    zn::SeedRandFromClock();
    if (!UpdateData(true))
        return;
    bool finished = false;
    {
        zn::WaitCursor wait;
        text += m_bHiperlan ? "Wait ... Simulating transmission of compressed video stream over HiperLAN\r\n"
                            : "Wait ... Simulating transmission of compressed video stream over GPRS\r\n";
        text += zn::Format("Compressed video stream has bandwidth of %d kbit/sec\r\n", m_nBitRate);
        text += "Received (possibly corrupted) compressed video stream saved as:\r\n" + m_sOutputPath;
        ShowText(text);
        zn::ChannelModel channel;
        channel.model = m_nChannelModel;
        channel.d1 = m_dErrorProb;
        channel.d2 = m_dFadeErrorProb;
        channel.d3 = m_dBadGivenGood;
        channel.d4 = m_dGoodGivenBad;
        finished = m_bHiperlan ? zn::SimulateHiperlan(m_sInputPath, m_sOutputPath, m_bAlign, channel,
                                                      m_nUsers, m_nBitRate, m_stats)
                               : zn::SimulateGprs(m_sInputPath, m_sOutputPath, m_bAlign, channel,
                                                  m_nCodingScheme, m_stats);
    }
    ShowText(zn::ChannelReport(m_stats));
    // A simulation that could not write its file has nothing to decode.
    m_pDecode->setEnabled(finished);
}
