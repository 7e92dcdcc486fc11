// The three tab pages of the PCM dialog: bits per pixel, dither and channel errors. Each page tells
// its owner of a change with its WM_APP number; the dialog reads the controls itself.
#pragma once

#include "modules/common/module_controls.h"
#include "shell/module_dialog.h"

class QCheckBox;
class QGroupBox;

// Notifications to CPcmDlg.
inline constexpr int WM_PCM_BITS_CHANGED = WM_APP + 1;
inline constexpr int WM_PCM_DITHER_CHANGED = WM_APP + 2;
inline constexpr int WM_PCM_ERRORS_CHANGED = WM_APP + 3;

class CPcmBitrateDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 130;
    explicit CPcmBitrateDlg(QWidget *parent);

private:
    zn::PushRadioGroup *m_pBits;
};

class CPcmDitherDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 131;
    explicit CPcmDitherDlg(QWidget *parent);

private:
    void OnApplyDither();
    QGroupBox *m_pGroup;
    zn::PushRadioGroup *m_pFactor;
    QCheckBox *m_pApply;
    QCheckBox *m_pSubtract;
};

class CPcmErrorsDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 132;
    explicit CPcmErrorsDlg(QWidget *parent);

private:
    void OnSimulateErrors();
    QGroupBox *m_pGroup;
    zn::PushRadioGroup *m_pProb;
    QCheckBox *m_pSimulate;
};
