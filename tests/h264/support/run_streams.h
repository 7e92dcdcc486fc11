// Streams for the decoding run, its views and its dialog: an I picture followed by groups of a P
// picture and two non-reference B pictures (decoding order I0 P3 B1 B2 P6 B4 B5 ...), with textured
// intra content, motion in every inter picture and an intra macroblock in each P picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace h264test {

// groups: how many P-B-B groups follow the I picture.
std::vector<uint8_t> IbbpStream(bool cabac, int width_mbs = 3, int height_mbs = 2, int groups = 1);
// One intra picture.
std::vector<uint8_t> IntraStream(bool cabac, int width_mbs = 3, int height_mbs = 2);

// Writes bytes to a file; false when it cannot be written.
bool WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes);

// The leaky-bucket file a decoding run needs, as the encoder leaves it in the user's folder (two
// buckets around the decoder's rate); dir ends with '/'. Returns its path, empty when it cannot be
// written.
std::string WriteLeakyBucketFile(const std::string &dir);

} // namespace h264test
