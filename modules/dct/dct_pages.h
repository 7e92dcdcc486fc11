// The tab pages of the DCT dialog. Size and Display are the DCT module's own; Coefs, Bitrate and
// Errors are also the subband module's Subs, Bitrate and Errors pages, built from another table of
// control ids. Each page keeps its own values and tells its owner of a change with WM_APP+n; the
// owner reads the values from the page.
#pragma once

#include "modules/common/module_controls.h"
#include "shell/module_dialog.h"

#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

// Notifications of the coding pages (the same numbers in the DCT and subband dialogs).
inline constexpr int WM_CODING_RATE_CHANGED = WM_APP + 1;
inline constexpr int WM_CODING_ERRORS_CHANGED = WM_APP + 3;
inline constexpr int WM_CODING_SWITCHED = WM_APP + 10; // "Encoding of ..." ticked or cleared
inline constexpr int WM_CODING_COEFS_CHANGED = WM_APP + 11;
inline constexpr int WM_CODING_ENTROPY_CHANGED = WM_APP + 12;
// The DCT dialog's own.
inline constexpr int WM_DCT_SIZE_CHANGED = WM_APP + 13;
inline constexpr int WM_DCT_DISPLAY_CHANGED = WM_APP + 20;

class CDctSizeDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 180;
    static constexpr int kRadios[4] = {1177, 1178, 1179, 1180}; // 2x2 .. 16x16
    static constexpr int IDC_ENCODE = 1181;
    explicit CDctSizeDlg(QWidget *parent);

    // Shows and stores a transform size (1..4) without notifying.
    void SetSize(int size);
    zn::PushRadioGroup *Sizes() const { return m_pSizes; }

    int m_nSize = 3;
    int m_bEncode = 1;

private:
    zn::PushRadioGroup *m_pSizes;
    QCheckBox *m_pEncode;
};

// Control ids of a coefficient (or subband) coding page.
struct CodingPageIds
{
    int idd;
    int group;
    const char *groupText;
    int lblCoding, lblCValue, lblFirst, lblOthers;
    int firstMethod, otherMethod, firstCValue, otherCValue;
    int predButton;
};

class CDctCoefsDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 181;
    static const CodingPageIds kIds;
    explicit CDctCoefsDlg(QWidget *parent, const CodingPageIds &ids = kIds);

    // The state coding returns to when it is switched on again: first DPCM at 0.75, others PCM at
    // 0.50, model 3.
    void ResetCoding();

    int m_nPredModel = 3;
    int m_nOtherMethod = 0;
    std::string m_sOtherPdf = "gg050";
    int m_nFirstMethod = 1;
    std::string m_sFirstPdf = "gg075";

private:
    void OnMethodChanged(bool first, int index);
    void OnCValueChanged(bool first, int index);
    void OnPredModel();
    void ShowModel(int model); // the button's picture; 0 shows the blank one and disables it
    const CodingPageIds m_ids;
    QComboBox *m_pFirstMethod, *m_pOtherMethod, *m_pFirstCValue, *m_pOtherCValue;
    QPushButton *m_pModelButton;
    QLabel *m_pDpcmLabel, *m_pPredLabel;
};

struct BitratePageIds
{
    int idd;
    int group;
    int radios[10]; // 0.25 .. 4.0
    int entropy;
};

class CDctBitrateDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 183;
    static const BitratePageIds kIds;
    static constexpr float kRates[10] = {0.25f, 0.5f, 0.75f, 1.0f, 1.5f, 2.0f, 2.5f, 3.0f, 3.5f, 4.0f};
    explicit CDctBitrateDlg(QWidget *parent, const BitratePageIds &ids = kIds);

    // 0.75 selected, entropy coding off: the state of coding switched on again.
    void ResetCoding();
    // Clears "Entropy Coding" (channel errors need fixed-length code words).
    void ClearEntropy();

    int m_bEntropy = 1;
    float m_fBitrate = 1.0f;

private:
    const BitratePageIds m_ids;
    zn::PushRadioGroup *m_pRates;
    QCheckBox *m_pEntropy;
};

struct ErrorsPageIds
{
    int idd;
    int group;
    int radios[4]; // .005 .001 .0005 .0001
};

class CDctErrorsDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 184;
    static const ErrorsPageIds kIds;
    static constexpr int IDC_SIMULATE = 1019;
    static constexpr float kProbs[4] = {0.005f, 0.001f, 0.0005f, 0.0001f};
    explicit CDctErrorsDlg(QWidget *parent, const ErrorsPageIds &ids = kIds);

    // Radios and group disabled and cleared, "Simulate Channel Errors" cleared, probability 0.
    void Reset();

    float m_fErrorProb = -1.0f; // nothing chosen yet

private:
    void OnSimulate();
    const ErrorsPageIds m_ids;
    QGroupBox *m_pGroup;
    zn::PushRadioGroup *m_pProbs;
    QCheckBox *m_pSimulate;
};

class CDctDisplayDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 193;
    explicit CDctDisplayDlg(QWidget *parent);

    int m_nDisplay = 1; // 1 collections, 2 DCT blocks

private:
    zn::PushRadioGroup *m_pModes;
};
