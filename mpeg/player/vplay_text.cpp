// The player's three lines.
#include "mpeg/player/vplay_text.h"

#include "platform/format.h"

std::string VplayStatusText(int height, int width, int length, int frame)
{
    std::string t = zn::Format("  Frame dimensions\t : %dx%d\r\n", height, width);
    t += length < 0 ? std::string("  Sequence length\t : Unknown\r\n")
                    : zn::Format("  Sequence length\t : %d frames\r\n", length);
    t += zn::Format("  Frame number     \t : %d\r\n", frame);
    return t;
}
