// The report the encoder's dialog shows after each coded picture: which frame (and field) it was,
// its type, its bits per pixel, and the error, SNR and PSNR of each component, then the macroblock
// statistics of the picture.
#pragma once

#include "mpeg/mpgenc/mpgenc.h"

#include <string>

std::string MpegReportText(const MpegPictureReport &report);
