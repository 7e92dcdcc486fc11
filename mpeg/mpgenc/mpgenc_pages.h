// The MPEG encoder's pages: the output file and MPEG type, the bit rate, the GOP structure, the
// maximum motion, the video source, and field or frame coding. Each page keeps its values and tells
// the dialog of every change with its own message.
#pragma once

#include "modules/common/module_controls.h"
#include "shell/dialog_support.h"
#include "shell/module_dialog.h"

#include <vector>

class QCheckBox;
class QPushButton;

inline constexpr int WM_MPGENC_MPEG_TYPE = WM_APP + 0x05;
inline constexpr int WM_MPGENC_FIELD_FRAME = WM_APP + 0x22;
inline constexpr int WM_MPGENC_SAVE_AS = WM_APP + 0x23;
inline constexpr int WM_MPGENC_GOP = WM_APP + 0x24;
inline constexpr int WM_MPGENC_MOTION = WM_APP + 0x25;
inline constexpr int WM_MPGENC_RATE = WM_APP + 0x26;
inline constexpr int WM_MPGENC_SOURCE = WM_APP + 0x27;
inline constexpr int WM_MPGENC_TOP_FIRST = WM_APP + 0x28;

struct MpgencChoice
{
    int id;
    const char *text;
};

// A group of push-like radio buttons in a grid; the n-th button sets the value n (from 1).
class CMpgencChoicePage : public CModulePage
{
    Q_OBJECT
public:
    CMpgencChoicePage(int idd, int groupId, const char *groupText, std::vector<MpgencChoice> choices,
                      int columns, int defaultValue, int message, QWidget *parent);
    int m_nValue;

private:
    zn::PushRadioGroup *m_pChoices;
};

// Rate (224), Gop (225) and Motion (226).
CMpgencChoicePage *MakeMpgencRatePage(QWidget *parent);
CMpgencChoicePage *MakeMpgencGopPage(QWidget *parent);
CMpgencChoicePage *MakeMpgencMotionPage(QWidget *parent);

class CMpgencFileDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 222;
    static constexpr int IDC_GROUP = 1481;
    static constexpr int IDC_SAVE_AS = 1382;
    static constexpr int IDC_MPEG1 = 1386;
    static constexpr int IDC_MPEG2 = 1388;
    explicit CMpgencFileDlg(QWidget *parent);
    void EnableTypeChoice(bool enable);
    int m_nMpeg1 = 1;

private:
    zn::PushRadioGroup *m_pType;
};

class CMpgencFormatDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 227;
    static constexpr int IDC_GROUP = 1485;
    static constexpr int IDC_PROGRESSIVE = 2120;
    static constexpr int IDC_INTERLACED = 2121;
    static constexpr int IDC_TOP_FIRST = 1401;
    explicit CMpgencFormatDlg(QWidget *parent);
    QCheckBox *TopFirstBox() const { return m_pTopFirst; }
    int m_nProgressive = 1;
    int m_bTopFieldFirst = 1;

private:
    QCheckBox *m_pTopFirst;
};

class CMpgencFieldFrameDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 228;
    static constexpr int IDC_GROUP = 1486;
    static constexpr int IDC_FIELD = 1407;
    static constexpr int IDC_FRAME = 1404;
    static constexpr int IDC_LABEL = 1487;
    static constexpr int IDC_I = 1408;
    static constexpr int IDC_P = 1409;
    static constexpr int IDC_B = 1410;
    explicit CMpgencFieldFrameDlg(QWidget *parent);
    int m_nFieldCoding = 0;
    int m_bFrameDct[3] = {0, 0, 0}; // I, P, B

private:
    QCheckBox *m_pBoxes[3];
};
