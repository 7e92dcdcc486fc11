// The R(D) plotting dialog: draws a stored profile as bit rate against SNR or PSNR in its graph
// view, adds further profiles to the same graph, and saves the graph as PostScript.
#pragma once

#include "shell/rd_database.h"
#include "shell/rd_view.h"
#include "shell/zn_dialog.h"

#include <string>

class CDibDoc;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

class CRDPlotDlg : public CZnDialog, public zn::RDPlotLink
{
    Q_OBJECT
public:
    static constexpr int IDD = 269;
    enum Control {
        IDC_RDPLOT_AREA = 2185,
        IDC_RDPLOT_PLOTCURVE = 1626,
        IDC_RDPLOT_PLOTANOTHERCURVE = 1627,
        IDC_RDPLOT_PROFILES = 1625,
        IDC_RDPLOT_AUTOMATIC = 1632,
        IDC_RDPLOT_SNR = 1636,
        IDC_RDPLOT_PSNR = 1637,
        IDC_RDPLOT_RATE_FROM = 1628,
        IDC_RDPLOT_RATE_TO = 1629,
        IDC_RDPLOT_VALUE_FROM = 1630,
        IDC_RDPLOT_VALUE_TO = 1631,
        IDC_RDPLOT_SAVE = 1642,
    };

    CRDPlotDlg(CDibDoc *doc, zn::CRDDataBase *store, QWidget *parent = nullptr);

    // zn::RDPlotLink
    void UpdateProfileList() override;

    void OnRdplotPlotcurve();
    void OnRdplotPlotanothercurve();
    void OnAutomaticScale();
    void OnSaveAsPostScript();
    void OnCancel();
    void reject() override { OnCancel(); }

    zn::CRDView *View() const { return m_pView; }

    std::string m_sPlotType = "SNR";
    std::string m_sCurrentPlotType = "SNR";
    bool m_bAutomaticScale = true;
    CDibDoc *m_pStartDibDoc = nullptr;
    float m_fRateFrom = 0.5f;
    float m_fRateTo = 7.0f;
    float m_fValueTo = 40.0f;
    float m_fValueFrom = 0.0f;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Data exchange of the four scale edits: to the controls, or from them with range checks (a
    // message and false at the first bad entry; earlier entries are taken).
    bool UpdateData(bool fromControls);
    void OnScaleEditKillFocus(QLineEdit *edit);
    bool FindProfile(int *slot, int *curve) const;
    const float *PlotValues(int slot, int curve) const;

    zn::CRDDataBase *m_pRDData;
    zn::CRDView *m_pView;
    QPushButton *m_pShow;
    QPushButton *m_pAdd;
    QComboBox *m_pProfiles;
    QCheckBox *m_pAutomatic;
    QPushButton *m_pSnr;
    QPushButton *m_pPsnr;
    QLineEdit *m_pRateFrom;
    QLineEdit *m_pRateTo;
    QLineEdit *m_pValueFrom;
    QLineEdit *m_pValueTo;
    QPushButton *m_pSave;
    QPushButton *m_pCancel;
    bool m_bCheckingScale = false; // a scale edit's check is running
};
