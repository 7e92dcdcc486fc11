// CH264decDlg: the H.264 decoder module of a stream document. Its pages choose stepping, the analysis
// views and a save file; Apply decodes the document's stream from its start, collecting the
// per-picture text, and shows every picture in the document's window and the chosen views beside it.
#pragma once

#include "h264dec/decoder_host.h"
#include "shell/module_dialog.h"

#include <QString>
#include <memory>

class CH264decBitsDlg;
class CH264decBlockDlg;
class CH264decIntraDlg;
class CH264decMotionDlg;
class CH264decSaveDlg;
class CH264decStepDlg;
class CH264decStreamDlg;
class CYuvFileWriter;

class CH264decDlg : public CModuleDialog, public H264DecoderHost
{
    Q_OBJECT
public:
    static constexpr int IDD = 291;
    static constexpr int IDC_GROUP = 2008;
    static constexpr int IDC_TAB = 2009;
    static constexpr int IDC_APPLY = 2010;
    static constexpr int IDC_RESULTS = 2011;

    CH264decDlg();
    ~CH264decDlg() override;

    void OnH264decApply();

    // The choices of the pages as the dialog holds them (vis_intra_shown and vis_intra_colored
    // included).
    const H264ViewChoices &Choices() const { return m_choices; }
    int m_nFrameCounter = 0;
    int m_bSaveOn = 0;
    QString m_sResultText;
    QString m_sInputPath, m_sLeakyBucketPath, m_sSavePath;

    CH264decSaveDlg *SavePage() const { return m_pSavePage; }

    // H264DecoderHost
    const H264ViewChoices &ViewChoices() const override { return m_choices; }
    void h264dec_append_text(const std::string &text) override;
    int &FrameCounter() override { return m_nFrameCounter; }
    std::string DocumentTitle() const override;
    CDib *DocumentImage() override;
    void OnApplyH264Decoding(int frameNumber, int targetNumber, const std::string &typeText) override;
    CYuvFileWriter *SaveFile() override { return m_pYuvWriter.get(); }
    CDib *WorkImage(H264Window window) override;
    void ShowSequenceResultImages(bool chain, bool a, bool b, const std::string &captionChain,
                                  const std::string &captionA, const std::string &captionB) override;
    void ShowResultImageD(bool shown, const std::string &caption, bool stream, bool vectorsOrIntra,
                          bool bdiv) override;
    void ShowLegendImage(bool shown, const std::string &caption, bool stream, bool vectorsOrIntra, bool bdiv,
                         bool bits) override;

protected:
    void CreatePages() override;
    bool OnInitDialog() override;
    void OnPageMessage(int message) override;

private:
    H264ViewChoices m_choices;
    std::unique_ptr<CYuvFileWriter> m_pYuvWriter;
    bool m_bRunning = false;
    CH264decSaveDlg *m_pSavePage = nullptr;
    CH264decStreamDlg *m_pStreamPage = nullptr;
    CH264decMotionDlg *m_pMotionPage = nullptr;
    CH264decBlockDlg *m_pBlockPage = nullptr;
    CH264decStepDlg *m_pStepPage = nullptr;
    CH264decIntraDlg *m_pIntraPage = nullptr;
    CH264decBitsDlg *m_pBitsPage = nullptr;
};

// Connects the dialog to the document's H.264 decoder command and the stream opener to .264 files.
void RegisterH264DecoderModule();
