// SPIHT tab pages.
#include "modules/spiht/spiht_pages.h"

#include <QPushButton>

namespace {

constexpr CValueRadioPage::Choice kSmoothing[] = {{1435, "0", 0}, {1440, "1", 1}, {1441, "2", 2},
                                                  {1442, "3", 3}, {1443, "4", 4}, {1444, "5", 5},
                                                  {1445, "6", 6}, {1446, "7", 7}};

} // namespace

CSpihtBitrateDlg::CSpihtBitrateDlg(QWidget *parent)
    : CValueRadioPage(
          {IDD, "Set Encoder Target Bitrate (bpp)", kSpihtRates, 5, 38, WM_SPIHT_ENCRATE_CHANGED, 0.5f},
          parent)
{}

CSpihtSmoothingDlg::CSpihtSmoothingDlg(QWidget *parent)
    : CValueRadioPage({IDD, "Smoothing parameters", kSmoothing, 8, 22, WM_SPIHT_SMOOTHING_CHANGED, 0.0f},
                      parent)
{}

CSpihtDecoderDlg::CSpihtDecoderDlg(QWidget *parent)
    : CValueRadioPage({IDD, "Set Decoding Bitrate (bpp)", kSpihtRates, 5, 38, WM_SPIHT_DECRATE_CHANGED, 0.5f},
                      parent)
{
    for (int id = 1472; id <= 1475; ++id)
        Button(id)->setEnabled(false);
}
