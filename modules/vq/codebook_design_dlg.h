// CCodebookDesignDlg: the modal "Codebook Design" dialog. The user picks the vector size, the rate
// range and the stopping rule, Apply trains a codebook on the document's picture (the log shows
// every pass), Save Codebook writes it as a .cbk file, and OK hands the designed codebook to the
// VQ module, which it allows only once a codebook has been saved.
#pragma once

#include "shell/zn_dialog.h"

#include <string>

class QPlainTextEdit;
class QPushButton;
class ZnImage;

namespace zn {
class PushRadioGroup;
}

struct CodebookDesignParams
{
    int w = 4;
    int h = 4;
    int rmin = 1;
    int rmax = 8;
    int maxIterations = 20;
    float threshold = 0.01f;
    int initType = 2; // 1 Constant, 2 Random
    bool operator==(const CodebookDesignParams &) const = default;
};

class CCodebookDesignDlg : public CZnDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 190;
    static constexpr int IDC_APPLY = 1751;
    static constexpr int IDC_SAVE = 1750;
    static constexpr int IDC_LOG = 1281;

    explicit CCodebookDesignDlg(QWidget *parent = nullptr);

    // Runs the dialog on the training image; on IDOK the codebook image holds the designed codebook.
    // The caller owns both images.
    virtual int DoModalDesign(ZnImage *train, ZnImage *codebook, const std::string &name);

    void OnDesignApply();
    void OnSaveCodebook();

    const CodebookDesignParams &PendingParams() const { return m_pending; }
    const CodebookDesignParams &AppliedParams() const { return m_applied; }

protected:
    bool OnInitDialog();

private:
    void BuildTemplate();
    void OnRadio(zn::PushRadioGroup *group, int id);
    void UpdateApply(bool always);
    void ShowLog(const std::string &text);
    bool HoldsCodebook() const;

    CodebookDesignParams m_pending;
    CodebookDesignParams m_applied;
    std::string m_sName;
    ZnImage *m_pCodebookImage = nullptr;
    ZnImage *m_pTrainImage = nullptr;

    zn::PushRadioGroup *m_pWidth = nullptr;
    zn::PushRadioGroup *m_pHeight = nullptr;
    zn::PushRadioGroup *m_pMin = nullptr;
    zn::PushRadioGroup *m_pMax = nullptr;
    zn::PushRadioGroup *m_pIterations = nullptr;
    zn::PushRadioGroup *m_pThreshold = nullptr;
    zn::PushRadioGroup *m_pInit = nullptr;
    QPushButton *m_pOk = nullptr;
    QPushButton *m_pApply = nullptr;
    QPushButton *m_pSave = nullptr;
    QPlainTextEdit *m_pLog = nullptr;
};
