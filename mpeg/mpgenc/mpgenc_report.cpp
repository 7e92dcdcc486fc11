// The per-picture report text. A field is half a frame's samples, so its bits per pixel are doubled
// to compare with frame pictures.
#include "mpeg/mpgenc/mpgenc_report.h"

#include "platform/format.h"

#include <cmath>

std::string MpegReportText(const MpegPictureReport &r)
{
    std::string t;
    double bpp = r.bitsPerPixel;
    if (r.field == -1) {
        t += zn::Format(" Compressed frame\t: %2d\r\n", r.codedFrame);
    } else if (r.field == 0) {
        t += zn::Format(" Compressed frame \t: %2d (top)\r\n", r.codedFrame);
        bpp *= 2.0;
    } else if (r.field == 1) {
        t += zn::Format(" Compressed frame\t: %2d (bottom)\r\n", r.codedFrame);
        bpp *= 2.0;
    } else {
        t += " Illegal fieldcode in ShowDecodingInfo()\r\n";
    }
    t += zn::Format(" Actual frame num.\t: %2d\r\n", r.frameNo);
    t += zn::Format(" Picture type  \t:  %c\r\n", r.type);
    t += zn::Format(" Bit rate       \t:  %.2f (bpp)\r\n", bpp);
    t += zn::Format(" MSE Y, U, V \t:  %.1f  %.1f  %.1f\r\n", r.mse[0], r.mse[1], r.mse[2]);
    t += zn::Format(" SNR Y, U, V \t:  %.1f  %.1f  %.1f (dB)\r\n", r.snr[0], r.snr[1], r.snr[2]);
    double psnr[3];
    for (int c = 0; c < 3; ++c)
        psnr[c] = 10.0 * std::log10(65025.0 / r.mse[c]);
    t += zn::Format(" PSNR Y, U, V \t:  %.1f  %.1f  %.1f (dB)\r\n", psnr[0], psnr[1], psnr[2]);
    t += r.statistics;
    return t;
}
