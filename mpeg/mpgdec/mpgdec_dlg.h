// CMpgdecDlg: the MPEG-1/2 decoder module. Apply decodes the document's stream from start to end one
// or more times, shows every frame in the document's own window (in colour, with motion vectors,
// without B frames, or as prediction or coded difference), lists the picture types as they come,
// can stop after every frame, keeps at least 50 ms a frame and can save the frames as raw YUV.
#pragma once

#include "mpeg/mpgdec/mpeg_decoder.h"
#include "mpeg/mpgdec/mpgdec_display.h"
#include "shell/module_dialog.h"

#include <QString>
#include <memory>
#include <string>

class CMpgdecChannelDlg;
class CMpgdecDisplayDlg;
class CMpgdecOperationDlg;
class CMpgdecSaveDlg;
class CMpgdecVideoDlg;
class CYuvFileWriter;

class CMpgdecDlg : public CModuleDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 216;
    static constexpr int IDC_APPLY = 1367;
    static constexpr int IDC_GROUP = 1368;
    static constexpr int IDC_TAB = 1369;
    static constexpr int IDC_RESULTS = 1370;

    CMpgdecDlg();
    ~CMpgdecDlg() override;
    void OnMpgdecApply();

    // The frame sink of the run's decoder.
    void DisplayFrame(const zn::MpegFrame &frame, int frameNumber, const char *typeText, int kind);

    // The pending options.
    int m_nOutputMode = 0;
    int m_bFrameByFrame = 0;
    int m_nLoops = 1;
    int m_bVectorOverlay = 0;
    int m_bNoBFrames = 0;
    int m_bColorDisplay = 1;
    int m_bSaveYuv = 0;
    std::string m_sSavePath;

    const std::string &ViewText() const { return m_types.ViewText(); }
    const std::string &ResultText() const { return m_types.ResultText(); }
    const std::string &FrameTitle() const { return m_szFrameTitle; }

    CMpgdecSaveDlg *SavePage() const { return m_pSavePage; }
    CMpgdecChannelDlg *ChannelPage() const { return m_pChannelPage; }

    // The field-picture overlay message is shown once per program run (tests reset it).
    static bool g_bFieldOverlayWarned;
    // The decoder of the Apply in progress, whose members DisplayFrame reads: one decoder runs at a
    // time.
    static zn::CMpegDecoder *g_pMpegDecoder;

protected:
    void CreatePages() override;
    bool OnInitDialog() override;
    void OnPageMessage(int message) override;

private:
    void RunDecoding();
    // One pass over the stream; false when the user or an error ended every pass.
    bool DecodePass(zn::CMpegDecoder &dec);

    bool m_bRunning = false;
    zn::PictureTypeList m_types;
    std::string m_szFrameTitle;
    std::unique_ptr<CYuvFileWriter> m_pYuvWriter;
    CMpgdecOperationDlg *m_pOperationPage = nullptr;
    CMpgdecVideoDlg *m_pVideoPage = nullptr;
    CMpgdecDisplayDlg *m_pDisplayPage = nullptr;
    CMpgdecChannelDlg *m_pChannelPage = nullptr;
    CMpgdecSaveDlg *m_pSavePage = nullptr;
};
