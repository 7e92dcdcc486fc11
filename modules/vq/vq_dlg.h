// CVqDlg: the vector-quantisation module dialog. A codebook arrives from the Codebook page (loaded
// or designed); if its vectors tile the picture, the Bits page offers its rates and Apply codes the
// document's image, appending its figures to the result text and showing the reconstruction as a
// chain window beside the codebook in window A.
#pragma once

#include "modules/vq/vq_coder.h"
#include "shell/module_dialog.h"

#include <QString>

class CVqBitsDlg;
class CVqCodebookDlg;
class CVqErrorsDlg;
class ZnImage;

class CVqDlg : public CModuleDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 156;
    static constexpr int IDC_APPLY = 1847;
    static constexpr int IDC_RESULTS = 1848;
    static constexpr int kBitsTab = 1;
    static constexpr int kErrorsTab = 2;

    CVqDlg();

    void OnVqApply();

    CVqCodebookDlg *CodebookPage() const { return m_pCodebookPage; }
    CVqBitsDlg *BitsPage() const { return m_pBitsPage; }
    CVqErrorsDlg *ErrorsPage() const { return m_pErrorsPage; }
    int PendingBits() const { return m_nPendingBits; }
    const ZnImage *PendingCodebook() const { return m_pPendingCodebook; }
    float PendingProb() const { return m_fPendingProb; }

protected:
    void CreatePages() override;
    bool OnInitDialog() override;
    void OnPageMessage(int message) override;

private:
    void OnVqCodebookChanged();
    void ShowCodebook();

    int m_nPendingBits = -1;
    ZnImage *m_pPendingCodebook = nullptr;
    float m_fPendingProb = 0.0f;
    QString m_sResults;
    CVqErrorsDlg *m_pErrorsPage = nullptr;
    CVqBitsDlg *m_pBitsPage = nullptr;
    CVqCodebookDlg *m_pCodebookPage = nullptr;
    int m_nActiveBits = -1;
    ZnImage *m_pActiveCodebook = nullptr;
    float m_fActiveProb = -1.0f;
};

// Connects the dialog to the document's Vector Quantization command.
void RegisterVqModule();
