// Test-side whole codec: every object of an encoder run and of a decoder run, created and set up in
// the module's order, with the row loops between a memory image and the pipeline. Tests, the
// benchmark and the fuzz target run the codec without a document through these two calls.
#pragma once

#include "jpeg2000/memory_image.h"

#include <memory>
#include <string>
#include <vector>

namespace zn::j2k {
class stream_out;
class stream_in;
} // namespace zn::j2k

namespace j2ktest {

struct CodecSettings
{
    int levels = 5;
    bool reversible = false;
    int guard_bits = 2;
    double base_step = 1.0 / 128;
    int tile_height = 0, tile_width = 0; // 0: one tile
    int top = 0, left = 0;               // image offset on the reference grid
};

// The options the settings stand for ("-Flev", "-Frev", "-Fguard_bits", "-Ftiles", "-Fref").
std::vector<std::string> SettingWords(const CodecSettings &s);

// Encodes `image` with the block coder's options in `args`; returns the code-stream file's bytes.
// `budget` in bytes (0: lossless, as the module asks for it).
std::vector<uint8_t> EncodeImage(const zn::j2k::memory_image &image, const CodecSettings &s,
                                 const std::vector<std::string> &args, int64_t budget,
                                 const std::string &path);

struct DecodeOptions
{
    int discard_levels = 0;
    int64_t truncation = 0; // bytes; 0: none
    std::vector<std::string> args;
    int64_t max_pixels = 0; // per component; 0: no limit (fuzzing sets limits)
    int max_components = 0;
};
// Decodes a code-stream file of our layout. `bytes_used` receives what the block decoder reports.
zn::j2k::memory_image DecodeImage(const std::string &path, const DecodeOptions &o = {},
                                  int32_t *bytes_used = nullptr);
// The same from bytes in memory.
zn::j2k::memory_image DecodeBytes(const std::vector<uint8_t> &bytes, const DecodeOptions &o = {},
                                  int32_t *bytes_used = nullptr);

// Peak signal-to-noise ratio of two 8-bit images, over all components.
double Psnr(const zn::j2k::memory_image &a, const zn::j2k::memory_image &b);
// Largest absolute sample difference.
int MaxDifference(const zn::j2k::memory_image &a, const zn::j2k::memory_image &b);

} // namespace j2ktest
