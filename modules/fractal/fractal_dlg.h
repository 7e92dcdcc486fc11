// CFICDlg: the fractal module dialog. The pages write the pending parameters; Apply compares them
// with the last-used ones, encodes again unless only the iterations changed, decodes the shared
// code file and shows the reconstruction as a chain window.
#pragma once

#include "modules/fractal/fractal_coder.h"
#include "shell/module_dialog.h"

#include <QString>

class CFICBitsDlg;
class CFICIterationsDlg;
class CFICSizeDlg;
class CFICThresholdDlg;

class CFICDlg : public CModuleDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 154;
    static constexpr int IDC_APPLY = 1096;
    static constexpr int IDC_RESULTS = 1097;

    CFICDlg();

    void OnFICApply();
    const FicParams &LastParams() const { return m_lastPar; }
    const FicParams &PendingParams() const { return m_pendingPar; }
    float LastRate() const { return m_fRate; }
    // Whether the last Apply ran the encoder (false after a decoding of the existing code).
    bool LastApplyEncoded() const { return m_bLastEncoded; }

protected:
    void CreatePages() override;
    bool OnInitDialog() override;
    void OnPageMessage(int message) override;

private:
    // Kept for the R(D) points of decodings that skip the encoder.
    float m_fRate = 0;
    FicParams m_lastPar;
    FicParams m_pendingPar;
    CFICBitsDlg *m_pBitsPage = nullptr;
    CFICIterationsDlg *m_pIterationsPage = nullptr;
    CFICSizeDlg *m_pSizePage = nullptr;
    CFICThresholdDlg *m_pThresholdPage = nullptr;
    QString m_sResults;
    bool m_bLastEncoded = false;
};

// Connects the dialog to the document's fractal command.
void RegisterFractalModule();
