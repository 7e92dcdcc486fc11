// CSpihtDlg: the SPIHT module dialog. The stream lives in a temporary file as long as the dialog, so
// trying a lower decoding rate decodes it again without encoding.
#pragma once

#include "modules/spiht/spiht_run.h"
#include "shell/module_dialog.h"

#include <QString>

class CSpihtBitrateDlg;
class CSpihtSmoothingDlg;
class CSpihtDecoderDlg;

class CSpihtDlg : public CModuleDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 235;
    static constexpr int IDC_APPLY = 1419;
    static constexpr int IDC_RESULTS = 1418;

    CSpihtDlg();
    ~CSpihtDlg() override;
    void OnSpihtApply();

    const SpihtParams &Params() const { return m_par; }
    const SpihtSession &Session() const { return m_session; }
    CSpihtBitrateDlg *BitratePage() const { return m_pBitratePage; }
    CSpihtSmoothingDlg *SmoothingPage() const { return m_pSmoothingPage; }
    CSpihtDecoderDlg *DecoderPage() const { return m_pDecoderPage; }

protected:
    void CreatePages() override;
    bool OnInitDialog() override;
    void OnPageMessage(int message) override;

private:
    void OnEncRateChanged();
    void UpdateApply();
    // The window is gone: the stream file is closed and deleted.
    void PostNcDestroy();

    // The rates of radios 1466 to 1475 (bits per pixel).
    const float m_fRates[10] = {0.05f, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.75f, 1.0f, 1.5f, 3.0f};

    CSpihtSmoothingDlg *m_pSmoothingPage = nullptr;
    CSpihtBitrateDlg *m_pBitratePage = nullptr;
    CSpihtDecoderDlg *m_pDecoderPage = nullptr;
    SpihtParams m_par;
    SpihtSession m_session;
    QString m_sResults;
};

// Connects the dialog to the document's SPIHT command.
void RegisterSpihtModule();
