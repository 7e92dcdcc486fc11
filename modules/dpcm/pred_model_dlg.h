// CPredModelDlg: the small modal dialog in which the DCT and subband coefficient pages choose the
// prediction model of their DPCM-coded bands. It always opens on model 3.
#pragma once

#include "shell/zn_dialog.h"

namespace zn {
class PushRadioGroup;
}

class CPredModelDlg : public CZnDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 178;

    explicit CPredModelDlg(QWidget *parent = nullptr);

    // The chosen model 1..4 after OK, 0 after Cancel, Escape or closing the window. The caller keeps
    // its own model when the result is 0 or equals the model it holds.
    int DoModal();

    int m_nPredModel = 3;

protected:
    bool OnInitDialog();
    void OnModelClicked(int id);

private:
    zn::PushRadioGroup *m_pModels = nullptr;
};
