// Command ids of the document windows' menu and context menu. The numbers are the program's command
// ids; the main frame routes them by number, so menus, tool bar and tests all speak of the same ids.
#pragma once

namespace zn::cmd {

// Application commands (handled by the main frame).
constexpr int kOpenImage = 32826;
constexpr int kOpenSequence = 32792;
constexpr int kOpenMpegStream = 32796;
constexpr int kOpenH264Stream = 32833;
constexpr int kSettings = 32783;
constexpr int kAppAbout = 32788;
constexpr int kAppHelp = 32836;
constexpr int kFileNew = 57600;
constexpr int kFileClose = 57602;
constexpr int kRecentFileFirst = 57616; // 8 entries
constexpr int kAppExit = 57665;
constexpr int kWindowArrange = 57649;
constexpr int kWindowCascade = 57650;
constexpr int kWindowTile = 57651;

// Image view commands (the active image window).
constexpr int kImageInfo = 32773;
constexpr int kSetAsStartImage = 32780;
constexpr int kSaveImageAs = 32781;
constexpr int kPutOnStack = 32819;
constexpr int kSubtractFromStack = 32820;
constexpr int kDeleteResultImages = 32837;

// Module commands (the document).
constexpr int kSubsampling = 32775;
constexpr int kPcm = 32771;
constexpr int kDpcm = 32772;
constexpr int kVq = 32784;
constexpr int kFractal = 32786;
constexpr int kDct = 32778;
constexpr int kJpeg = 32789;
constexpr int kSubband = 32777;
constexpr int kSpiht = 32815;
constexpr int kEzw = 32816;
constexpr int kJpeg2000 = 32817;
constexpr int kVideoPlayer = 32803;
constexpr int kMotionEstimation = 32793;
constexpr int kMpegEncoder = 32805;
constexpr int kMpegDecoder = 32797;
constexpr int kH264Encoder = 32831;
constexpr int kH264Decoder = 32832;
constexpr int kStoreRD = 32827;
constexpr int kPlotRD = 32825;
constexpr int kTemplate = 32829;

} // namespace zn::cmd
