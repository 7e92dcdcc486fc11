// The stream level of the decoder: opening and closing the input, reading units until the next slice
// (parameter sets and SEI are read on the way, other units skipped with a note in the log), and the
// steps that turn a slice unit into a slice header with active parameter sets.
#pragma once

#include <cstdint>
#include <vector>

struct H264DecoderState;
struct NALU;

// Opens input.infile; a file that cannot be opened ends the run (code 500).
void h264dec_open_annexb(H264DecoderState &dec);
void h264dec_open_rtp(H264DecoderState &dec);
// A stream held in memory.
void h264dec_open_memory(H264DecoderState &dec, std::vector<uint8_t> bytes);
void h264dec_close_input(H264DecoderState &dec);

// Reads units until one of type 1 or 5; returns 1 with it in nalu (payload without emulation
// prevention), 0 at the end of the stream.
int h264dec_next_slice_unit(H264DecoderState &dec, NALU *nalu);
// The slice unit's flags into img, its payload into the first partition, the header's first part,
// the activation of the sets it names and the rest of the header.
void h264dec_read_slice_unit(H264DecoderState &dec, const NALU &nalu);
