// The tab pages of the H.264 encoder dialog. Each page keeps its own values and tells the dialog after
// every change with its own message; the dialog copies the values into the settings it writes. Four
// pages share one spinner that edits the value their radio buttons choose.
#pragma once

#include "modules/common/module_controls.h"
#include "shell/dialog_support.h"
#include "shell/module_dialog.h"

#include <QSpinBox>
#include <QString>
#include <functional>

class QCheckBox;
class QGroupBox;
class QLineEdit;

inline constexpr int WM_H264ENC_FILE_CHOSEN = WM_APP + 0x3a;
inline constexpr int WM_H264ENC_SEARCH_MODES = WM_APP + 0x3b;
inline constexpr int WM_H264ENC_SEARCH_RANGE = WM_APP + 0x3c;
inline constexpr int WM_H264ENC_BFRAMES = WM_APP + 0x3d;
inline constexpr int WM_H264ENC_SPFRAMES = WM_APP + 0x3e;
inline constexpr int WM_H264ENC_ENTROPY = WM_APP + 0x3f;
inline constexpr int WM_H264ENC_INTRA = WM_APP + 0x40;
inline constexpr int WM_H264ENC_INTRA_CONT = WM_APP + 0x41;
inline constexpr int WM_H264ENC_INTER_FRAME = WM_APP + 0x42;

// The settings file carries paths in double quotes, and '#' starts a comment in it: a path holding
// either (or a line end) cannot be written there. Such a path gets a message and false.
bool H264encPathFitsSettings(const QString &path);

// A spin box that lets its page renew the range just before a step is taken, so a limit that
// depends on the dialog's other values is always the current one.
class H264encSpinBox : public QSpinBox
{
    Q_OBJECT
public:
    explicit H264encSpinBox(QWidget *parent) : QSpinBox(parent) {}
    std::function<void()> beforeStep;
    void stepBy(int steps) override;
};

// One spinner with its read-only buddy edit, which edits the value chosen by a row of radio buttons;
// the group box names that value.
class CH264encSpinPage : public CModulePage
{
    Q_OBJECT
public:
    struct Radio
    {
        int id;
        const char *text;
    };
    H264encSpinBox *Spin() const { return m_pSpin; }
    QLineEdit *Edit() const { return m_pEdit; }
    QGroupBox *Group() const { return m_pGroup; }

protected:
    CH264encSpinPage(int idd, int groupId, const char *groupText, int editId, int spinId,
                     std::initializer_list<Radio> radios, QWidget *parent);
    // Group text, range and position, as a radio button sets them. The page's edit handler then
    // sees the position it was given.
    void ShowValue(const char *groupText, int low, int high, int position);
    // A new upper end of the range; a position beyond it moves to it, and the page hears of the move.
    void RenewRange(int low, int high);
    // The edit's number changed (the spinner wrote it): store it into the value being edited.
    virtual void OnEditChanged(int value) = 0;
    virtual void OnRadio(int id) = 0;

    QGroupBox *m_pGroup;
    zn::PushRadioGroup *m_pRadios;
    H264encSpinBox *m_pSpin;
    QLineEdit *m_pEdit;
    QWidget *m_pSpinRow; // the spinner's row, hidden where a page shows other controls instead

private:
    void EditChanged();
};

// File (292): names the output stream. The dialog enables its other pages and Apply once a name is
// chosen.
class CH264encFileDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 292;
    static constexpr int IDC_GROUP = 2012;
    static constexpr int IDC_SAVE_AS = 2013;
    // title: the document image's title, the proposed file name's stem.
    CH264encFileDlg(std::function<QString()> title, QWidget *parent);
    QString m_sPath;     // the chosen path, its case kept
    QString m_sFileName; // its file name part

private:
    void OnSaveAs();
    std::function<QString()> m_title;
};

// Inter Search Modes (293): the seven partition sizes the motion search may use.
class CH264encSearchModesDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 293;
    static constexpr int IDC_GROUP = 2021;
    static constexpr int IDC_16x16 = 2014, IDC_16x8 = 2015, IDC_8x16 = 2016, IDC_8x8 = 2017, IDC_8x4 = 2018,
                         IDC_4x4 = 2019, IDC_4x8 = 2020;
    explicit CH264encSearchModesDlg(QWidget *parent);
    int m_b4x4 = 1, m_b4x8 = 1, m_b8x4 = 1, m_b8x8 = 1, m_b8x16 = 1, m_b16x8 = 1, m_b16x16 = 1;
};

// Inter Search (294): the search range in whole samples.
class CH264encSearchDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 294;
    static constexpr int IDC_GROUP = 2022;
    struct Choice
    {
        int id;
        int range;
    };
    static constexpr Choice kChoices[10] = {{2023, 1},  {2024, 4},  {2025, 8},  {2000, 12}, {2001, 16},
                                            {2026, 20}, {2027, 25}, {2028, 30}, {2002, 35}, {2003, 39}};
    explicit CH264encSearchDlg(QWidget *parent);
    int m_nSearchRange = 16;
};

// Entropy Coding (297): CABAC or the variable-length codes.
class CH264encEntropyDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 297;
    static constexpr int IDC_GROUP = 2043;
    static constexpr int IDC_UVLC = 2044;
    static constexpr int IDC_CABAC = 2045;
    explicit CH264encEntropyDlg(QWidget *parent);
    int m_bCabac = 1;
};

// IntraFrame cont (300): the Hadamard transform and constrained intra prediction.
class CH264encIntraContDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 300;
    static constexpr int IDC_GROUP = 2061;
    static constexpr int IDC_HADAMARD = 2062;
    static constexpr int IDC_INTER_PIXELS = 2063;
    explicit CH264encIntraContDlg(QWidget *parent);
    int m_bHadamard = 1;
    int m_bConstrainedIntra = 0;
};

// One spinner for a period of pictures (limited by the dialog's number of I/P pictures to code) and
// two quantisers.
class CH264encPeriodPage : public CH264encSpinPage
{
    Q_OBJECT
public:
    struct Layout
    {
        int idd, groupId;
        const char *groupText;
        int editId, spinId;
        Radio period, firstQp, secondQp;
        const char *periodTitle, *firstQpTitle, *secondQpTitle;
        int firstQpStart, secondQpStart;
        int message;
    };
    int m_nPeriod = 0;
    int m_nQP[2] = {0, 0};
    int m_bFirstQP = 0; // which value the spinner edits
    int m_bPeriod = 1;
    // The dialog lowers the period; the spinner follows when it shows the period.
    void SetPeriod(int period);

protected:
    // picturesToCode: the dialog's number of I and P pictures to code, the period's limit + 1.
    CH264encPeriodPage(const Layout &layout, std::function<int()> picturesToCode, QWidget *parent);
    void OnEditChanged(int value) override;
    void OnRadio(int id) override;

private:
    Layout m_layout;
    std::function<int()> m_picturesToCode;
};

// IntraFrame (298): the I-picture period and the quantisers of the first and of the other pictures.
class CH264encIntraDlg : public CH264encPeriodPage
{
    Q_OBJECT
public:
    static constexpr int IDD = 298;
    static constexpr int IDC_GROUP = 2046;
    static constexpr int IDC_EDIT = 2047;
    static constexpr int IDC_SPIN = 2048;
    static constexpr int IDC_I_FRAMES = 2049;
    static constexpr int IDC_QP_FIRST = 2050;
    static constexpr int IDC_QP_REMAIN = 2051;
    CH264encIntraDlg(std::function<int()> picturesToCode, QWidget *parent);
    int &m_nQPFirst = m_nQP[0];
    int &m_nQPRemain = m_nQP[1];
};

// SP frames (296): the same scheme for SP pictures. The dialog never creates it.
class CH264encSPFramesDlg : public CH264encPeriodPage
{
    Q_OBJECT
public:
    static constexpr int IDD = 296;
    static constexpr int IDC_GROUP = 2038;
    static constexpr int IDC_SP_FRAMES = 2037;
    static constexpr int IDC_EDIT = 2039;
    static constexpr int IDC_SPIN = 2040;
    static constexpr int IDC_QP_BLOCK = 2041;
    static constexpr int IDC_QP_ERROR = 2042;
    CH264encSPFramesDlg(std::function<int()> picturesToCode, QWidget *parent);
    int &m_nQPBlock = m_nQP[0];
    int &m_nQPError = m_nQP[1];
};

// B-Frames (295): the number of B pictures between I/P pictures, their quantiser and the direct mode.
class CH264encBFramesDlg : public CH264encSpinPage
{
    Q_OBJECT
public:
    static constexpr int IDD = 295;
    static constexpr int IDC_B_FRAMES = 2029;
    static constexpr int IDC_QP = 2030;
    static constexpr int IDC_GROUP = 2031;
    static constexpr int IDC_SPIN = 2032;
    static constexpr int IDC_EDIT = 2033;
    static constexpr int IDC_DIRECT = 2034;
    static constexpr int IDC_SPATIAL = 2035;
    static constexpr int IDC_TEMPORAL = 2036;
    // frameSkip: the dialog's frames to be skipped, the most B pictures there is room for.
    CH264encBFramesDlg(std::function<int()> frameSkip, QWidget *parent);
    int m_bDirectSpatial = 1;
    int m_nQP = 30;
    int m_nBFrames = 1;
    int m_bSetBFrames = 1;
    int m_bSetQP = 0;
    // The dialog lowers the count; the spinner follows when it shows the count.
    void SetBFrames(int count);

protected:
    void OnEditChanged(int value) override;
    void OnRadio(int id) override;

private:
    void OnDirect(int id);
    std::function<int()> m_frameSkip;
    zn::PushRadioGroup *m_pDirect;
    QWidget *m_pDirectRow;
};

// InterFrame (299): reference pictures, frames skipped between coded pictures, forced intra
// macroblocks per picture.
class CH264encInterDlg : public CH264encSpinPage
{
    Q_OBJECT
public:
    static constexpr int IDD = 299;
    static constexpr int IDC_REFERENCE = 2052;
    static constexpr int IDC_SKIP = 2053;
    static constexpr int IDC_INTRA_MB = 2054;
    static constexpr int IDC_EDIT = 2056;
    static constexpr int IDC_SPIN = 2057;
    static constexpr int IDC_GROUP = 2058;
    // frames: the sequence's frame count; macroblocks: macroblocks per picture.
    CH264encInterDlg(std::function<int()> frames, std::function<int()> macroblocks, QWidget *parent);
    int m_nIntraMBs = 0;
    int m_nReferences = 1;
    int m_nSkip = 1;
    int m_bSetSkip = 0;
    int m_bSetReferences = 1;

protected:
    void OnEditChanged(int value) override;
    void OnRadio(int id) override;

private:
    std::function<int()> m_frames;
    std::function<int()> m_macroblocks;
};
