// Template module engine. Its point is the shape of a module, so it works the simple way: copy the
// rows out into an integer plane, process, and write the plane back as grey pixels.
#include "modules/template/tplt_engine.h"

#include "image/cdib.h"
#include "platform/messages.h"

#include <cstdint>
#include <vector>

TpltRunResult TpltProcessImage(const TpltParams &par, const CDib *image, CDib *result)
{
    TpltRunResult out;
    if (!image || !image->IsValid() || !result)
        return out;
    const int h = image->GetHeight();
    const int w = image->GetWidth();
    // The rows are read three bytes per pixel; a palette image has one byte per pixel and would be
    // read past its end.
    if (image->GetInfoHeader()->biBitCount != 24) {
        zn::ShowMessage(
            zn::Format("(OnTpltApply) The template module works on 24-bit images only; this image "
                       "has %d bits per pixel.",
                       static_cast<int>(image->GetInfoHeader()->biBitCount)));
        return out;
    }
    const int stored = ((24 * w + 31) / 32) * 4;
    if (stored != 3 * w)
        zn::ShowMessage(zn::Format(
            "For this image is the actual elements per line (%d) different from the stored one (%d).", 3 * w,
            stored));

    const size_t n = static_cast<size_t>(w) * h;
    std::vector<int32_t> a(n), b(n, 0);
    for (int r = 0; r < h; ++r) {
        const uint8_t *row = image->StoredRow(h - 1 - r);
        for (int k = 0; k < w; ++k)
            a[static_cast<size_t>(r) * w + k] = row[3 * k];
    }

    long processed = 0;
    if (par.nInvert == 1) {
        for (int32_t &v : a)
            v = 255 - v;
        processed += static_cast<long>(n);
    } else if (par.nInvert != 2) {
        zn::ShowMessage("Internal error in CtpltDlg::OnTpltApply (#1). Please report to author");
    }

    if (par.nMirror == 1) {
        for (int r = 0; r < h; ++r)
            for (int k = 0; k < w; ++k)
                b[static_cast<size_t>(r) * w + k] = a[static_cast<size_t>(r) * w + (w - 1 - k)];
        processed += static_cast<long>(n);
    } else if (par.nMirror == 2) {
        b = a;
        processed += static_cast<long>(n);
    } else {
        // The picture stays black rather than showing whatever memory held.
        zn::ShowMessage("Internal error in CtpltDlg::OnTpltApply (#2). Please report to author");
    }

    result->CopyDib(image);
    for (int r = 0; r < h; ++r) {
        uint8_t *row = result->StoredRow(h - 1 - r);
        for (int k = 0; k < w; ++k) {
            const uint8_t v = static_cast<uint8_t>(b[static_cast<size_t>(r) * w + k] & 0xff);
            row[3 * k + 2] = v;
            row[3 * k + 1] = v;
            row[3 * k] = v;
        }
    }

    out.results.clear();
    if (par.nInvert == 1)
        out.results += "The image intensities have been inverted\r\n";
    std::string second;
    if (par.nMirror == 1)
        second = "The image has been horizontally mirrored.\r\n";
    out.results += second + "\r\n";
    out.results += zn::Format("Number of pixels processed\t: %ld\r\n", processed);
    out.processed = processed;
    out.done = true;
    return out;
}
