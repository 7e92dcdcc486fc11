// The eight pages of the JPEG2000 dialog. Each keeps its own values, updates its controls itself and
// tells its owner of a change with its WM_APP number; the dialog then reads the page's values. A
// rate or size button that is already the page's value sends nothing; check boxes always send.
#pragma once

#include "modules/common/module_controls.h"
#include "shell/module_dialog.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;

// Notifications to Jpeg2000Dlg.
inline constexpr int WM_JP2_DECOPT = WM_APP + 0x30;
inline constexpr int WM_JP2_SCALDEC = WM_APP + 0x31;
inline constexpr int WM_JP2_ENCRATE = WM_APP + 0x32;
inline constexpr int WM_JP2_LEVELS = WM_APP + 0x33;
inline constexpr int WM_JP2_QUANT = WM_APP + 0x34;
inline constexpr int WM_JP2_TILING = WM_APP + 0x35;
inline constexpr int WM_JP2_ROI = WM_APP + 0x36;
inline constexpr int WM_JP2_VISMASK = WM_APP + 0x37;

// The ten rates of the encoding and decoding pages, lowest first.
inline constexpr int kJp2RateCount = 10;
inline constexpr float kJp2Rates[kJp2RateCount] = {0.05f, 0.1f,  0.2f, 0.3f, 0.4f,
                                                   0.5f,  0.75f, 1.0f, 1.5f, 3.0f};

class Jpeg2000EncRateDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 254;
    static constexpr int kIds[kJp2RateCount] = {1530, 2159, 2160, 1533, 2161, 2162, 2163, 2164, 2165, 1539};
    explicit Jpeg2000EncRateDlg(QWidget *parent);
    float Rate() const { return m_fRate; }

private:
    void OnRate(int id);
    zn::PushRadioGroup *m_pRates;
    float m_fRate = 0.5f;
};

class Jpeg2000QuantDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 257;
    explicit Jpeg2000QuantDlg(QWidget *parent);
    int CodeBlock() const { return m_nCodeBlock; }
    int SnrLayers() const { return m_bSnrLayers; }
    int Lossless() const { return m_bLossless; }

private:
    void OnCodeBlock(int id);
    zn::PushRadioGroup *m_pSizes;
    QCheckBox *m_pLossless;
    QCheckBox *m_pSnrLayers;
    int m_nCodeBlock = 32;
    int m_bSnrLayers = 0;
    int m_bLossless = 0;
};

class Jpeg2000LevelsDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 255;
    explicit Jpeg2000LevelsDlg(QWidget *parent);
    int Reversible() const { return m_bReversible; }
    int Levels() const { return m_nLevels; }
    // The owner turns the two shallowest choices ("2" and "3" resolution levels) off and on.
    void EnableShallowLevels(bool enable);

private:
    void OnLevels(int id);
    zn::PushRadioGroup *m_pLevels;
    QCheckBox *m_pReversible;
    int m_bReversible = 0;
    int m_nLevels = 4;
};

class Jpeg2000DecRateDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 252;
    static constexpr int kIds[kJp2RateCount] = {2144, 2145, 2146, 2147, 2148, 2149, 2150, 2151, 2152, 2153};
    explicit Jpeg2000DecRateDlg(QWidget *parent);
    float Rate() const { return m_fRate; }

    // What the owner does to the page when the encoding rate moves (index into kJp2Rates).
    void EnableAllRates();
    void ClearAllRates();
    void DisableRate(int index); // and clears it
    // Selects the button; the page's rate follows unless setRate is false.
    void SelectRate(int index, bool setRate);

private:
    void OnRate(int id);
    zn::PushRadioGroup *m_pRates;
    float m_fRate = 0.5f;
};

class Jpeg2000VisWeightDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 259;
    explicit Jpeg2000VisWeightDlg(QWidget *parent);
    float Exponent() const { return m_fExponent; }
    int On() const { return m_bOn; }

private:
    void OnSwitch();
    void OnExponent(int id);
    QCheckBox *m_pOn;
    QLabel *m_pLabel;
    zn::PushRadioGroup *m_pExponents;
    float m_fExponent = -1.0f;
    int m_bOn = 0;
};

class Jpeg2000TilingDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 258;
    explicit Jpeg2000TilingDlg(QWidget *parent);
    int TileSize() const { return m_nTileSize; }
    int On() const { return m_bOn; }

private:
    void OnSwitch();
    void OnSize(int id);
    QCheckBox *m_pOn;
    QLabel *m_pLabel;
    zn::PushRadioGroup *m_pSizes;
    int m_nTileSize = -1;
    int m_bOn = 0;
};

// Created with the others but given no tab: the user never sees it.
class Jpeg2000RoiDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 260;
    explicit Jpeg2000RoiDlg(QWidget *parent);
    float Radius() const { return m_fRadius; }
    int Factor() const { return m_nFactor; }
    int On() const { return m_bOn; }

private:
    void OnSwitch();
    void OnRadius(int index);
    void OnFactor(int index);
    void EnableControls(bool enable);
    QCheckBox *m_pOn;
    QLabel *m_pRadiusLabel;
    QLabel *m_pFactorLabel;
    QComboBox *m_pRadius;
    QComboBox *m_pFactor;
    float m_fRadius = 0.0f;
    int m_nFactor = 0;
    int m_bOn = 0;
};

// Created with the others but given no tab: the user never sees it.
class Jpeg2000ScalDecDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 253;
    explicit Jpeg2000ScalDecDlg(QWidget *parent);
    int DecodeOption() const { return m_nDecodeOption; }
    int Scaling() const { return m_nScaling; }

private:
    void OnSwitch();
    void OnFactor(int id);
    QCheckBox *m_pOn;
    zn::PushRadioGroup *m_pFactors;
    int m_nDecodeOption = 1;
    int m_nScaling = 0;
};
