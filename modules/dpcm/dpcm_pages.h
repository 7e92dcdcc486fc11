// The four tab pages of the DPCM dialog: prediction model, bits per sample, number of levels and
// channel errors. The pages keep no values: each tells its owner of a change with its WM_APP number
// and the dialog reads the page's controls itself.
#pragma once

#include "modules/common/module_controls.h"
#include "shell/module_dialog.h"

class QCheckBox;
class QGroupBox;

// Notifications to CDpcmDlg.
inline constexpr int WM_DPCM_BITS_CHANGED = WM_APP + 1;
inline constexpr int WM_DPCM_ERRORS_CHANGED = WM_APP + 3;
inline constexpr int WM_DPCM_MODEL_CHANGED = WM_APP + 4;
inline constexpr int WM_DPCM_LEVELS_CHANGED = WM_APP + 5;

class CDpcmModelDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 135;
    explicit CDpcmModelDlg(QWidget *parent);
    zn::PushRadioGroup *Models() const { return m_pModels; }

private:
    zn::PushRadioGroup *m_pModels;
};

class CDpcmBitrateDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 146;
    explicit CDpcmBitrateDlg(QWidget *parent);
    zn::PushRadioGroup *Bits() const { return m_pBits; }

private:
    zn::PushRadioGroup *m_pBits;
};

class CDpcmLevelsDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 148;
    explicit CDpcmLevelsDlg(QWidget *parent);
    zn::PushRadioGroup *Levels() const { return m_pLevels; }

private:
    zn::PushRadioGroup *m_pLevels;
};

class CDpcmErrorsDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 147;
    explicit CDpcmErrorsDlg(QWidget *parent);

private:
    void OnSimulateErrors();
    QGroupBox *m_pGroup;
    zn::PushRadioGroup *m_pProb;
    QCheckBox *m_pSimulate;
};
