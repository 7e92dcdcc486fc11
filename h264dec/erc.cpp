// Loss bookkeeping. The flags follow the dependencies between element kinds: losing a macroblock type
// loses everything read after it in the macroblock, losing an intra mode loses the intra residual,
// losing a motion vector difference the inter residual.
#include "h264dec/erc.h"

#include "h264dec/decoder_state.h"
#include "h264dec/macroblock.h"

#include <algorithm>
#include <new>

namespace {

template <class F> void Alloc(const char *what, F &&f)
{
    try {
        f();
    } catch (const std::bad_alloc &) {
        dec_out_of_memory_exit(what);
    }
}

} // namespace

void ercInit(H264DecoderState &dec, int pic_sizex, int pic_sizey, int flag)
{
    const long long objects = static_cast<long long>(std::max(pic_sizex, 0)) * std::max(pic_sizey, 0) / 64;
    Alloc("ercInit: erc_object_list", [&] {
        if (objects > kMaxDecoderArrayBytes / static_cast<long long>(sizeof(ErcObject)))
            throw std::bad_alloc();
        dec.erc_object_list.assign(static_cast<size_t>(objects), ErcObject{});
    });
    Alloc("ercOpen: errorVar", [&] { dec.errorVar = ercOpen(); });
    h264dec_erc_set_concealment(dec.errorVar.get(), flag);
}

std::unique_ptr<ErcVariables> ercOpen()
{
    auto v = std::make_unique<ErcVariables>();
    v->concealment = 1;
    return v;
}

void ercReset(ErcVariables *errorVar, int nOfMBs, int numOfSegments, int)
{
    if (!errorVar || !errorVar->concealment)
        return;
    nOfMBs = std::max(nOfMBs, 0);
    numOfSegments = std::max(numOfSegments, 0);
    if (nOfMBs != errorVar->nOfMBs) {
        errorVar->yCondition.clear();
        errorVar->prevFrameYCondition.clear();
        errorVar->uCondition.clear();
        errorVar->vCondition.clear();
        errorVar->segments.clear();
        errorVar->nOfSegments = 0;
    }
    if (!errorVar->yCondition.empty()) {
        std::swap(errorVar->yCondition, errorVar->prevFrameYCondition);
    } else {
        const size_t mbs = static_cast<size_t>(nOfMBs);
        Alloc("ercReset: errorVar->segments",
              [&] { errorVar->segments.assign(static_cast<size_t>(numOfSegments), {}); });
        errorVar->nOfSegments = numOfSegments;
        Alloc("ercReset: errorVar->yCondition", [&] { errorVar->yCondition.assign(4 * mbs, 0); });
        Alloc("ercReset: errorVar->prevFrameYCondition",
              [&] { errorVar->prevFrameYCondition.assign(4 * mbs, 0); });
        Alloc("ercReset: errorVar->uCondition", [&] { errorVar->uCondition.assign(mbs, 0); });
        Alloc("ercReset: errorVar->vCondition", [&] { errorVar->vCondition.assign(mbs, 0); });
        errorVar->nOfMBs = nOfMBs;
    }
    std::fill(errorVar->yCondition.begin(), errorVar->yCondition.end(), 0);
    std::fill(errorVar->uCondition.begin(), errorVar->uCondition.end(), 0);
    std::fill(errorVar->vCondition.begin(), errorVar->vCondition.end(), 0);
    if (numOfSegments != errorVar->nOfSegments) {
        Alloc("ercReset: errorVar->segments",
              [&] { errorVar->segments.assign(static_cast<size_t>(numOfSegments), {}); });
        errorVar->nOfSegments = numOfSegments;
    }
    for (ErcSegment &s : errorVar->segments) {
        s.startMBPos = 0;
        s.endMBPos = nOfMBs - 1;
        s.fCorrupted = 1;
    }
    errorVar->currSegment = 0;
    errorVar->nOfCorruptedSegments = 0;
}

void h264dec_erc_close(H264DecoderState &dec)
{
    dec.errorVar.reset();
    dec.erc_object_list.clear();
}

void h264dec_erc_set_concealment(ErcVariables *errorVar, int value)
{
    if (errorVar)
        errorVar->concealment = value;
}

void h264dec_set_lost_flag(H264DecoderState &dec, int kind)
{
    const auto set = [&](int from, int to) {
        for (int k = from; k <= to; ++k)
            dec.lost_flags[k] = 1;
    };
    if (kind >= 0 && kind <= 3) {
        set(kind, 3);
        set(SE_MVD, SE_MVD);
        set(SE_CBP_INTER, SE_CHR_AC_INTER);
    } else if (kind == SE_MVD) {
        set(SE_MVD, SE_MVD);
        set(SE_CBP_INTER, SE_CHR_AC_INTER);
    } else if (kind == SE_INTRAPREDMODE) {
        set(SE_INTRAPREDMODE, SE_INTRAPREDMODE);
        set(SE_CBP_INTRA, SE_CHR_AC_INTRA);
    } else if (kind >= SE_CBP_INTRA && kind <= SE_CHR_AC_INTRA) {
        set(kind, SE_CHR_AC_INTRA);
    } else if (kind >= SE_CBP_INTER && kind <= SE_CHR_AC_INTER) {
        set(kind, SE_CHR_AC_INTER);
    } else if (kind == SE_DELTA_QUANT_INTER || kind == SE_DELTA_QUANT_INTRA) {
        set(kind, kind);
    }
}

void h264dec_reset_lost_flags(H264DecoderState &dec)
{
    std::fill(std::begin(dec.lost_flags), std::end(dec.lost_flags), 0);
}

void h264dec_erc_write_macroblock(H264DecoderState &dec)
{
    const DecoderImage &img = dec.img;
    const DecoderMacroblock &mb = h264dec_current_mb(dec);
    const int perRow = img.width / 8;
    const bool isB = IsBPicture(img.type);
    const Array3D<int> *mv = isB ? img.fwd_mv : img.mv;
    const Array2D<int> *refs = isB ? img.fwd_ref : img.ref_idx_arr;
    const bool intra = mb.mb_type == kMbIntra4x4 || mb.mb_type == kMbIntra16x16;
    for (int q = 0; q < 4; ++q) {
        const int xMin = img.pix_x + 8 * (q % 2), yMin = img.pix_y + 8 * (q / 2);
        const long long index = static_cast<long long>(yMin / 8) * perRow + xMin / 8;
        if (perRow <= 0 || index < 0 || index >= static_cast<long long>(dec.erc_object_list.size()))
            continue;
        ErcObject &o = dec.erc_object_list[static_cast<size_t>(index)];
        o.regionMode = mb.mb_type == kMb8x8 ? mb.sub_mode[q] : mb.mb_type;
        o.xMin = xMin;
        o.yMin = yMin;
        const int bx = img.block_x + 2 * (q % 2), by = img.block_y + 2 * (q / 2);
        int sum[2] = {};
        if (!intra && mv && refs) {
            for (int j = 0; j < 2; ++j)
                for (int i = 0; i < 2; ++i)
                    for (int c = 0; c < 2; ++c)
                        sum[c] += (*mv)[bx + i + 4][by + j][c];
        }
        o.mv[0] = sum[0] / 4;
        o.mv[1] = sum[1] / 4;
        o.mv[2] = intra || !refs ? -1 : (*refs)[by][bx];
    }
}
