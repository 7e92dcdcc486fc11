// CEZWDlg: the EZW module dialog. The stream lives in a temporary file as long as the dialog, so
// trying another decoder rate decodes it again without encoding.
#pragma once

#include "modules/ezw/ezw_run.h"
#include "shell/module_dialog.h"

#include <QString>

class CEZWEncoderDlg;
class CEZWLevelsDlg;
class CEZWDecoderDlg;

class CEZWDlg : public CModuleDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 239;
    static constexpr int IDC_APPLY = 1438;
    static constexpr int IDC_RESULTS = 1439;

    CEZWDlg();
    void OnEZWApply();

    const EzwParams &Params() const { return m_par; }
    const EzwSession &Session() const { return m_session; }
    CEZWEncoderDlg *EncoderPage() const { return m_pEncoderPage; }
    CEZWLevelsDlg *LevelsPage() const { return m_pLevelsPage; }
    CEZWDecoderDlg *DecoderPage() const { return m_pDecoderPage; }

protected:
    void CreatePages() override;
    bool OnInitDialog() override;
    void OnPageMessage(int message) override;
    void OnDocumentAttached() override;

private:
    void OnEncRateChanged();
    void UpdateApply();

    // The rates of radios 1456 to 1465 of both rate pages (bits per pixel).
    const float m_fRates[10] = {0.05f, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.75f, 1.0f, 1.5f, 3.0f};

    CEZWEncoderDlg *m_pEncoderPage = nullptr;
    CEZWLevelsDlg *m_pLevelsPage = nullptr;
    CEZWDecoderDlg *m_pDecoderPage = nullptr;
    EzwParams m_par;
    EzwSession m_session;
    QString m_sResults;
};

// Connects the dialog to the document's EZW command.
void RegisterEzwModule();
