// The quarter-sample plane of a reference picture: every whole, half and quarter sample position of the
// deblocked luma, with a margin of four whole samples around the picture, computed once when the
// picture becomes a reference so that motion search and prediction read any position with one lookup.
// Half samples use the six-tap filter (1, -5, 20, 20, -5, 1), the centre one filtered in both directions
// before any rounding; quarter samples average two neighbours, truncating, as the decoder's fetch does.
#pragma once

#include "h264enc/enc_memory.h"

#include <cstdint>

namespace h264enc {

// Fills plane ((4 x height + 32) rows of (4 x width + 32)) from luma (height x width). work is the
// intermediate array ((height + 8) rows, at least 2 x width + 16 columns; resized as needed).
void interpolate_quarter_plane(const Array2D<uint8_t> &luma, Array2D<int> &work, Array2D<uint8_t> &plane);
// The plain version, every step over the whole plane with clamped coordinates: the reference.
void interpolate_quarter_plane_reference(const Array2D<uint8_t> &luma, Array2D<int> &work,
                                         Array2D<uint8_t> &plane);

} // namespace h264enc
