// Weight tables.
#include "h264dec/picture_weights.h"

#include "h264dec/slice_header.h"
#include "platform/log.h"

#include <algorithm>

void dec_default_weights(DecoderImage &img)
{
    for (int list = 0; list < 2; ++list)
        for (int r = 0; r < kMaxRefIdx; ++r)
            for (int c = 0; c < 3; ++c)
                img.wp_weight[list][r][c] =
                    1 << (c == 0 ? img.luma_log_weight_denom : img.chroma_log_weight_denom);
}

void dec_weight_rounding(DecoderImage &img)
{
    img.wp_round_luma = img.luma_log_weight_denom > 0 ? 1 << (img.luma_log_weight_denom - 1) : 0;
    img.wp_round_chroma = img.chroma_log_weight_denom > 0 ? 1 << (img.chroma_log_weight_denom - 1) : 0;
}

void dec_implicit_weight_pair(int td, int tb, int *w0, int *w1)
{
    *w0 = *w1 = 32;
    if (td == 0)
        return;
    const int tx = (16384 + (td >> 1)) / td;
    const int scale =
        static_cast<int>(std::clamp((static_cast<long long>(tb) * tx + 32) >> 6, -1024LL, 1023LL));
    *w1 = scale >> 2;
    *w0 = 64 - *w1;
    if (*w1 < -64 || *w1 > 128)
        *w0 = *w1 = 32;
}

int dec_backward_weight_entries(int active_bwd, bool reference_b)
{
    const int n = std::clamp(active_bwd, 0, kMaxRefIdx);
    return reference_b && n > 0 ? std::max(n, 2) : n;
}

void dec_bipred_weights(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    if (!IsBPicture(img.type))
        return;
    // Order-history entries of the list indices: a reference B picture sits in the history itself,
    // and its two nearest references trade places in list 1.
    int map0[kMaxRefIdx], map1[kMaxRefIdx];
    for (int k = 0; k < kMaxRefIdx; ++k) {
        map0[k] = img.non_reference ? std::min(k + 1, 9) : k;
        map1[k] = k;
    }
    if (!img.non_reference) {
        map1[0] = 1;
        map1[1] = 0;
    }
    if (img.weighted_bipred_idc == 2) {
        img.luma_log_weight_denom = img.chroma_log_weight_denom = 5;
        img.wp_round_luma = img.wp_round_chroma = 16;
        for (auto &list : img.wp_weight)
            for (auto &r : list)
                std::fill(std::begin(r), std::end(r), 32);
        // Implicit weighting has no offsets; those of an earlier explicitly weighted picture would
        // otherwise still be added.
        for (auto &list : img.wp_offset)
            for (auto &r : list)
                std::fill(std::begin(r), std::end(r), 0);
    }
    const int nf = std::clamp(img.num_ref_idx_active_fwd, 0, kMaxRefIdx);
    // Entries past the active ones would otherwise keep whatever an earlier picture left there.
    const int nb = dec_backward_weight_entries(img.num_ref_idx_active_bwd, !img.non_reference);
    for (int i = 0; i < nf; ++i)
        for (int j = 0; j < nb; ++j) {
            int w0 = 32, w1 = 32;
            if (img.weighted_bipred_idc == 2) {
                dec_implicit_weight_pair(h264dec_poc_compare(dec, map0[i], map1[j]),
                                         h264dec_poc_compare(dec, map0[i], -1), &w0, &w1);
                zn::LogF(zn::LogLevel::Info, "bpw weight[%d][%d] = %d, %d\n", i, j, w0, w1);
            }
            for (int c = 0; c < 3; ++c) {
                if (img.weighted_bipred_idc == 1) {
                    img.wbp_weight[0][i][j][c] = img.wp_weight[0][i][c];
                    img.wbp_weight[1][i][j][c] = img.wp_weight[1][j][c];
                } else {
                    img.wbp_weight[0][i][j][c] = w0;
                    img.wbp_weight[1][i][j][c] = w1;
                }
            }
        }
}
