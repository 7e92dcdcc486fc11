// Jpeg2000Dlg: the JPEG2000 module dialog. Six tab pages choose the coding parameters (two more pages
// exist without a tab); Apply encodes the document's image into the code-stream file when an encoder
// parameter changed, always decodes it at the decoding rate and shows the measured reconstruction
// as the next chain window.
#pragma once

#include "jpeg2000/module/jp2_apply.h"
#include "shell/module_dialog.h"

#include <QString>

class Jpeg2000EncRateDlg;
class Jpeg2000QuantDlg;
class Jpeg2000LevelsDlg;
class Jpeg2000DecRateDlg;
class Jpeg2000TilingDlg;
class Jpeg2000VisWeightDlg;
class Jpeg2000RoiDlg;
class Jpeg2000ScalDecDlg;

class Jpeg2000Dlg : public CModuleDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 251;
    static constexpr int IDC_APPLY = 2140;
    static constexpr int IDC_TAB = 2141;
    static constexpr int IDC_RESULTS = 1509;
    // Tab indices the handlers enable and disable.
    static constexpr int kEncodeTab = 0;
    static constexpr int kDecodeTab = 3;

    Jpeg2000Dlg();

    void OnJpeg2000Apply();

    const Jpeg2000Params &Params() const { return m_par; }
    int Reencode() const { return m_session.m_bReencode; }
    const std::string &EncoderText() const { return m_session.m_sEncoderText; }
    const QString &Result() const { return m_sResult; }
    const std::string &StreamPath() const { return m_sStreamPath; }

protected:
    void CreatePages() override;
    bool OnInitDialog() override;
    void OnPageMessage(int message) override;

private:
    void OnJpeg2000Decopt();
    void OnJpeg2000Scaldec();
    void OnJpeg2000Encrate();
    void OnJpeg2000Levels();
    void OnJpeg2000Quant();
    void OnJpeg2000Tiling();
    void OnJpeg2000Roi();
    void OnJpeg2000Vismask();
    // A page without a tab: owned and heard like the others, never shown.
    void AddHiddenPage(CModulePage *page);

    Jpeg2000EncRateDlg *m_pEncRateDlg = nullptr;
    Jpeg2000QuantDlg *m_pQuantDlg = nullptr;
    Jpeg2000TilingDlg *m_pTilingDlg = nullptr;
    Jpeg2000LevelsDlg *m_pLevelsDlg = nullptr;
    Jpeg2000RoiDlg *m_pRoiDlg = nullptr;
    Jpeg2000VisWeightDlg *m_pVisWeightDlg = nullptr;
    Jpeg2000DecRateDlg *m_pDecRateDlg = nullptr;
    Jpeg2000ScalDecDlg *m_pScalDecDlg = nullptr;

    Jpeg2000Params m_par;
    Jpeg2000Session m_session; // m_bReencode and the encoder's text
    QString m_sResult;
    QString m_sDecoderText;
    std::string m_sStreamPath;
};

// Connects the dialog to the document's JPEG2000 command.
void RegisterJpeg2000Module();
