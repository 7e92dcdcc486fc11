// CSsDlg: the subsampling module dialog. The pages write the pending parameters; Apply takes them
// over as the active ones and shows the subsampled image as a chain window and its spectrum in
// window A. Nothing is measured and no R(D) point is stored.
#pragma once

#include "modules/subsampling/ss_run.h"
#include "shell/module_dialog.h"

#include <QString>

class CSsFactorDlg;
class CSsFilterDlg;
class CSsSpectrumDlg;

class CSsDlg : public CModuleDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 157;
    static constexpr int IDC_APPLY = 1553;
    static constexpr int IDC_RESULTS = 1552;

    CSsDlg();

    void OnSsApply();
    const SsParams &ActiveParams() const { return m_activePar; }
    const SsParams &PendingParams() const { return m_pendingPar; }

protected:
    void CreatePages() override;
    bool OnInitDialog() override;
    void OnPageMessage(int message) override;

private:
    void OnFactorChanged();

    CSsFilterDlg *m_pFilterPage = nullptr;
    CSsSpectrumDlg *m_pSpectrumPage = nullptr;
    CSsFactorDlg *m_pFactorPage = nullptr;
    QString m_sResults;
    SsParams m_activePar;
    SsParams m_pendingPar;
};

// Connects the dialog to the document's Subsampling command.
void RegisterSubsamplingModule();
