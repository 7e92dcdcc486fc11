// The parameter pages of the JPEG dialog: quality or target bit rate, quantisation table, Huffman
// coding, output smoothing, restart markers and channel errors. Each page keeps its own values and
// tells its owner of a change with its WM_APP number; the owner then reads the page's values.
#pragma once

#include "modules/common/module_controls.h"
#include "shell/module_dialog.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QToolButton;

// Notifications to CJpgDlg.
inline constexpr int WM_JPG_BITRATE_CHANGED = WM_APP + 1;
inline constexpr int WM_JPG_ERRORS_CHANGED = WM_APP + 3;
inline constexpr int WM_JPG_SMOOTHING_CHANGED = WM_APP + 22;
inline constexpr int WM_JPG_QUANT_CHANGED = WM_APP + 24;
inline constexpr int WM_JPG_HUFFMAN_CHANGED = WM_APP + 25;
inline constexpr int WM_JPG_MARKERS_CHANGED = WM_APP + 26;
inline constexpr int WM_JPG_MATRIX_DESIGNED = WM_APP + 73;

// An up-down control: two arrow buttons that step an integer position within a range and write it
// into their buddy edit as a number. Before each step it tells of the coming change (deltaPos), as a
// page may want to know that the next change of the edit came from the arrows. The arrow keys in
// the buddy step it too, and Page Up and Page Down by kPageStep.
class CUpDownCtrl : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kPageStep = 10;
    CUpDownCtrl(int id, QLineEdit *buddy, QWidget *parent);
    void SetRange(int lower, int upper);
    // Sets the position (limited to the range) and writes it into the buddy.
    void SetPos(int pos);
    int GetPos() const { return m_nPos; }
    int Lower() const { return m_nLower; }
    int Upper() const { return m_nUpper; }
    // A step up (+) or down (-), as a click on an arrow (one) or a page key (kPageStep).
    void Step(int delta);

signals:
    void deltaPos(int delta);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLineEdit *m_pBuddy;
    int m_nLower = 0, m_nUpper = 100, m_nPos = 0;
};

class CJpgBitrateDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 201;
    explicit CJpgBitrateDlg(QWidget *parent);

    float m_fBitrate = -1.0f; // target bits per pixel
    int m_nQuality = 75;
    int m_nQualityMode = 1; // 1 quality, 0 bit rate

    CUpDownCtrl *UpDown() const { return m_pUpDown; }

private:
    void OnQuality();
    void OnBitrate();
    void OnChangeEdit();

    QGroupBox *m_pGroup;
    zn::PushRadioGroup *m_pMode;
    QLineEdit *m_pEdit;
    CUpDownCtrl *m_pUpDown;
    bool m_bArrowClicked = false; // set by the arrows, cleared by the edit change it causes
};

class CJpgQuantDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 197;
    static constexpr int IDC_PERCEPTUAL = 1305;
    explicit CJpgQuantDlg(QWidget *parent);
    int m_nQuantTable = 0;

private:
    zn::PushRadioGroup *m_pTables;
};

class CJpgHuffmanDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 198;
    explicit CJpgHuffmanDlg(QWidget *parent);
    int m_nHuffman = 1;

private:
    zn::PushRadioGroup *m_pModes;
};

class CJpgSmoothDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 196;
    explicit CJpgSmoothDlg(QWidget *parent);
    int m_nSmoothing = 0;

private:
    QCheckBox *m_pSmooth;
};

class CJpgMarkersDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 200;
    explicit CJpgMarkersDlg(QWidget *parent);
    int m_nRestartValue = 0;
    int m_nRestartUnit = 0;

private:
    void OnRestartMarkers();
    QCheckBox *m_pMarkers;
    QGroupBox *m_pGroup;
    zn::PushRadioGroup *m_pAfter;
};

class CJpgErrorsDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 199;
    explicit CJpgErrorsDlg(QWidget *parent);
    float m_fErrorProb = 0.0f;

private:
    void OnSimulateErrors();
    QCheckBox *m_pSimulate;
    QGroupBox *m_pGroup;
    zn::PushRadioGroup *m_pProb;
};
