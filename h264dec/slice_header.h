// The slice header in the draft syntax, read in two parts around the activation of the parameter sets,
// with its reordering commands, prediction weights and reference marking, and the picture order count
// that ends it.
#pragma once

struct H264DecoderState;
struct Bitstream;

// first_mb_in_slice, slice_type, pic_parameter_set_id; returns the bit position after them.
int h264dec_read_slice_header_first(H264DecoderState &dec);
// Everything after the activation; returns the bit position after the header.
int h264dec_read_slice_header_rest(H264DecoderState &dec);
void h264dec_read_reordering(H264DecoderState &dec, Bitstream *bs);
void h264dec_read_pred_weights(H264DecoderState &dec, Bitstream *bs);
// Reads the marking syntax into img.mmco_list (after clearing it) and the three marking flags.
void h264dec_read_ref_marking(H264DecoderState &dec, Bitstream *bs);

// Picture order count of the slice's picture, and the state carried to the next picture.
void h264dec_decode_poc(H264DecoderState &dec);
void h264dec_update_poc_state(H264DecoderState &dec);

// The picture-order ring: the newest ten (top, bottom) pairs.
void dec_reset_poc_history(H264DecoderState &dec);
void dec_push_poc_history(H264DecoderState &dec, int top, int bottom, int reference);
// Top count at position b minus that at position a; position -1 is the newest entry.
int h264dec_poc_compare(const H264DecoderState &dec, int a, int b);
// Default weights 1 << denominator for every reference and component, offsets 0.
void dec_default_weights(H264DecoderState &dec);
