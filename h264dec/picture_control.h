// Picture decoding control: one call decodes one picture of the stream (a frame, or a field pair
// merged into its frame). It reads units up to each slice, decides where a new picture starts,
// prepares the picture (the stores and per-run arrays at the first one), runs the slices, deblocks,
// stores references in frame and field form with the co-located motion of later direct prediction,
// writes the per-picture text and hands the picture to the sink in output order.
#pragma once

#include "h264dec/decoder_state.h"

#include <string>

// Results of read_new_slice.
enum NewSliceResult { kEndOfStream = 1, kNewPicture = 2, kSamePicture = 3 };

// 1 at the end of the stream (nothing decoded), 2 when a picture was decoded and handed on. With
// show_text the per-picture text goes to the sink and the picture's views are asked for.
int h264dec_decode_picture(H264DecoderState &dec, bool show_text);

// Reads units up to the next slice and its header; 1, 2 or 3 as above.
int read_new_slice(H264DecoderState &dec);
void dec_decode_frame_slice(H264DecoderState &dec, int result);
void dec_decode_field_slice(H264DecoderState &dec, int result);

void dec_start_frame(H264DecoderState &dec);
void dec_start_top_field(H264DecoderState &dec);
void dec_start_bottom_field(H264DecoderState &dec);

// The stores and per-run arrays, for a frame of the current picture's size.
void dec_init_global_buffers(H264DecoderState &dec);
void dec_release_global_buffers(H264DecoderState &dec);

void dec_finish_picture(H264DecoderState &dec);
void dec_split_frame_fields(H264DecoderState &dec);
void dec_merge_fields(H264DecoderState &dec);

// Type index of the picture in img (I, P, SP, SI, reference B "BS", non-reference B).
int h264dec_type_index(const DecoderImage &img);
// The per-picture text of the picture just decoded, with the run's counters as they stand.
std::string h264dec_picture_text(const H264DecoderState &dec);
