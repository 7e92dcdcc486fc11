// The stream's leaky-bucket parameters against the decoder's buffer model: the encoder leaves the
// minimum buffer size and initial fullness of each bucket rate in a file; at the decoder's own rate
// they are interpolated between the two neighbouring buckets and compared with its buffer.
#pragma once

#include <cstdint>
#include <cstdio>

struct DecoderParams;

enum class HrdVerdict { Skipped, TooSmall, Compliant, NonCompliant };

struct LeakyBucketResult
{
    HrdVerdict verdict = HrdVerdict::Skipped;
    float B = 0, F = 0; // buffer size and initial fullness needed at the decoder's rate
};

// Four bytes, the first most significant; false at the end of the file.
bool read_be32(std::FILE *f, uint32_t &value);

// Reads the file named by the parameters and writes the buckets and the verdict to the log. A file
// that is missing, or shorter than its count says, is skipped: the check is advisory and never stops
// decoding.
LeakyBucketResult check_leaky_buckets(const DecoderParams &input);
