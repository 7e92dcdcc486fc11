// Weight tables of weighted prediction: the default table, the rounding terms of the denominators, and
// the bi-predictive table of B pictures, explicit (the two lists' weights side by side) or implicit
// (from the order distances of the two references and the current picture).
#pragma once

#include "h264dec/decoder_state.h"

// Both lists, every index and component: 1 << the component's denominator.
void dec_default_weights(DecoderImage &img);
// The one-direction rounding term of each denominator: half of 1 << denominator, 0 for denominator 0.
void dec_weight_rounding(DecoderImage &img);
// B pictures only: fills wbp_weight for the active indices (implicit weighting also resets the
// denominators to 5 and every one-direction weight to 32).
void dec_bipred_weights(H264DecoderState &dec);
