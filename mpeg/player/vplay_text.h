// The video player's result text: the picture's size (height first), the sequence's length and the
// number of the frame on screen.
#pragma once

#include <string>

// length < 0: a numbered BMP series, whose length is not known before its last file.
std::string VplayStatusText(int height, int width, int length, int frame);
