// Code tables of the MPEG-1/2 video syntax that the encoder writes.
#pragma once

#include "mpeg/mpgenc/mpgenc_types.h"

#include <cstdint>

// Zig-zag scan: kZigZag[i] is the natural (row-major) position of the i-th coefficient sent.
extern const uint8_t kZigZag[64];
// macroblock_address_increment 1..33 (index 0 unused).
extern const VlcCode kAddrIncTab[34];
// motion_code magnitudes 0..16, without the sign bit.
extern const VlcCode kMotionCodeTab[17];
// coded_block_pattern 0..63.
extern const VlcCode kCbpTab[64];
// dct_dc_size of luminance and chrominance, sizes 0..11.
extern const VlcCode kDcLumTab[12];
extern const VlcCode kDcChromTab[12];
// Run/level codes without the sign bit; len 0 where the pair has no code (escape).
// Runs 0 and 1 have levels up to 40 and 18; runs 2..31 up to 5 in the table.
const VlcCode *DctCodeTable0(int run, int level); // null when escaped
const VlcCode *DctCodeTable1(int run, int level); // intra_vlc_format 1; null when escaped
