// Weighted prediction (see the header).
#include "h264enc/enc_weights.h"

#include "h264dec/picture_weights.h"
#include "h264enc/enc_run.h"
#include "h264enc/frame_store.h"
#include "h264enc/mb_predict.h"
#include "platform/log.h"

#include <algorithm>
#include <cmath>

namespace h264enc {

PocHistory::PocHistory()
{
    std::fill(std::begin(top), std::end(top), kEmpty);
    std::fill(std::begin(bottom), std::end(bottom), kEmpty);
}

void PocHistory::push(int t, int b, bool reference)
{
    if (last_ref) {
        std::copy_backward(top, top + 9, top + 10);
        std::copy_backward(bottom, bottom + 9, bottom + 10);
    }
    top[0] = t;
    bottom[0] = b;
    last_ref = reference;
}

void h264enc_push_picture_order(EncoderRun &run, bool idr, bool reference)
{
    // Decoders keep the history only for order counts of type 1, and not for an IDR picture (its count
    // is 0 by definition); with the other types every distance stays 0 there, and so the weights even.
    const EncoderImage &img = run.img;
    if (img.poc_type == 1 && !idr)
        run.poc_history.push(img.toppoc, img.bottompoc, reference);
}

int PocHistory::distance(int a, int b) const
{
    const int ia = std::clamp(a + 1, 0, 9), ib = std::clamp(b + 1, 0, 9);
    return static_cast<int>(static_cast<unsigned>(top[ib]) - static_cast<unsigned>(top[ia]));
}

namespace {

long long LumaSum(const uint8_t *samples, size_t n)
{
    long long sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += samples[i];
    return sum;
}

// The luma weight that brings the reference's mean brightness to the source's (denominator 32).
int BrightnessWeight(long long dc_org, long long dc_ref, int r)
{
    const int weight =
        dc_ref == 0 ? 64 : static_cast<int>(std::floor(32.0 * static_cast<double>(dc_org) / dc_ref + 0.5));
    zn::LogF(zn::LogLevel::Info, "dc_org = %d, dc_ref = %d, weight[%d] = %d\n", static_cast<int>(dc_org),
             static_cast<int>(dc_ref), r, weight);
    return weight;
}

// Explicit weights: list 0 per forward reference; in B pictures list 1 per backward weight index, each
// for the picture that index weights.
void ExplicitWeights(EncoderRun &run)
{
    EncoderImage &img = run.img;
    const size_t n = static_cast<size_t>(img.width) * static_cast<size_t>(img.height);
    const long long dcOrg = LumaSum(run.org->y.data(), n);
    // Active indices past the stored pictures (a B picture's last forward one) are never used.
    const std::vector<RefFrame *> &set = *run.refs.current;
    auto stored = [&](int entry) {
        return entry < static_cast<int>(set.size()) && set[static_cast<size_t>(entry)];
    };
    // A B picture's forward references follow its backward frame, or the backward frame's two fields.
    const int first = img.type == kTypeB ? (img.field_picture ? 2 : 1) : 0;
    for (int r = 0; r <= img.num_ref_minus1 && r < kMaxWeightRefs && stored(r + first); ++r)
        img.wp_weight[0][r][0] =
            BrightnessWeight(dcOrg, LumaSum(reference_frame(run, r)->Refbuf11.data(), n), r);
    if (!IsB(img))
        return;
    for (int j = 0; j <= img.stored_b_ref && j < kMaxWeightRefs && stored(backward_weight_index(img, j));
         ++j) {
        // backward_weight_index is its own inverse: the index j weights backward reference s = index(j).
        const RefFrame &f = *backward_frame(run, backward_weight_index(img, j));
        img.wp_weight[1][j][0] = BrightnessWeight(dcOrg, LumaSum(f.Refbuf11.data(), n), j);
    }
    // The table covers the entries the decoder reads: with one backward reference a stored B picture
    // weighs it with entry 1, whose list-1 weight is the default one.
    const int nb =
        std::min(dec_backward_weight_entries(img.stored_b_ref + 1, img.type == kTypeStoredB), kMaxWeightRefs);
    for (int i = 0; i <= img.num_ref_minus1 && i < kMaxWeightRefs; ++i)
        for (int j = 0; j < nb; ++j)
            for (int c = 0; c < 3; ++c) {
                img.wbp_weight[0][i][j][c] = img.wp_weight[0][i][c];
                img.wbp_weight[1][i][j][c] = img.wp_weight[1][j][c];
            }
}

} // namespace

int backward_weight_index(const EncoderImage &img, int s)
{
    return img.type == kTypeStoredB ? 1 - s : s;
}

void h264enc_implicit_weights(EncoderImage &img, const PocHistory &history, bool reference_b)
{
    // History indices of the list entries: a B picture that is not a reference has the newest
    // reference (its backward one) before its forward ones; a reference B picture names its two
    // nearest references in list 1 the other way round.
    int map0[kMaxWeightRefs], map1[kMaxWeightRefs];
    for (int k = 0; k < kMaxWeightRefs; ++k) {
        map0[k] = reference_b ? k : std::min(k + 1, 9);
        map1[k] = k;
    }
    if (reference_b)
        std::swap(map1[0], map1[1]);
    img.luma_log_weight_denom = img.chroma_log_weight_denom = 5;
    for (int list = 0; list < 2; ++list)
        for (int r = 0; r < kMaxWeightRefs; ++r)
            for (int c = 0; c < 3; ++c) {
                img.wp_weight[list][r][c] = 32;
                img.wp_offset[list][r][c] = 0;
            }
    const int nf = std::clamp(img.num_ref_minus1 + 1, 0, kMaxWeightRefs);
    const int nb = std::min(dec_backward_weight_entries(img.stored_b_ref + 1, reference_b), kMaxWeightRefs);
    for (int i = 0; i < nf; ++i)
        for (int j = 0; j < nb; ++j) {
            int w0 = 32, w1 = 32;
            dec_implicit_weight_pair(history.distance(map0[i], map1[j]), history.distance(map0[i], -1), &w0,
                                     &w1);
            for (int c = 0; c < 3; ++c) {
                img.wbp_weight[0][i][j][c] = w0;
                img.wbp_weight[1][i][j][c] = w1;
            }
        }
}

void h264enc_estimate_weights(EncoderRun &run)
{
    EncoderImage &img = run.img;
    const EncoderParams &in = run.input;
    const bool b = IsB(img);
    const bool weighted = b ? in.WeightedBiprediction > 0 : in.WeightedPrediction != 0 && img.type == kTypeP;
    img.apply_weights = weighted ? 1 : 0;
    img.luma_log_weight_denom = img.chroma_log_weight_denom = 5;
    for (int list = 0; list < 2; ++list)
        for (int r = 0; r < kMaxWeightRefs; ++r) {
            for (int c = 0; c < 3; ++c) {
                img.wp_weight[list][r][c] = 32;
                img.wp_offset[list][r][c] = 0;
            }
            for (auto &pair : img.wbp_weight[list][r])
                std::fill(std::begin(pair), std::end(pair), 32);
        }
    if (!weighted)
        return;
    if (b && in.WeightedBiprediction == 2)
        h264enc_implicit_weights(img, run.poc_history, img.type == kTypeStoredB);
    else
        ExplicitWeights(run);
}

int combine_prediction(const EncoderImage &img, const BlockSource &s, const int p[2], int comp)
{
    if (!img.apply_weights) {
        if (s.use[0] && s.use[1])
            return (p[0] + p[1] + 1) / 2;
        return p[s.use[0] ? 0 : 1];
    }
    const int denom = comp == 0 ? img.luma_log_weight_denom : img.chroma_log_weight_denom;
    const int round = denom > 0 ? 1 << (denom - 1) : 0;
    const int i = std::clamp(s.ref[0], 0, kMaxWeightRefs - 1);
    const int j = std::clamp(backward_weight_index(img, s.ref[1]), 0, kMaxWeightRefs - 1);
    if (s.use[0] && s.use[1]) {
        const int w0 = img.wbp_weight[0][i][j][comp], w1 = img.wbp_weight[1][i][j][comp];
        const int o = (img.wp_offset[0][i][comp] + img.wp_offset[1][j][comp] + 1) >> 1;
        // A denominator of 0 still rounds the pair by 1.
        const int twoRound = denom > 0 ? 2 * round : 1;
        return clip_pixel(((p[0] * w0 + p[1] * w1 + twoRound) >> (denom + 1)) + o);
    }
    const int list = s.use[0] ? 0 : 1;
    const int k = list == 0 ? i : j;
    return clip_pixel(((img.wp_weight[list][k][comp] * p[list] + round) >> denom) +
                      img.wp_offset[list][k][comp]);
}

} // namespace h264enc
