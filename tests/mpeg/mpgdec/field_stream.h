// A test-side writer of field-coded MPEG-2 streams, since ffmpeg writes none: intra field pictures
// whose blocks carry only their DC value, so any picture of flat 8x8 blocks can be coded exactly.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace zntest {

// An interlaced 4:2:0 stream of width x height (multiples of 16 and 32) with `frames` frames, each
// coded as two I field pictures (top first). level(frame, field, component, x, y) gives the level of
// the block whose top-left sample is (x, y) in that field's plane (field 0 top; component 0 luma, 1 Cb,
// 2 Cr).
std::vector<uint8_t>
FieldCodedStream(int width, int height, int frames,
                 const std::function<int(int frame, int field, int c, int x, int y)> &level);

} // namespace zntest
