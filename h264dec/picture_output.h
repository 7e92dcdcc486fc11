// Handing pictures out: the latest reference picture waits in the stored picture until the next
// reference picture starts (or the run ends); a non-reference B picture goes out at once.
#pragma once

#include "h264dec/decoder_state.h"

#include <cstdint>
#include <vector>

// A reference picture just decoded: the views see it, and it becomes the stored picture.
void h264dec_show_picture(H264DecoderState &dec, bool views, int type_index);
// A non-reference B picture just decoded: the views see it and it is output now.
void h264dec_output_picture(H264DecoderState &dec, int type_index);
// The stored picture goes out (when there is one).
void h264dec_output_stored_picture(H264DecoderState &dec, int type_index);

// Copies a picture (Y, then U and V at half size) into three new planes; false for an empty one.
bool h264dec_copy_picture(const H264PictureRef &picture, std::vector<uint8_t> planes[3]);
// The same for the stored picture, with its size; false while none is stored.
bool h264dec_copy_stored_picture(const H264DecoderState &dec, std::vector<uint8_t> planes[3], int &width,
                                 int &height);

// The frame planes of the picture just decoded, and the stored picture, as the sink sees them.
H264PictureRef h264dec_current_picture_ref(const H264DecoderState &dec, int type_index);
H264PictureRef h264dec_stored_picture_ref(const H264DecoderState &dec, int type_index);
