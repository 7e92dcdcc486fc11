// CJpgDesignDlg: the "Design Q" page of the JPEG dialog. Compute runs the perceptual model on the
// document's picture, shows the map of DCT-coefficient visibility as result window A and writes
// the designed quantisation matrix for the Quant page's "Percept. optim.". The dialog keeps this
// tab disabled: the model's data files are not part of the program.
#pragma once

#include "shell/module_dialog.h"

class CDibDoc;

class CJpgDesignDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 267;
    static constexpr int IDC_COMPUTE = 1641;
    explicit CJpgDesignDlg(QWidget *parent);

    // The owning document; when unset, the owner dialog's.
    CDibDoc *m_pStartDibDoc = nullptr;

    void OnJpgDesignCompute();
};
