// CVplayDlg: the video player. No pages and no parameters: Play shows the document's sequence frame
// by frame in the document's own window, each frame for at least 50 ms, and a key press offers to
// stop.
#pragma once

#include "shell/module_dialog.h"

class CVplayDlg : public CModuleDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 220;
    static constexpr int IDC_PLAY = 1373;
    static constexpr int IDC_GROUP = 1374;
    static constexpr int IDC_RESULTS = 1375;
    // The length of a .seq series as the player counts it: it ends at the first missing file.
    static constexpr int kSeriesLength = 10000;

    CVplayDlg();
    void OnVplayApply();

protected:
    bool OnInitDialog() override;
};

// Connects the dialog to the document's Video Player command.
void RegisterVideoPlayerModule();
