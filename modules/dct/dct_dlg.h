// CDctDlg: the DCT module dialog. Its pages write the pending parameters; Apply takes them over as
// the active ones, codes the document's image and shows three results: the coefficients before and
// after coding (windows A and B) and the decoded image (a new chain window).
#pragma once

#include "modules/dct/coding_dlg.h"
#include "modules/dct/dct_coder.h"

class CDctDisplayDlg;
class CDctSizeDlg;

class CDctDlg : public CBandCodingDlg
{
    Q_OBJECT
public:
    static constexpr int IDD = 179;
    static constexpr int IDC_TAB = 1173;
    static constexpr int IDC_APPLY = 1174;
    static constexpr int IDC_RESULTS = 1175;
    static constexpr int kErrorsTab = 3;

    CDctDlg();

    void OnDctApply();
    const DctParams &ActiveParams() const { return m_activePar; }
    const DctParams &PendingParams() const { return m_pendingPar; }

    // Restricts the transform sizes to those whose blocks divide the document's image.
    void OnDocumentAttached() override;

protected:
    void CreatePages() override;
    bool OnInitDialog() override;
    bool OnOwnPageMessage(int message) override;
    BandCodingChoices &PendingChoices() override { return m_pendingPar; }
    bool EncodingOn() const override;

private:
    CDctDisplayDlg *m_pDisplayPage = nullptr;
    CDctSizeDlg *m_pSizePage = nullptr;
    DctParams m_pendingPar;
    DctParams m_activePar;
};

// Connects the dialog to the document's DCT command.
void RegisterDctModule();
