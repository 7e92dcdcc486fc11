// CSbcDlg: the subband coding module dialog. Its pages write the pending parameters; Apply codes
// the document's image and shows the subbands before coding (window A), after coding (window B)
// and the decoded image (a new chain window).
#pragma once

#include "modules/dct/coding_dlg.h"
#include "modules/subband/subband_coder.h"

class CSbcDecompDlg;
class CSbcFilterDlg;
class CSbcSubbandsDlg;

class CSbcDlg : public CBandCodingDlg
{
    Q_OBJECT
public:
    static constexpr int IDD = 171;
    static constexpr int IDC_TAB = 1145;
    static constexpr int IDC_APPLY = 1146;
    static constexpr int IDC_RESULTS = 1147;
    static constexpr int kErrorsTab = 4;

    CSbcDlg();

    void OnSbcApply();
    const SbcParams &ActiveParams() const { return m_activePar; }
    const SbcParams &PendingParams() const { return m_pendingPar; }

protected:
    void CreatePages() override;
    bool OnInitDialog() override;
    bool OnOwnPageMessage(int message) override;
    BandCodingChoices &PendingChoices() override { return m_pendingPar; }
    bool EncodingOn() const override;

private:
    SbcParams m_pendingPar;
    SbcParams m_activePar;
    CSbcFilterDlg *m_pFilterPage = nullptr;
    CSbcDecompDlg *m_pDecompPage = nullptr;
    CSbcSubbandsDlg *m_pSubsPage = nullptr; // the coding pages' first, "Subs" (m_pCoefsPage of the base)
};

// Connects the dialog to the document's Subband Coding command.
void RegisterSubbandModule();
