// The subband codec: every band is quantised and decoded in place with its own quantiser, by PCM or by
// DPCM with its own predictor. The total rate weighs each band by its share of the image's pixels.
#include "modules/sbc/subb.h"

#include "modules/sbc/sbc_quant.h"
#include "platform/errors.h"
#include "platform/messages.h"

void SbcCodec(float *totalRate, float *totalDist, float *rates, float *dists, Subb *sb, Quant *const *quants,
              const int *methods, const float *coef, float p)
{
    *totalRate = 0;
    *totalDist = 0;
    if (sb->seqType != IMG_SEQ_MONO || sb->rep != IMG_REP_FLOAT || !sb->plane[0] || sb->comp.empty()) {
        zn::ShowMessage("SbcCodec-Only floating Y subband images are supported");
        return; // the quantisers read and write floats
    }
    const SubbComponent &comp = sb->comp[0];
    // Every band needs its quantiser; check them all before the plane is touched.
    for (int i = 0; i < comp.count; ++i)
        if (!SbcQuantUsable(quants[i]))
            throw zn::RunAborted(zn::Format("SbcCodec-No quantizer for subband %d", i + 1));
    const double pixels = static_cast<double>(sb->rows) * sb->cols;
    for (int i = 0; i < comp.count; ++i) {
        const Quant *q = quants[i];
        if (p > 0 && q->code->type != VLC_TYPE_FLC)
            zn::ShowMessage("SbcCodec-Channel errors can only be used with FLCs");
        const int rows = comp.bandRows[i], cols = comp.bandCols[i];
        const long first = comp.first[i];
        rates[i] = dists[i] = 0;
        if (!SubbBandInside(sb, i))
            continue;
        switch (methods[i]) {
        case SBC_PCM:
            SbcPcmQuantize(&rates[i], &dists[i], q, p, sb->plane[0], sb->rep, rows, cols, first, sb->cols);
            break;
        case SBC_DPCM:
            SbcDpcmQuantize(&rates[i], &dists[i], q, &coef[4 * i], p, sb->plane[0], sb->rep, rows, cols,
                            first, sb->cols);
            break;
        default:
            zn::ShowMessage("SbcCodec-Unknown coding method for one of the subbands");
            break;
        }
        const double fraction = pixels > 0 ? rows * static_cast<double>(cols) / pixels : 0;
        *totalRate += static_cast<float>(fraction * rates[i]);
        *totalDist += dists[i];
    }
}
