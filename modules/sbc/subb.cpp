// The subband decomposition record: planes plus, per component, the band list and split history.
#include "modules/sbc/subb.h"

#include "platform/messages.h"

#include <cstdlib>

void AllocSubb(Subb **out, int rows, int cols, int rep, int seqType)
{
    Subb *sb = new Subb;
    *out = sb;
    sb->rows = rows;
    sb->cols = cols;
    sb->rep = rep;
    sb->seqType = seqType;
    const int ncomp = seqType == IMG_SEQ_MONO ? 1 : 3;
    sb->comp.resize(ncomp);
    for (int k = 0; k < ncomp; ++k) {
        SubbComponent &c = sb->comp[k];
        c.count = 1;
        c.bandRows[0] = rows;
        c.bandCols[0] = (seqType == IMG_SEQ_YUV && k > 0) ? cols / 2 : cols;
        c.first[0] = 0;
    }
    if (rows <= 0 || cols <= 0)
        return;
    if (rep != IMG_REP_BYTE && rep != IMG_REP_INT && rep != IMG_REP_FLOAT) {
        zn::ShowMessage("AllocSubb, Invalid representation type");
        return;
    }
    if (seqType < IMG_SEQ_MONO || seqType > IMG_SEQ_RGB) {
        zn::ShowMessage("AllocSubb, Invalid sequence type");
        return;
    }
    const size_t n = static_cast<size_t>(rows) * cols;
    const size_t es = rep == IMG_REP_BYTE ? 1 : 4;
    sb->plane[0] = std::calloc(n, es);
    if (seqType != IMG_SEQ_MONO) {
        const size_t nc = seqType == IMG_SEQ_YUV ? n / 2 : n;
        sb->plane[1] = std::calloc(nc ? nc : 1, es);
        sb->plane[2] = std::calloc(nc ? nc : 1, es);
    }
    const int nplanes = seqType == IMG_SEQ_MONO ? 1 : 3;
    for (int k = 0; k < nplanes; ++k)
        if (!sb->plane[k])
            zn::ShowMessage("AllocSubb-Sorry not enough memory");
}

void FreeSubb(Subb *sb)
{
    if (!sb)
        return;
    if (sb->seqType == IMG_SEQ_MONO) {
        std::free(sb->plane[0]);
    } else if (sb->seqType == IMG_SEQ_YUV || sb->seqType == IMG_SEQ_RGB) {
        for (void *p : sb->plane)
            std::free(p);
    } else {
        zn::ShowMessage("FreeSubb-Invalid subband type");
    }
    delete sb;
}

Subb *SubbTakingPlane(Img *src)
{
    Subb *sb;
    AllocSubb(&sb, 0, 0, IMG_REP_FLOAT, IMG_SEQ_MONO);
    sb->rows = src->rows;
    sb->cols = src->cols;
    sb->plane[0] = src->plane[0];
    src->plane[0] = nullptr;
    SubbComponent &c = sb->comp[0];
    c.bandRows[0] = sb->rows;
    c.bandCols[0] = sb->cols;
    return sb;
}

Img *ImgTakingPlane(Subb *sb)
{
    Img *img;
    AllocImg(&img, 0, 0, IMG_REP_FLOAT, IMG_SEQ_MONO);
    img->rows = sb->rows;
    img->cols = sb->cols;
    img->plane[0] = sb->plane[0];
    sb->plane[0] = nullptr;
    return img;
}
