// Weight tables of weighted prediction: the default table, the rounding terms of the denominators, and
// the bi-predictive table of B pictures, explicit (the two lists' weights side by side) or implicit
// (from the order distances of the two references and the current picture).
#pragma once

#include "h264dec/decoder_state.h"

// Both lists, every index and component: 1 << the component's denominator.
void dec_default_weights(DecoderImage &img);
// The one-direction rounding term of each denominator: half of 1 << denominator, 0 for denominator 0.
void dec_weight_rounding(DecoderImage &img);
// The implicit weight pair (list 0, list 1) of two references td apart in order, the first tb before
// the current picture: list-1 weight = the distance scale / 4, list-0 weight = 64 minus it; 32 and 32
// for td = 0 or a list-1 weight outside -64..128. Shared with the encoder.
void dec_implicit_weight_pair(int td, int tb, int *w0, int *w1);
// Entries of the list-1 side of the bi-predictive table that a B picture with active_bwd backward
// references reads. A reference B picture weighs backward index s with entry 1 - s, so its index 0
// reads entry 1 even when it is the only backward reference. Shared with the encoder.
int dec_backward_weight_entries(int active_bwd, bool reference_b);
// B pictures only: fills wbp_weight for the active indices (implicit weighting also resets the
// denominators to 5 and every one-direction weight to 32).
void dec_bipred_weights(H264DecoderState &dec);
