// CMpgencDlg: the MPEG-1/2 encoder module. Its pages choose the output file and MPEG type, the bit
// rate, the GOP structure, the maximum motion, the video source and field or frame coding; Apply
// codes the document's raw YUV sequence, reporting every coded picture in the result box and showing
// each reconstructed frame in the document's own window.
#pragma once

#include "mpeg/mpgenc/mpgenc.h"
#include "shell/module_dialog.h"

class CMpgencChoicePage;
class CMpgencFieldFrameDlg;
class CMpgencFileDlg;
class CMpgencFormatDlg;

class CMpgencDlg : public CModuleDialog, public MpegEncoderSink
{
    Q_OBJECT
public:
    static constexpr int IDD = 221;
    static constexpr int IDC_APPLY = 2110;
    static constexpr int IDC_GROUP = 1378;
    static constexpr int IDC_RESULTS = 1379;
    static constexpr int IDC_TAB = 1380;
    enum Tab { kFileTab, kRateTab, kGopTab, kMotionTab, kFormatTab, kFieldFrameTab };

    CMpgencDlg();
    void OnMpgencApply();

    // The coding run's reports.
    void ShowDecodingInfo(const MpegPictureReport &report) override;
    void ShowCodedFrame(const uint8_t *const planes[3], int width, int height, int frameNo) override;

    // The pending parameters, as the pages last set them.
    MpegEncoderParams m_params;

    CMpgencFileDlg *FilePage() const { return m_pFilePage; }
    CMpgencChoicePage *RatePage() const { return m_pRatePage; }
    CMpgencChoicePage *GopPage() const { return m_pGopPage; }
    CMpgencChoicePage *MotionPage() const { return m_pMotionPage; }
    CMpgencFormatDlg *FormatPage() const { return m_pFormatPage; }
    CMpgencFieldFrameDlg *FieldFramePage() const { return m_pFieldFramePage; }

protected:
    void CreatePages() override;
    bool OnInitDialog() override;
    void OnPageMessage(int message) override;

private:
    void OnSaveAs();
    void EnableFormatTabs();
    void RunEncoder();

    QString m_sResults;
    CMpgencFileDlg *m_pFilePage = nullptr;
    CMpgencChoicePage *m_pRatePage = nullptr;
    CMpgencChoicePage *m_pGopPage = nullptr;
    CMpgencChoicePage *m_pMotionPage = nullptr;
    CMpgencFormatDlg *m_pFormatPage = nullptr;
    CMpgencFieldFrameDlg *m_pFieldFramePage = nullptr;
};

// Connects the dialog to the document's Mpeg Encoder command.
void RegisterMpegEncoderModule();
