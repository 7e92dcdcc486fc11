// Leaky-bucket parameters of a finished run: for each of N channel rates, the smallest decoder buffer
// and initial buffer fullness with which the stream just made plays without running dry. The decoder
// checks its own buffer against them, from the big-endian file "H264LeakyBucketParam.cfg".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace h264enc {

struct EncoderRun;

struct LeakyBuckets
{
    std::vector<uint32_t> Rmin; // rate, bits per second (ascending)
    std::vector<uint32_t> Bmin; // minimum buffer size, bits
    std::vector<uint32_t> Fmin; // minimum initial fullness, bits
};

// N rates from the text file (decimal integers separated by white space, any order). False, with the
// message to the log, when the file is missing or fewer than N valid values begin it (a value that is
// negative or beyond 32 bits is not valid).
bool read_leaky_rates(const std::string &path, int n, std::vector<uint32_t> &rates);
// Ascending, compared as unsigned.
void sort_leaky_rates(std::vector<uint32_t> &rates);
// The buckets of a run's picture sizes; `rates` (N values) or, when null, rates from the mean picture
// size: the mean rate, then steps of a quarter of it.
LeakyBuckets ComputeLeakyBuckets(const std::vector<int> &picture_bits, int n, int framerate, int frame_skip,
                                 const std::vector<uint32_t> *rates);
// The parameter file's bytes: N, then Rmin, Bmin, Fmin per bucket, each 32 bits most significant first.
std::vector<uint8_t> LeakyParamBytes(const LeakyBuckets &b);
// Writes the file; a file that cannot be created or written ends the run ("Error open file %s", code 1).
void write_leaky_params(const std::string &path, const LeakyBuckets &b);
// After the last picture: rates from LeakyBucketRateFile or computed, buckets, parameter file.
void init_buffer(EncoderRun &run);

} // namespace h264enc
