// Loss bookkeeping: per-element loss flags and the per-picture records (picture segments, per-block
// conditions, per-8x8 objects) that a concealment stage would read. This decoder has no such stage:
// the records are kept up to date and nothing reads them.
#pragma once

#include <memory>
#include <vector>

struct H264DecoderState;

struct ErcSegment
{
    int startMBPos = 0;
    int endMBPos = 0;
    int fCorrupted = 0;
};

struct ErcVariables
{
    int nOfMBs = 0;
    int nOfSegments = 0;
    std::vector<ErcSegment> segments;
    int currSegment = 0;
    std::vector<int> yCondition;          // four per macroblock, one per 8x8 block
    std::vector<int> prevFrameYCondition; // swapped with yCondition at each reset
    std::vector<int> uCondition;
    std::vector<int> vCondition;
    int nOfCorruptedSegments = 0;
    int concealment = 1;
};

// One per 8x8 luma block: the mode and average vector picture control records.
struct ErcObject
{
    int regionMode = 0;
    int xMin = 0, yMin = 0;
    int mv[3] = {};
};

void ercInit(H264DecoderState &dec, int pic_sizex, int pic_sizey, int flag);
std::unique_ptr<ErcVariables> ercOpen();
void ercReset(ErcVariables *errorVar, int nOfMBs, int numOfSegments, int picSizeX);
void h264dec_erc_close(H264DecoderState &dec);
void h264dec_erc_set_concealment(ErcVariables *errorVar, int value);

// Records the current macroblock's four 8x8 objects once it is decoded: its mode (an 8x8 macroblock
// gives each quadrant its sub mode), the block's first sample, and the block's forward motion: the
// average of its four 4x4 vectors and the reference index of its first 4x4 block (-1 for intra). Objects
// lie over the picture being decoded, in its own rows (a field covers the first half of the list).
void h264dec_erc_write_macroblock(H264DecoderState &dec);

void h264dec_set_lost_flag(H264DecoderState &dec, int kind);
void h264dec_reset_lost_flags(H264DecoderState &dec);
