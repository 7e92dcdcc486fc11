// CH264encDlg: the H.264 encoder module of a raw YUV document. Eight pages set the coding values; Apply
// writes them as the encoder's settings file and runs the encoder, which reports every coded picture
// into the result text while the document's window shows that picture's source frame, and at the end
// the statistics and the mode and bit usage tables.
#pragma once

#include "h264enc/encoder_run_api.h"
#include "h264enc/settings_file.h"
#include "shell/module_dialog.h"

#include <QString>
#include <functional>
#include <memory>
#include <string>

class CYuvFrame;
class CH264encBFramesDlg;
class CH264encEntropyDlg;
class CH264encFileDlg;
class CH264encInterDlg;
class CH264encIntraContDlg;
class CH264encIntraDlg;
class CH264encSPFramesDlg;
class CH264encSearchDlg;
class CH264encSearchModesDlg;

class CH264encDlg : public CModuleDialog, public h264enc::H264EncoderHost
{
    Q_OBJECT
public:
    static constexpr int IDD = 290;
    static constexpr int IDC_GROUP = 2004;
    static constexpr int IDC_TAB = 2005;
    static constexpr int IDC_APPLY = 2006;
    static constexpr int IDC_RESULTS = 2007;
    enum Tab {
        kFileTab,
        kIntraTab,
        kIntraContTab,
        kInterTab,
        kSearchTab,
        kSearchModesTab,
        kBFramesTab,
        kEntropyTab
    };

    CH264encDlg();
    ~CH264encDlg() override;

    void OnH264encApply();

    // The encoder's reports.
    void h264enc_show_frame(const h264enc::H264FrameReport &report) override;
    void h264enc_show_statistics(const h264enc::H264RunStatistics &statistics) override;
    void h264enc_append_text(const std::string &text) override;

    int m_nBitStreamOrder = 1;  // "Bit Stream Order" of the next picture reported
    int m_nMacroblocks = 0;     // macroblocks per picture: the forced-intra limit
    int m_nFrameSkipMirror = 1; // frames to be skipped: the B-frame limit
    int m_nPicturesToCode = 0;  // I and P pictures: the I-period limit + 1
    QString m_sResultText;
    QString m_sUserDir;
    // The values the settings file is written from, with the sequence and the output file.
    h264enc::SettingsDialogValues m_values;

    CH264encFileDlg *FilePage() const { return m_pFilePage; }
    CH264encIntraDlg *IntraPage() const { return m_pIntraPage; }
    CH264encIntraContDlg *IntraContPage() const { return m_pIntraContPage; }
    CH264encInterDlg *InterPage() const { return m_pInterPage; }
    CH264encSearchDlg *SearchPage() const { return m_pSearchPage; }
    CH264encSearchModesDlg *SearchModesPage() const { return m_pSearchModesPage; }
    CH264encBFramesDlg *BFramesPage() const { return m_pBFramesPage; }
    CH264encEntropyDlg *EntropyPage() const { return m_pEntropyPage; }
    bool HasSequenceReader() const { return m_pYuvReader != nullptr; }

protected:
    void CreatePages() override;
    bool OnInitDialog() override;
    void OnPageMessage(int message) override;

private:
    // The pages' notifications: each takes its page's values into the settings.
    void OnH264encFileChosen();
    void OnH264encSearchModes();
    void OnH264encSearchRange();
    void OnH264encBFrames();
    void OnH264encSPFrames();
    void OnH264encEntropy();
    void OnH264encIntra();
    void OnH264encIntraCont();
    void OnH264encInterFrame();
    // The steps of Apply after the result text was started; false ends the Apply before the run.
    bool PrepareRun(std::string *settingsPath);
    // The path the settings name as input: the document's sequence, or its 4:2:0 copy in userDir.
    bool InputFor420(std::string *path);
    void ShowSourceFrame(int frameNumber);

    std::unique_ptr<CYuvFrame> m_pYuvReader;
    bool m_bRunning = false;
    bool m_bShowFrames = true; // cleared for the rest of a run after a source frame could not be read

    CH264encInterDlg *m_pInterPage = nullptr;
    CH264encIntraContDlg *m_pIntraContPage = nullptr;
    CH264encIntraDlg *m_pIntraPage = nullptr;
    CH264encEntropyDlg *m_pEntropyPage = nullptr;
    CH264encSPFramesDlg *m_pSPFramesPage = nullptr; // never created
    CH264encBFramesDlg *m_pBFramesPage = nullptr;
    CH264encSearchDlg *m_pSearchPage = nullptr;
    CH264encSearchModesDlg *m_pSearchModesPage = nullptr;
    CH264encFileDlg *m_pFilePage = nullptr;
};

// The encoder run Apply starts: h264enc::H264Encoder unless a test installed another (an empty
// function restores it). Returns the previous one.
using H264EncoderRun = std::function<void(const std::string &settingsPath, h264enc::H264EncoderHost *host)>;
H264EncoderRun SetH264EncoderRun(H264EncoderRun run);

// Connects the dialog to the document's H.264 Video Encoder command.
void RegisterH264EncoderModule();
