// EZW tab pages.
#include "modules/ezw/ezw_pages.h"

#include <QPushButton>
#include <algorithm>

namespace {

constexpr CValueRadioPage::Choice kLevels[] = {{1448, "2", 1}, {1449, "3", 2}, {1450, "4", 3},
                                               {1451, "5", 4}, {1452, "6", 5}, {1453, "7", 6},
                                               {1454, "8", 7}, {1447, "9", 8}};

} // namespace

CEZWEncoderDlg::CEZWEncoderDlg(QWidget *parent)
    : CValueRadioPage({IDD, "Set Encoder Bitrate (bpp)", kEzwRates, 5, 38, WM_EZW_ENCRATE_CHANGED, 0.5f},
                      parent)
{}

CEZWDecoderDlg::CEZWDecoderDlg(QWidget *parent)
    : CValueRadioPage({IDD, "Set Decoder Bitrate (bpp)", kEzwRates, 5, 38, WM_EZW_DECRATE_CHANGED, 0.5f},
                      parent)
{
    for (int id = 1462; id <= 1465; ++id)
        Button(id)->setEnabled(false);
}

CEZWLevelsDlg::CEZWLevelsDlg(QWidget *parent)
    : CValueRadioPage({IDD, "Number of Resolution Levels", kLevels, 8, 22, WM_EZW_LEVELS_CHANGED, 3.0f},
                      parent)
{}

void CEZWLevelsDlg::AdaptToImage(int width, int height)
{
    const int side = std::min(width, height);
    Button(1453)->setEnabled(side > 128);
    Button(1454)->setEnabled(side > 256);
    Button(1447)->setEnabled(side > 512);
    // A picture smaller than 2^L in a side would be cropped to nothing.
    for (const Choice &c : Choices())
        if ((1 << static_cast<int>(c.value)) > side)
            Button(c.id)->setEnabled(false);
}
