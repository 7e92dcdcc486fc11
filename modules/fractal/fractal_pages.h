// The four tab pages of the fractal dialog: block sizes, split threshold, bits of the grey-level map
// and decoder iterations. Each page keeps its values and tells its owner of a change with its WM_APP
// number; the owner copies the values into its pending parameters.
#pragma once

#include "modules/common/module_controls.h"
#include "shell/module_dialog.h"

class QLineEdit;
class QSpinBox;

inline constexpr int WM_FIC_OFFSET_CHANGED = WM_APP + 15;
inline constexpr int WM_FIC_SCALING_CHANGED = WM_APP + 16;
inline constexpr int WM_FIC_SIZE_CHANGED = WM_APP + 17;
inline constexpr int WM_FIC_THRESHOLD_CHANGED = WM_APP + 18;
inline constexpr int WM_FIC_ITERATIONS_CHANGED = WM_APP + 19;

class CFICSizeDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 153;
    explicit CFICSizeDlg(QWidget *parent);
    int m_nMax = 16;
    int m_nMin = 4;

private:
    void OnMax(int id);
    void OnMin(int id);
    // A maximum disables the larger minima, a minimum the smaller maxima: the minimum never
    // exceeds the maximum.
    void ApplyRangeRule();
    zn::PushRadioGroup *m_pMax;
    zn::PushRadioGroup *m_pMin;
};

// A read-only centred edit with a spin control as its buddy: the spin control writes its position
// into the edit, and the page reads the edit.
class CFICSpinPage : public CModulePage
{
    Q_OBJECT
public:
    struct Layout
    {
        int idd;
        int groupId;
        const char *groupText;
        int editId;
        int spinId;
        int low, high, initial;
        int message;
    };
    CFICSpinPage(const Layout &layout, QWidget *parent);
    int m_nValue;
    QSpinBox *Spin() const { return m_pSpin; }

private:
    void OnEditChanged();
    QSpinBox *m_pSpin;
    QLineEdit *m_pEdit;
    int m_nMessage;
};

class CFICThresholdDlg : public CFICSpinPage
{
    Q_OBJECT
public:
    static constexpr int IDD = 152;
    explicit CFICThresholdDlg(QWidget *parent);
};

class CFICIterationsDlg : public CFICSpinPage
{
    Q_OBJECT
public:
    static constexpr int IDD = 151;
    explicit CFICIterationsDlg(QWidget *parent);
};

class CFICBitsDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 191;
    explicit CFICBitsDlg(QWidget *parent);
    int m_nScaling = 4;
    int m_nOffset = 6;

private:
    zn::PushRadioGroup *m_pScaling;
    zn::PushRadioGroup *m_pOffset;
};
