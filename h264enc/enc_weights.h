// Weighted prediction: the weights of a picture (explicit ones estimated from the brightness of the
// source and its references, implicit ones of B pictures from picture order distances), and the way a
// block's one or two predictions are combined with them. Both follow the decoder's tables exactly, so
// that the reconstruction of a weighted picture equals what a decoder makes of the stream.
#pragma once

namespace h264enc {

struct EncoderRun;
struct EncoderImage;
struct BlockSource;

// The picture order counts of the current picture and of the reference pictures before it, newest
// first: entry 0 the current picture, entry k + 1 the k-th newest reference. A picture that is not a
// reference is replaced by the next one pushed.
struct PocHistory
{
    static constexpr int kEmpty = 1 << 29;
    int top[10], bottom[10];
    bool last_ref = false;
    PocHistory();
    void push(int t, int b, bool reference);
    // Order distance from history index a to history index b (index -1 the current picture).
    int distance(int a, int b) const;
};

// Enters the picture about to be coded into the run's order history, as a decoder does.
void h264enc_push_picture_order(EncoderRun &run, bool idr, bool reference);
// The weights of the picture about to be coded: WeightedPrediction for P pictures, WeightedBiprediction
// 1 (explicit) or 2 (implicit) for B pictures; unit weights and apply_weights 0 otherwise.
void h264enc_estimate_weights(EncoderRun &run);
// The implicit two-direction weights of a B picture from the order history, as the decoder derives
// them: list-1 weight = (distance scale) / 4, list-0 weight = 64 minus it; 32 and 32 for a zero
// distance or an out-of-range result.
void h264enc_implicit_weights(EncoderImage &img, const PocHistory &history, bool reference_b);
// The weight-table index of backward reference s: a B picture used for reference names its two
// nearest references in the opposite order.
int backward_weight_index(const EncoderImage &img, int s);
// A weighted sample back into 0..255.
inline int clip_pixel(int v)
{
    return v >= 256 ? 255 : v < 0 ? 0 : v;
}
// One sample of a block's prediction from the samples p[0] (forward) and p[1] (backward) of the
// directions it uses, for component comp (0 Y, 1 U, 2 V).
int combine_prediction(const EncoderImage &img, const BlockSource &s, const int p[2], int comp);

} // namespace h264enc
