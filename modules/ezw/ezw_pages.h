// The three tab pages of the EZW dialog: encoder rate, number of wavelet levels and decoder rate.
#pragma once

#include "modules/common/value_pages.h"

inline constexpr int WM_EZW_LEVELS_CHANGED = WM_APP + 44;
inline constexpr int WM_EZW_DECRATE_CHANGED = WM_APP + 45;
inline constexpr int WM_EZW_ENCRATE_CHANGED = WM_APP + 46;

// The rates of radios 1456 to 1465 on both rate pages (bits per pixel).
inline constexpr CValueRadioPage::Choice kEzwRates[] = {
    {1456, "0.05", 0.05f}, {1457, "0.1", 0.1f}, {1458, "0.2", 0.2f},   {1459, "0.3", 0.3f},
    {1460, "0.4", 0.4f},   {1461, "0.5", 0.5f}, {1462, "0.75", 0.75f}, {1463, "1.0", 1.0f},
    {1464, "1.5", 1.5f},   {1465, "3.0", 3.0f}};

class CEZWEncoderDlg : public CValueRadioPage
{
    Q_OBJECT
public:
    static constexpr int IDD = 242;
    explicit CEZWEncoderDlg(QWidget *parent);
};

class CEZWDecoderDlg : public CValueRadioPage
{
    Q_OBJECT
public:
    static constexpr int IDD = 243;
    explicit CEZWDecoderDlg(QWidget *parent);
};

// A value is the number of wavelet decompositions L; its label is L + 1, the resolution levels.
class CEZWLevelsDlg : public CValueRadioPage
{
    Q_OBJECT
public:
    static constexpr int IDD = 240;
    explicit CEZWLevelsDlg(QWidget *parent);
    // Disables the level counts the picture cannot take.
    void AdaptToImage(int width, int height);
};
