// Measures, R(D) values and result-image names shared by the still-image modules.
#include "modules/common/module_results.h"

#include "image/img.h"
#include "image/znimage.h"

#include <algorithm>
#include <cmath>

namespace zn {

Measures MeasureReconstruction(const ZnImage &source, const ZnImage &decoded)
{
    Measures m;
    float mse[3] = {0, 0, 0};
    float snr[3] = {0, 0, 0};
    float psnr = 0;
    m.errorFree = MseSnrImg(mse, snr, &psnr, source.img, decoded.img, 0) == 1;
    m.mse = mse[0];
    m.snr = snr[0];
    m.psnr = m.errorFree ? 0.0f : psnr; // left unwritten by the measure in that case
    return m;
}

void RoundToGreyLevels(ZnImage *image)
{
    float *p = image->Data();
    const long n = static_cast<long>(image->Rows()) * image->Cols();
    for (long i = 0; i < n; ++i) {
        const float v = p[i] >= 0.0f ? std::min(p[i], 255.0f) : 0.0f; // NaN too becomes 0
        p[i] = std::floor(v + 0.5f);
    }
}

RDValues RDPointValues(const Measures &m)
{
    if (m.errorFree)
        return {kErrorFreeDb, kErrorFreeDb};
    return {m.snr, m.psnr};
}

std::string ResultImageName(const std::string &key, const std::string &title, const std::string &suffix)
{
    return key + "_" + title + suffix;
}

std::string ResultCaption(const std::string &key, const std::string &title, const std::string &tags)
{
    return key + "(" + title + "): " + tags;
}

const ValueTag &FindValueTag(float value, std::span<const ValueTag> table)
{
    static const ValueTag none{0.0f, "", ""};
    for (const ValueTag &t : table)
        if (t.value == value)
            return t;
    return none;
}

} // namespace zn
