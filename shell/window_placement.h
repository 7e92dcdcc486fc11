// Window arithmetic of the image windows: the aspect fit that snaps a still image's window to the
// picture's proportions, the largest display size of a still image, and where each result window
// goes beside the document window. Pure integer functions, so they can be checked against a table.
#pragma once

namespace zn {

struct WinSize
{
    int w = 0;
    int h = 0;
    bool operator==(const WinSize &) const = default;
};

struct WinPos
{
    int left = 0;
    int top = 0;
    bool operator==(const WinPos &) const = default;
};

// Fits the box (w, h) to the aspect ratio of an image w0 x h0; the box never shrinks below the image
// or the maxima (mw, mh), whichever is smaller. The ratio test in floating point decides which side
// gives way, so a box dragged a pixel too wide or too high snaps back.
WinSize AspectFit(int w, int h, int w0, int h0, int mw, int mh);

// Largest display size of a still image: half of the MDI client beside the 256-pixel module column,
// less the window borders (cx, cy).
WinSize MaxDisplaySize(int clientW, int clientH, int menuBarH, int dlgFrame, int cx, int cy);

// Display size of a still image when its window is first placed.
WinSize InitialDisplaySize(int w0, int h0, int maxW, int maxH);

// Measures for placing result windows. R is the document window's rectangle as the rules read
// window rectangles: on the screen, while the positions they give are taken in the MDI area. The
// area's origin on the screen (screenX, screenY) is what lined the windows up: it is as far from the
// screen's corner as dx and dy3 take back, so a window placed at R.right - dx stands right beside
// the document window, and one at R.bottom - dy3 right below it, whatever frames the window system
// draws.
struct PlacementMetrics
{
    int dx = 0;  // frame width + dialog-frame width
    int dy3 = 0; // 3 x (menu-bar height + dialog-frame height)
    int m = 0;   // menu-bar height
    int W = 0;   // MDI client width less the module column
    int H = 0;   // MDI client height less 2 x (menu bar + dialog frame)
    int rRight = 0;
    int rBottom = 0;
    int screenX = 0; // the MDI area's origin in the rules' screen coordinates
    int screenY = 0;
};

// Windows A and B of a still-image result (+2 keeps them off the document window's border) and of a
// sequence result.
WinPos ResultAPosition(const PlacementMetrics &pm, bool sequence);
WinPos ResultBPosition(const PlacementMetrics &pm, bool sequence);
// First chain window.
WinPos FirstChainPosition(const PlacementMetrics &pm);
// The chain cascades down-right from the last window (lx, ly, read on the screen like R); when it
// runs off the right or bottom edge it starts again at the left, below the document window.
WinPos NextChainPosition(const PlacementMetrics &pm, int lx, int ly);
// Legend window and window D of the H.264 decoder: where they go depends on which of the decoder's
// other analysis windows are shown.
WinPos LegendPosition(const PlacementMetrics &pm, bool f1, bool f2, bool f3, bool f4);
WinPos ResultDPosition(const PlacementMetrics &pm, bool g1, bool g2, bool g3);

// Power-of-two test of the enabling rules (1, 2, 4, ...).
bool IsPowerOfTwo(int x);

} // namespace zn
