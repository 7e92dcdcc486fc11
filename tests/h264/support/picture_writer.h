// Test-side writer of whole slices from a list of simple macroblocks, in CAVLC and in CABAC. The
// macroblocks keep to what picture tests need: intra 16x16 and intra 4x4 with DC levels only, P skip
// and P 16x16, B skip, direct and 16x16 in either or both directions, all inter macroblocks without
// residual. The CABAC side chooses every context by the reading rules of the draft's binarisations
// (neighbour flags, vector-difference sums, coded-block flags), independently of the decoder's code.
#pragma once

#include "h264/support/mb_writer.h"

#include <vector>

namespace h264test {

enum class MbKind { I16, I4, PSkip, P16x16, BSkip, BDirect, B16x16 };

struct MbSpec
{
    MbKind kind = MbKind::I16;
    int i16_mode = 2;      // 0 vertical, 1 horizontal, 2 DC, 3 plane
    int chroma_mode = 2;   // 0 vertical, 1 horizontal, 2 DC, 3 plane (the decoder's numbering)
    int luma_dc = 0;       // I16: the level at the first scan position of the luma DC block
    int block_dc[16] = {}; // I4: the DC level of each 4x4 block, raster order; every block takes its
                           // predicted mode
    int chroma_dc[2] = {}; // intra: the first chroma DC level of U and V (0 for none)
    int dir = 0;           // B16x16: 0 forward, 1 backward, 2 both
    int ref[2] = {};       // reference index as coded (written when a list has more than one)
    int mvd[2][2] = {};    // [list][horizontal, vertical]
    int field = 0;         // MBAFF: the pair's field flag, the same in both members

    static MbSpec I16(int level, int mode = 2)
    {
        MbSpec m;
        m.luma_dc = level;
        m.i16_mode = mode;
        return m;
    }
    static MbSpec Skip(bool b)
    {
        MbSpec m;
        m.kind = b ? MbKind::BSkip : MbKind::PSkip;
        return m;
    }
    static MbSpec P(int dx, int dy, int ref = 0)
    {
        MbSpec m;
        m.kind = MbKind::P16x16;
        m.mvd[0][0] = dx;
        m.mvd[0][1] = dy;
        m.ref[0] = ref;
        return m;
    }
    static MbSpec B(int dir, int fx, int fy, int bx, int by)
    {
        MbSpec m;
        m.kind = MbKind::B16x16;
        m.dir = dir;
        m.mvd[0][0] = fx;
        m.mvd[0][1] = fy;
        m.mvd[1][0] = bx;
        m.mvd[1][1] = by;
        return m;
    }
};

// What the slice data depends on besides its macroblocks.
struct SliceShape
{
    int width_mbs = 1;
    int slice_type = 7; // as in the header: % 5 gives P 0, B 1, I 2
    int first_mb = 0;   // address of the first macroblock (pairs count double in MBAFF)
    int num_ref_fwd = 0, num_ref_bwd = 0;
    bool field_picture = false;
    bool mbaff = false;
    int qp = 28;
    bool last_mb_of_picture = true; // the slice ends the picture (no end-of-slice bin after it)
};

// The slice data of the macroblocks in decoding order (the header is the caller's).
void WriteCavlcMacroblocks(BitWriter &w, const SliceShape &shape, const std::vector<MbSpec> &mbs);
void WriteCabacMacroblocks(CabacSliceData &d, const SliceShape &shape, const std::vector<MbSpec> &mbs);

// A picture of one or more slices, written in either entropy mode through a StreamBuilder.
struct SliceOfPicture
{
    SliceHeaderFields header;
    std::vector<MbSpec> mbs;
    bool idr = false;
    int nal_ref_idc = 1;
};
void WriteSlice(StreamBuilder &b, const SliceOfPicture &s, int picture_mbs);

} // namespace h264test
