// Constant tables of the decoder's records: block steps by macroblock mode and the partition of each
// syntax-element kind.
#include "h264dec/decoder_records.h"

const int kBlockStep[8][2] = {{0, 0}, {4, 4}, {4, 2}, {2, 4}, {2, 2}, {2, 1}, {1, 2}, {1, 1}};

// clang-format off
const int assignSE2partition[2][SE_MAX_ELEMENTS] = {
    // One partition: everything in partition 0.
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    // Three partitions: headers, modes and motion in 0, intra residual in 1, inter residual in 2.
    {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 1, 0, 0},
};
// clang-format on
