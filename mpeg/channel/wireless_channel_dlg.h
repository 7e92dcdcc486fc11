// CWirelessChannelDlg: the modal "Channel and Protocol Model for Wireless Transmission" dialog. The
// user picks HiperLAN (shared by several users) or GPRS (one of four coding schemes), random or
// Gilbert-Elliot errors and their probabilities; Apply sends the stream file through the link and
// reports what happened; "Decode Stream" then hands the received file to the decoder.
#pragma once

#include "mpeg/channel/wireless_channel.h"
#include "shell/zn_dialog.h"

#include <string>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace zn {
class PushRadioGroup;
}

class CWirelessChannelDlg : public CZnDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 263;
    static constexpr int IDC_APPLY = 1588;
    static constexpr int IDC_DECODE = 1367;
    static constexpr int IDC_RESULT = 1589;
    static constexpr int IDC_HIPERLAN = 1594;
    static constexpr int IDC_GPRS = 1595;
    static constexpr int IDC_ALIGN = 1596;
    static constexpr int IDC_USERS = 1597;
    static constexpr int IDC_ERROR_PROB = 1598;
    static constexpr int IDC_RANDOM = 1599;
    static constexpr int IDC_GILBERT = 1600;
    static constexpr int kSchemeIds[4] = {1601, 1602, 1603, 1604};
    static constexpr int IDC_FADE_PROB = 1605;
    static constexpr int IDC_BAD_GIVEN_GOOD = 1606;
    static constexpr int IDC_GOOD_GIVEN_BAD = 1607;
    static constexpr int kFadeLabelIds[3] = {1610, 1611, 1612};
    // Groups and labels the user never reaches by id; ours.
    static constexpr int IDC_PROTOCOL_GROUP = 1590;
    static constexpr int IDC_HIPERLAN_GROUP = 1591;
    static constexpr int IDC_GPRS_GROUP = 1592;
    static constexpr int IDC_CHANNEL_GROUP = 1593;
    static constexpr int IDC_USERS_LABEL = 1608;
    static constexpr int IDC_SCHEME_LABEL = 1609;
    static constexpr int IDC_ERROR_LABEL = 1613;

    explicit CWirelessChannelDlg(QWidget *parent = nullptr);

    // Set by the caller before DoModal.
    int m_nBitRate = -1; // kbit/s, -1 for a variable rate
    std::string m_sOutputPath;
    std::string m_sInputPath;

    int m_nUsers = 1;
    double m_dErrorProb = 0.00001;
    double m_dFadeErrorProb = 0.01;
    double m_dBadGivenGood = 0.00001;
    double m_dGoodGivenBad = 0.01;
    int m_nChannelModel = 1;
    uint8_t m_bAlign = 0;
    int m_nCodingScheme = 1;
    uint8_t m_bHiperlan = 1;

    // Runs the dialog; IDOK after "Decode Stream", IDCANCEL otherwise.
    int DoModal();
    void OnWirelessApply();
    const zn::ChannelStats &Stats() const { return m_stats; }

    // Values between the members and the controls; reading refuses (with its message) an entry
    // outside its range, and the member keeps its value.
    bool UpdateData(bool fromControls);

protected:
    bool OnInitDialog();

private:
    void BuildTemplate();
    void SelectProtocol(bool hiperlan);
    void SelectModel(int model);
    void OnEditLeft(QLineEdit *edit);
    void ShowText(const std::string &text);

    zn::ChannelStats m_stats;
    zn::PushRadioGroup *m_pProtocol = nullptr;
    zn::PushRadioGroup *m_pSchemes = nullptr;
    zn::PushRadioGroup *m_pModels = nullptr;
    QCheckBox *m_pAlign = nullptr;
    QLineEdit *m_pUsers = nullptr;
    QLineEdit *m_pProbs[4] = {};
    QPushButton *m_pDecode = nullptr;
    QPlainTextEdit *m_pResult = nullptr;
};
