// SEI units: every message is parsed in the draft syntax and dropped; none changes decoding.
#pragma once

#include <cstdint>

struct H264DecoderState;

// The message loop over a unit (its header byte first). Stops at the trailing bits or at the end of the
// unit; a spare-picture message with too many spare pictures drops the rest of the unit, and one with
// an unknown area indicator ends the run.
void h264dec_read_sei(H264DecoderState &dec, const uint8_t *msg, int size);

// Payload readers: the payload's first byte and its size. Each returns false when the message is
// damaged beyond reading (the unit is then dropped).
bool h264dec_sei_buffering_period(H264DecoderState &dec, const uint8_t *payload, int size);
bool h264dec_sei_picture_timing(H264DecoderState &dec, const uint8_t *payload, int size);
bool h264dec_sei_pan_scan(H264DecoderState &dec, const uint8_t *payload, int size);
bool h264dec_sei_filler(H264DecoderState &dec, const uint8_t *payload, int size);
bool h264dec_sei_user_registered(H264DecoderState &dec, const uint8_t *payload, int size);
bool h264dec_sei_recovery_point(H264DecoderState &dec, const uint8_t *payload, int size);
bool h264dec_sei_marking_repetition(H264DecoderState &dec, const uint8_t *payload, int size);
bool h264dec_sei_spare_pic(H264DecoderState &dec, const uint8_t *payload, int size);
bool h264dec_sei_scene_info(H264DecoderState &dec, const uint8_t *payload, int size);
bool h264dec_sei_sub_seq_info(H264DecoderState &dec, const uint8_t *payload, int size);
bool h264dec_sei_sub_seq_layer(H264DecoderState &dec, const uint8_t *payload, int size);
bool h264dec_sei_sub_seq_char(H264DecoderState &dec, const uint8_t *payload, int size);
bool h264dec_sei_snapshot(H264DecoderState &dec, const uint8_t *payload, int size);
bool h264dec_sei_refinement(H264DecoderState &dec, const uint8_t *payload, int size);
bool h264dec_sei_mcts(H264DecoderState &dec, const uint8_t *payload, int size);
