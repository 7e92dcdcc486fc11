// The three tab pages of the subsampling dialog: the factor (with the blow-up choice), the
// anti-alias filter length and the spectrum's tapering window. Each page keeps its value(s) and
// tells its owner of a change with its WM_APP number; the owner reads the values then.
#pragma once

#include "modules/common/module_controls.h"
#include "shell/module_dialog.h"

class QCheckBox;
class QGroupBox;

// Notifications to CSsDlg.
inline constexpr int WM_SS_SPECTRUM_CHANGED = WM_APP + 6;
inline constexpr int WM_SS_FACTOR_CHANGED = WM_APP + 7;
inline constexpr int WM_SS_FILTER_CHANGED = WM_APP + 8;

class CSsFactorDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 137;
    explicit CSsFactorDlg(QWidget *parent);

    int m_nFactor = 0; // 0: no subsampling
    int m_nBlowUp = 1; // 1: "Blow-up Subsampled Image" checked

private:
    void OnApplySubsampling();
    void OnFactor(int id);
    void OnBlowUp();

    QGroupBox *m_pGroup;
    QCheckBox *m_pApply;
    zn::PushRadioGroup *m_pFactors;
    QCheckBox *m_pBlowUp;
};

class CSsFilterDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 138;
    explicit CSsFilterDlg(QWidget *parent);

    int m_nTaps = 0; // 0: no anti-alias filter

    // The owner's reset when a factor is chosen: filter on with 5 taps.
    void SetFilterOnWithFiveTaps();

private:
    void OnApplyFilter();
    void OnTaps(int id);

    QGroupBox *m_pGroup;
    QCheckBox *m_pApply;
    zn::PushRadioGroup *m_pTaps;
};

class CSsSpectrumDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 139;
    explicit CSsSpectrumDlg(QWidget *parent);

    int m_nWindow = 0; // -1: no spectrum; 0 none, 1 triangular, 3 Hamming

private:
    void OnShowSpectrum();
    void OnWindow(int id);

    QGroupBox *m_pGroup;
    QCheckBox *m_pShow;
    zn::PushRadioGroup *m_pWindows;
};
