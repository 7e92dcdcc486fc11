// JPEG coding of a float luminance image on the JPEG library: the encoder (to the stream file, or
// only a byte count), the search for the quality that meets a target bit rate, and the decoder with
// optional cross-block smoothing and simulated channel bit errors. Qt-free.
//
// The image is the one plane of a ZnImage (rows x cols floats, top row first, values 0..255). The
// stream lives in one file, JpegCodedImageBitStream.jpg in the user's folder.
#pragma once

#include <string>

class ZnImage;

inline constexpr const char *kJpegStreamName = "JpegCodedImageBitStream.jpg";
// The stream file in the user's folder.
std::string JpegStreamPath(const std::string &userDir);

// Restart units: the restart value counts MCU rows with kJpegRestartRows, single MCUs otherwise (for
// a grey image one MCU is one 8x8 block).
constexpr int kJpegRestartMcus = 0;
constexpr int kJpegRestartRows = 1;

// Codes image at quality (1..100) with base table `table` (0..4) and Huffman mode (0 FLC, 1
// standard, 2 optimised); restartValue 0 writes no restart markers. Returns bits per pixel of the
// whole stream, SOI to EOI. countOnly counts the bytes and writes nothing; otherwise streamPath is
// written, and a file that cannot be written ends the run with zn::RunAborted.
float JpegEncoder(const ZnImage &image, int quality, int table, int huffman, int restartValue,
                  int restartUnit, bool countOnly, const std::string &streamPath);

// The quality whose stream comes closest to target bits per pixel, found by bisection between
// quality 1 (taken as 0 bpp) and 100 (taken as 8 bpp); it stops within 0.005 bpp of the target.
int JpegFindQuality(float target, const ZnImage &image, int table, int huffman, int restartValue,
                    int restartUnit);

// What a decode did, for tests and the fuzz target.
struct JpegDecodeStats
{
    bool found = false;   // the stream file could be opened
    bool stopped = false; // a fatal error (or a limit) stopped the decode
    long bytesRead = 0;   // stream bytes read from the file (errors apply to these)
    int rowsStored = 0;   // picture rows written into the image
};

// Decodes streamPath into image, which must already have the original's size. Rows the decode does
// not reach are 0. smoothing predicts the lowest AC coefficients from the neighbouring blocks' DC
// values; errorProb > 0 flips each bit read from the file with that probability (the generator is
// seeded from the clock first). Returns the number of flipped bits. A missing file and a damaged
// stream are reported to the user; neither ends the run.
int JpegDecoder(ZnImage *image, bool smoothing, float errorProb, const std::string &streamPath,
                JpegDecodeStats *stats = nullptr);

inline constexpr const char *kJpegNoStreamMessage =
    "JpegDecoder - No compressed JPEG file (JpegCodedImageBitStream.jpg) found";
inline constexpr const char *kJpegCorruptMessage =
    "Header or other essential JPEG information\n   corrupted. Could not decode JPEG file";
