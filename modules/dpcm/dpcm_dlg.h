// CDpcmDlg: the DPCM module dialog. The pages write the pending parameters; Apply takes them over
// as the active ones, codes the document's image and shows the reconstruction as a chain window
// and the prediction error in window A.
#pragma once

#include "modules/dpcm/dpcm_coder.h"
#include "shell/module_dialog.h"

#include <QString>

class CDpcmBitrateDlg;
class CDpcmErrorsDlg;
class CDpcmLevelsDlg;
class CDpcmModelDlg;

class CDpcmDlg : public CModuleDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 134;
    static constexpr int IDC_APPLY = 1037;
    static constexpr int IDC_RESULTS = 1038;

    CDpcmDlg();

    void OnDpcmApply();
    const DpcmParams &ActiveParams() const { return m_activePar; }
    const DpcmParams &PendingParams() const { return m_pendingPar; }

protected:
    void CreatePages() override;
    bool OnInitDialog() override;
    void OnPageMessage(int message) override;

private:
    void OnDpcmBitsChanged();
    void OnDpcmLevelsChanged();
    void OnDpcmModelChanged();
    void OnDpcmErrorsChanged();
    bool Differs(const DpcmParams &a, const DpcmParams &b) const;

    DpcmParams m_pendingPar;
    DpcmParams m_activePar;
    CDpcmErrorsDlg *m_pErrorsPage = nullptr;
    CDpcmLevelsDlg *m_pLevelsPage = nullptr;
    CDpcmBitrateDlg *m_pBitratePage = nullptr;
    CDpcmModelDlg *m_pPredictionPage = nullptr;
    QString m_sResults;
};

// Connects the dialog to the document's DPCM command.
void RegisterDpcmModule();
