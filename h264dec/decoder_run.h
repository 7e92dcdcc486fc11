// The two entries of a decoding run: the whole stream for the decoder dialog's Apply, and the first
// picture for opening a stream as a document. Each run makes its own decoder object with the fixed
// parameters, checks the stream's leaky-bucket parameters (the file must be there; its verdict is
// advisory), and frees everything at its end.
// A run error (zn::RunAborted, its message shown) leaves the entry with the pictures shown so far.
#pragma once

#include "h264dec/decoder_output.h"
#include "h264dec/leaky_buckets.h"

#include <cstdint>
#include <string>
#include <vector>

struct DecoderImage;
struct DecoderParams;
struct PictureCounters;
class H264DecoderHost;

// Quality against a reference sequence: Y, U, V of the current picture, of the first picture, and
// their running averages, in dB.
struct DecoderSnr
{
    float snr_y = 0, snr_u = 0, snr_v = 0;
    float snr_y1 = 0, snr_u1 = 0, snr_v1 = 0;
    float snr_ya = 0, snr_ua = 0, snr_va = 0;
    int frames = 0; // pictures compared so far
};

// Fills the parameters (paths, the fixed values), writes the banner to the log and checks the leaky
// buckets. outfile empty: no output file.
LeakyBucketResult h264dec_init_params(DecoderParams &input, const std::string &infile,
                                      const std::string &outfile, const std::string &leakyBucketFile);

// Decodes the whole stream. The per-picture text, the views, the document and the save file go to the
// host (none: only the output file is written); outfile, when not empty, receives every picture in
// output order. Between pictures a key press asks whether to go on, and frame by frame asks before
// every picture.
void H264Decoder(const std::string &infile, const std::string &outfile, const std::string &leakyBucketFile,
                 bool frameByFrame, bool mbBitsShown, H264DecoderHost *host);

// Decodes the first picture (the whole frame of a field pair): its luma size and its three planes
// (luma height x width, chroma halves). False when the stream holds no picture.
bool H264DecodeFirstFrame(const std::string &infile, const std::string &leakyBucketFile, int &height,
                          int &width, std::vector<uint8_t> planes[3]);

// "Number of Frames Decoded\t: %d" and the counts by type.
std::string h264dec_summary(const PictureCounters &counters);

// Compares a picture with frame `frame` (0 first) of a raw 4:2:0 reference file of its size and updates
// the record; false when the reference has no such frame. An error-free component counts as 60 dB.
bool snr(DecoderSnr &record, const DecoderImage &img, const H264PictureRef &picture,
         const std::string &referenceFile, int frame);
