// The three tab pages of the SPIHT dialog: encoder target rate, smoothing and decoding rate.
#pragma once

#include "modules/common/value_pages.h"

inline constexpr int WM_SPIHT_ENCRATE_CHANGED = WM_APP + 41;
inline constexpr int WM_SPIHT_SMOOTHING_CHANGED = WM_APP + 42;
inline constexpr int WM_SPIHT_DECRATE_CHANGED = WM_APP + 43;

// The rates of radios 1466 to 1475 on both rate pages (bits per pixel).
inline constexpr CValueRadioPage::Choice kSpihtRates[] = {
    {1466, "0.05", 0.05f}, {1467, "0.1", 0.1f}, {1468, "0.2", 0.2f},   {1469, "0.3", 0.3f},
    {1470, "0.4", 0.4f},   {1471, "0.5", 0.5f}, {1472, "0.75", 0.75f}, {1473, "1.0", 1.0f},
    {1474, "1.5", 1.5f},   {1475, "3.0", 3.0f}};

class CSpihtBitrateDlg : public CValueRadioPage
{
    Q_OBJECT
public:
    static constexpr int IDD = 236;
    explicit CSpihtBitrateDlg(QWidget *parent);
};

class CSpihtSmoothingDlg : public CValueRadioPage
{
    Q_OBJECT
public:
    static constexpr int IDD = 102;
    explicit CSpihtSmoothingDlg(QWidget *parent);
};

class CSpihtDecoderDlg : public CValueRadioPage
{
    Q_OBJECT
public:
    static constexpr int IDD = 237;
    explicit CSpihtDecoderDlg(QWidget *parent);
};
