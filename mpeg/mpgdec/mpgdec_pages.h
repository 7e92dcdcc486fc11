// The MPEG decoder's pages. Operation, Video and Display hold the decoding options and tell the
// dialog of every change; Save... names the YUV file that the next Apply writes; Wireless Channel
// sends the document's stream through the channel simulator and switches the document between the
// received copy and the original stream.
#pragma once

#include "modules/common/module_controls.h"
#include "shell/module_dialog.h"

#include <string>

class QCheckBox;
class QPushButton;

inline constexpr int WM_MPGDEC_VIDEO_CHANGED = WM_APP + 0x14;
inline constexpr int WM_MPGDEC_MODE_CHANGED = WM_APP + 0x20;
inline constexpr int WM_MPGDEC_DISPLAY_CHANGED = WM_APP + 0x21;

class CMpgdecOperationDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 217;
    static constexpr int IDC_GROUP = 1870;
    static constexpr int kModeIds[3] = {1871, 1872, 1873};
    explicit CMpgdecOperationDlg(QWidget *parent);

    int m_nMode = 0; // 0 decoded frames, 1 prediction, 2 coded difference

private:
    zn::PushRadioGroup *m_pModes;
};

class CMpgdecVideoDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 218;
    static constexpr int IDC_GROUP = 1874;
    static constexpr int IDC_FRAME_BY_FRAME = 1875;
    static constexpr int kLoopIds[4] = {1876, 1877, 1878, 1879};
    static constexpr int kLoops[4] = {1, 3, 5, 10};
    explicit CMpgdecVideoDlg(QWidget *parent);

    int m_bFrameByFrame = 0;
    int m_nLoops = 1;

private:
    zn::PushRadioGroup *m_pChoices;
};

class CMpgdecDisplayDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 219;
    static constexpr int IDC_GROUP = 1371;
    static constexpr int IDC_COLOR = 1372;
    static constexpr int IDC_OVERLAY = 2108;
    static constexpr int IDC_NO_B = 2109;
    explicit CMpgdecDisplayDlg(QWidget *parent);

    int m_bNoBFrames = 0;
    int m_bVectorOverlay = 0;
    int m_bColorDisplay = 1;

private:
    QCheckBox *m_pColor, *m_pOverlay, *m_pNoB;
};

class CMpgdecSaveDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 250;
    static constexpr int IDC_GROUP = 2138;
    static constexpr int IDC_SAVE = 2139;
    explicit CMpgdecSaveDlg(QWidget *parent);

    std::string m_sPath;
    int m_bChosen = 0;
    void OnSaveAs();

private:
    QPushButton *m_pSave;
};

class CMpgdecChannelDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 262;
    static constexpr int IDC_GROUP = 2183;
    static constexpr int IDC_SIMULATE = 1586;
    static constexpr int IDC_RELOAD = 1615;
    static constexpr const char *kNotFilled = "__not__filled__yet__";
    explicit CMpgdecChannelDlg(QWidget *parent);

    // The stream, its title and the dialog's caption before the first simulation.
    std::string m_sSavedPath = kNotFilled;
    std::string m_sSavedCaption;
    std::string m_sSavedTitle;

    void OnMpgdecchannelOk();
    void OnReloadOriginal();
};
