// CPcmDlg: the PCM module dialog. The pages write the pending parameters; Apply takes them over as
// the active ones, codes the document's image and shows the reconstruction as a chain window.
#pragma once

#include "modules/pcm/pcm_coder.h"
#include "shell/module_dialog.h"

#include <QString>

class CPcmBitrateDlg;
class CPcmDitherDlg;
class CPcmErrorsDlg;

class CPcmDlg : public CModuleDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 149;
    static constexpr int IDC_APPLY = 1058;
    static constexpr int IDC_RESULTS = 1503;

    CPcmDlg();

    void OnPcmApply();
    const PcmParams &ActiveParams() const { return m_activePar; }
    const PcmParams &PendingParams() const { return m_pendingPar; }

protected:
    void CreatePages() override;
    bool OnInitDialog() override;
    void OnPageMessage(int message) override;

private:
    void OnPcmBitsChanged();
    void OnPcmDitherChanged();
    void OnPcmErrorsChanged();

    CPcmErrorsDlg *m_pErrorsPage = nullptr;
    CPcmBitrateDlg *m_pBitratePage = nullptr;
    CPcmDitherDlg *m_pDitherPage = nullptr;
    QString m_sResults;
    PcmParams m_activePar;
    PcmParams m_pendingPar;
};

// Connects the dialog to the document's PCM command.
void RegisterPcmModule();
