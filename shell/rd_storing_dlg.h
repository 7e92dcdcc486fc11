// The R(D) storing dialog: starts and stops the recording of one module's results as one named
// curve (a profile), deletes profiles, shows the store's last message and, on a right click, the
// store's status report. The store talks back to it through RDStoringLink.
#pragma once

#include "shell/rd_database.h"
#include "shell/zn_dialog.h"

#include <string>

class CDibDoc;
class QComboBox;
class QLabel;
class QPushButton;

class CRDStoringDlg : public CZnDialog, public zn::RDStoringLink
{
    Q_OBJECT
public:
    static constexpr int IDD = 270;
    enum Control {
        IDC_RD_START = 1634,
        IDC_RD_STOP = 1635,
        IDC_RD_MODULES = 1648,
        IDC_RD_PROFILES = 1640,
        IDC_RD_DELETE_PROFILE = 1641,
        IDC_RD_DELETE_ALL = 1642,
        IDC_RD_LAST_MESSAGE = 2184,
        IDC_RD_MINIMIZE = 1644,
        ID_RD_REPORT_STATUS = 1652, // a command no control sends: the status report
    };

    // store: the document's m_pRDData (given on its own so the dialog also runs without a document).
    CRDStoringDlg(CDibDoc *doc, zn::CRDDataBase *store, QWidget *parent = nullptr);

    // zn::RDStoringLink
    void SetLastMessage(const std::string &text) override;
    void UpdateModuleList() override;
    void SetStoppedState() override;

    void RestoreWindow();
    void DisplayModuleActivated(const std::string &key);

    void OnRdStoringStart();
    void OnRdStoringStop();
    void OnRdStoringDeleteProfile();
    void OnRdStoringDeleteAll();
    void OnRdStoringMinimize();
    void OnCancel();
    void OnCommand(int id);
    void reject() override { OnCancel(); }

    CDibDoc *m_pStartDibDoc = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class Verdict { StoredProfile, NewName, DefaultWanted };
    Verdict ChosenProfileName(std::string *name) const;
    void UpdateProfileList();
    void RefreshPlotDialog();
    void SetRecordingControls(bool recording);
    void OnInitDialog();

    zn::CRDDataBase *m_pRDData;
    QPushButton *m_pStart;
    QPushButton *m_pStop;
    QComboBox *m_pModules;
    QComboBox *m_pProfiles;
    QPushButton *m_pDeleteProfile;
    QPushButton *m_pDeleteAll;
    QLabel *m_pLastMessage;
    QPushButton *m_pMinimize;
    QPushButton *m_pCancel;
    bool m_bProfileTyped = false; // the edit text was typed, not picked from the list
};

// Profile names of all closed curves, in the order a sorted list shows them.
std::vector<std::string> RDClosedProfileNames(const zn::CRDDataBase &store);
