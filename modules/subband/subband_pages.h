// The tab pages of the subband dialog: the decomposition and the filter bank are its own; the
// Subs, Bitrate and Errors pages are the DCT module's coding pages on the subband templates.
#pragma once

#include "modules/dct/dct_pages.h"

#include <string>

class QCheckBox;

// The subband dialog's own notifications.
inline constexpr int WM_SBC_FILTER_CHANGED = WM_APP + 8;
inline constexpr int WM_SBC_DECOMP_CHANGED = WM_APP + 9;

class CSbcDecompDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 161;
    static constexpr int kRadios[6] = {1121, 1122, 1123, 1124, 1499, 1893}; // decompositions 1..6
    static constexpr int kBitmaps[6] = {162, 163, 167, 166, 165, 164};
    static constexpr int IDC_ENCODE = 1132;
    explicit CSbcDecompDlg(QWidget *parent);

    int m_bEncode = 1;
    int m_nDecomp = 3;

private:
    zn::PushRadioGroup *m_pDecomps;
    QCheckBox *m_pEncode;
};

class CSbcFilterDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 168;
    explicit CSbcFilterDlg(QWidget *parent);

    std::string m_sFilter = "16b";

private:
    zn::PushRadioGroup *m_pFilters;
};

class CSbcSubbandsDlg : public CDctCoefsDlg
{
    Q_OBJECT
public:
    static constexpr int IDD = 169;
    static const CodingPageIds kSbcIds;
    explicit CSbcSubbandsDlg(QWidget *parent) : CDctCoefsDlg(parent, kSbcIds) {}
};

class CSbcBitrateDlg : public CDctBitrateDlg
{
    Q_OBJECT
public:
    static constexpr int IDD = 159;
    static const BitratePageIds kSbcIds;
    explicit CSbcBitrateDlg(QWidget *parent) : CDctBitrateDlg(parent, kSbcIds) {}
};

class CSbcErrorsDlg : public CDctErrorsDlg
{
    Q_OBJECT
public:
    static constexpr int IDD = 160;
    static const ErrorsPageIds kSbcIds;
    explicit CSbcErrorsDlg(QWidget *parent) : CDctErrorsDlg(parent, kSbcIds) {}
};

// The picture of a decomposition 1..6: the band borders of the split, drawn small.
QPixmap SbcDecompPicture(int decomp);
