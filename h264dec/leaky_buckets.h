// The stream's leaky-bucket parameters against the decoder's buffer model: the encoder leaves the
// minimum buffer size and initial fullness of each bucket rate in a file; at the decoder's own rate
// they are interpolated between the two neighbouring buckets and compared with its buffer.
#pragma once

#include <cstdint>
#include <cstdio>

struct DecoderParams;

enum class HrdVerdict { TooSmall, Compliant, NonCompliant };

struct LeakyBucketResult
{
    HrdVerdict verdict = HrdVerdict::TooSmall;
    float B = 0, F = 0; // buffer size and initial fullness needed at the decoder's rate
};

// Four bytes, the first most significant; false at the end of the file.
bool read_be32(std::FILE *f, uint32_t &value);

// Reads the file named by the parameters and writes the buckets and the verdict to the log. The
// verdict never changes decoding, but the file must be there and whole: a missing file ends the run
// with "Error open file", an incomplete one with a message that says so (both code 1).
LeakyBucketResult check_leaky_buckets(const DecoderParams &input);
