// Multi-picture streams for picture tests: each picture is one or more slices of simple macroblocks
// (see picture_writer.h), with the header fields the picture tests vary, written in CAVLC or CABAC
// from the same plan so that both give the same pictures.
#pragma once

#include "h264/support/picture_writer.h"

#include <functional>
#include <vector>

namespace h264test {

struct PicturePlan
{
    int slice_type = 7; // 7 I, 5 P, 6 B, 8 SP
    int frame_num = 0;
    int poc_lsb = 0;
    bool idr = false;
    int nal_ref_idc = 1;
    int structure = 0; // 0 frame, 1 top field, 2 bottom field
    int qp = 28;
    std::vector<MbSpec> mbs;
    std::vector<int> slice_starts = {0}; // first macroblock of each slice (pairs in MBAFF)
    // Changes to each slice's header after the defaults (deblocking off, one reference per list).
    std::function<void(SliceHeaderFields &)> header;
};

// A picture of one slice; the first frame (an I picture with frame_num and order count 0) is IDR.
PicturePlan MakePicture(int slice_type, int frame_num, int poc_lsb, std::vector<MbSpec> mbs,
                        int structure = 0, int nal_ref_idc = 1);

// n 4x4-intra macroblocks with random block and chroma DC levels: a textured picture to predict from.
std::vector<MbSpec> TexturedIntra(int n, unsigned seed);

struct StreamPlan
{
    int width_mbs = 2, height_mbs = 2;
    bool frames_only = true;
    bool mbaff = false;
    int num_ref_frames = 1;
    std::function<void(SPS &, PPS &)> sets;
    std::vector<PicturePlan> pictures;

    std::vector<uint8_t> Write(bool cabac) const;
};

} // namespace h264test
