// CJpgDlg: the JPEG module dialog. The pages write the pending parameters; Apply takes them over as
// the active ones, codes the document's image through the JPEG library, decodes it again and shows
// the reconstruction as a chain window.
#pragma once

#include "modules/jpeg/jpeg_run.h"
#include "shell/module_dialog.h"

#include <QString>

class CJpgBitrateDlg;
class CJpgDesignDlg;
class CJpgErrorsDlg;
class CJpgHuffmanDlg;
class CJpgMarkersDlg;
class CJpgQuantDlg;
class CJpgSmoothDlg;

class CJpgDlg : public CModuleDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 202;
    static constexpr int IDC_APPLY = 1330;
    static constexpr int IDC_RESULTS = 1331;
    static constexpr int kDesignTab = 2;

    CJpgDlg();

    void OnJpgApply();
    const JpegParams &ActiveParams() const { return m_activePar; }
    const JpegParams &PendingParams() const { return m_pendingPar; }

    CJpgDesignDlg *DesignPage() const { return m_pDesignPage; }
    CJpgBitrateDlg *BitratePage() const { return m_pBitratePage; }
    CJpgQuantDlg *QuantPage() const { return m_pQuantPage; }
    CJpgHuffmanDlg *HuffmanPage() const { return m_pHuffmanPage; }
    CJpgSmoothDlg *SmoothPage() const { return m_pSmoothPage; }
    CJpgMarkersDlg *MarkersPage() const { return m_pMarkersPage; }
    CJpgErrorsDlg *ErrorsPage() const { return m_pErrorsPage; }

protected:
    void CreatePages() override;
    bool OnInitDialog() override;
    void OnPageMessage(int message) override;

private:
    void OnJpgQuantChanged();

    CJpgDesignDlg *m_pDesignPage = nullptr;
    QString m_sResults;
    JpegParams m_activePar;
    JpegParams m_pendingPar;
    CJpgSmoothDlg *m_pSmoothPage = nullptr;
    CJpgQuantDlg *m_pQuantPage = nullptr;
    CJpgMarkersDlg *m_pMarkersPage = nullptr;
    CJpgHuffmanDlg *m_pHuffmanPage = nullptr;
    CJpgErrorsDlg *m_pErrorsPage = nullptr;
    CJpgBitrateDlg *m_pBitratePage = nullptr;
};

inline constexpr const char *kJpegMissingMatrixMessage =
    "Cannot find designed perceptually optimal JPEG quantization matrix:\n%s";

// Connects the dialog to the document's JPEG command.
void RegisterJpegModule();
