// CMeDlg: the motion estimation module. Its pages choose the levels, the search, the block size, the
// reach and the display; Apply estimates a field for every frame of the document's sequence, reports
// the measures and shows the prediction with its vectors and both differences. The fields of a run
// are kept, so "Show Again" replays it without estimating.
#pragma once

#include "mpeg/me/me_hier.h"
#include "mpeg/me/me_run.h"
#include "shell/module_dialog.h"

#include <QString>
#include <vector>

class CMeChoicePage;
class CMeVideoDlg;
class CYuvFrame;

class CMeDlg : public CModuleDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 215;
    static constexpr int IDC_APPLY = 2106;
    static constexpr int IDC_GROUP = 2097;
    static constexpr int IDC_TAB = 2098;
    static constexpr int IDC_RESULTS = 2109;
    // Tab positions.
    static constexpr int kDisplTab = 3;
    static constexpr int kNStepTab = 4;

    CMeDlg();
    void OnMeApply();
    void OnCancel() override;

    MeSettings newSettings;
    int StoredFields() const { return m_nFields; }

    CMeChoicePage *BlockPage() const { return m_pBlockPage; }
    CMeChoicePage *DisplPage() const { return m_pDisplPage; }
    CMeChoicePage *NStepPage() const { return m_pNStepPage; }
    CMeVideoDlg *VideoPage() const { return m_pVideoPage; }

protected:
    void CreatePages() override;
    bool OnInitDialog() override;
    void OnDocumentAttached() override;
    void OnPageMessage(int message) override;

private:
    void RunEstimation();
    void ReplaceLevelPages(int levels);
    void SettingChanged();

    QString m_sResults;
    std::vector<MeField> m_fields;
    int m_nFields = 0;
    CMeChoicePage *m_pHierarchyPage = nullptr;
    CMeChoicePage *m_pSearchPage = nullptr;
    CMeChoicePage *m_pBlockPage = nullptr;
    CMeChoicePage *m_pDisplPage = nullptr;
    CMeChoicePage *m_pNStepPage = nullptr;
    CMeVideoDlg *m_pVideoPage = nullptr;
};

// Connects the dialog to the document's Motion Estimation command.
void RegisterMotionEstimationModule();
