// Expected code words as strings of '0' and '1', and the slice data of a coded picture as such a string,
// for tests that spell out what a macroblock must write.
#pragma once

#include "h264enc/support/slice_fixture.h"

#include <string>

namespace enctest {

std::string Ue(int v);
std::string Se(int v);
// ue(v) of a coded block pattern's code number (intra 4x4 or inter column).
std::string CbpCode(int cbp, bool intra);
// The n-bit code `code`, most significant first.
std::string Bits(int code, int n);

// A partition's payload with the emulation-prevention bytes taken out.
std::vector<uint8_t> Unescaped(const h264enc::Bitstream &bs);

// Codes one picture of the records (one slice) and returns the slice data after the header, without
// the trailing bits, from the picture's first slice. The header's length comes from the first
// macroblock's record.
std::string SliceBody(h264enc::EncoderRun &run, RecordCoder &coder, const PictureSetup &p,
                      std::vector<uint8_t> *stream = nullptr);

} // namespace enctest
