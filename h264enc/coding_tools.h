// The working state of the coding tools during a run: the source and reconstructed planes of the
// picture being coded, the macroblock's prediction and residual work blocks, the motion search tables
// and the per-macroblock search results, and the decision state of the mode decision. Everything here
// is rewritten macroblock by macroblock or picture by picture; the run object owns it.
#pragma once

#include "h264enc/enc_memory.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace h264enc {

// One picture's planes: luma and the two chroma planes (U, V), [row][column].
struct PictureBuffers
{
    Array2D<uint8_t> y;
    Array3D<uint8_t> uv;
    void allocate(int width, int height, const char *what)
    {
        y.allocate(height, width, what);
        uv.allocate(2, height / 2, width / 2, what);
    }
    int Width() const { return y.cols(); }
    int Height() const { return y.rows(); }
};

// Work blocks of the current macroblock, indexed [x][y] like the transform kernels.
struct MacroblockWork
{
    int pred[16][16] = {};  // luma prediction of the macroblock
    int resid[16][16] = {}; // residual in, reconstruction out (one 4x4 block, or an 8x8 chroma block)
    int cpred[8][8] = {};   // chroma prediction of the component being coded
    int intra4[9][4][4] = {};
    int intra4_ok[9] = {};
    int luma16_intra_preds[4][16][16] = {};
    int chroma_intra_preds[2][4][8][8] = {};
    int direct_no_residue = 0;
};

// The sub-sample refinement of every block shape tries vectors around the same few, so one 4x4 block
// meets the same vector again and again within a macroblock: its SATD at each vector is kept, per
// reference list and 4x4 block of the macroblock, until the next macroblock (a new stamp).
struct SatdCache
{
    // Direct-mapped by the vector's low bits: the vectors of one refinement (within 3 quarter samples of
    // one another) never share an entry; vectors 2 samples apart replace each other. An entry's tag is
    // the macroblock's stamp and the vector.
    struct Entry
    {
        uint64_t tag = 0;
        int value = 0;
    };
    static constexpr int kSlots = 64;
    std::vector<Entry> entries; // [list][block][slot]
    uint32_t stamp = 1;

    // The tag of a vector in the current macroblock; 0 (never a current tag) for one beyond 16 bits.
    uint64_t Tag(int cx, int cy) const
    {
        if (cx < -32768 || cx > 32767 || cy < -32768 || cy > 32767)
            return 0;
        return (static_cast<uint64_t>(stamp) << 32) | (static_cast<uint32_t>(cx & 0xffff) << 16) |
               static_cast<uint32_t>(cy & 0xffff);
    }
    // The entries of 4x4 block 0 of list `list` for the slot of vector (cx, cy); block b's is b x kSlots on.
    Entry *Slot(int list, int cx, int cy)
    {
        return entries.data() + static_cast<size_t>(list) * 16 * kSlots +
               static_cast<size_t>((cx & 7) | ((cy & 7) << 3));
    }
    void NextMacroblock()
    {
        if (++stamp == 0) {
            for (Entry &e : entries)
                e.tag = 0;
            stamp = 1;
        }
    }
};

// The motion search tables of a run and the fast integer search's SAD tables.
struct MotionSearchTables
{
    int search_range = 0;
    int positions = 0; // (2 x SearchRange + 1)^2
    std::vector<int> spiral_x, spiral_y;
    int max_mvd = 0;
    std::vector<int> mvbits_table; // indexed by d + max_mvd
    std::vector<int> refbits;
    int lists = 0; // ref_frame_count + 1: the forward references, then the backward one last
    // BlockSAD of list L: per meaningful block (type t, 4x4 block b starting it: sad_slot(t, b)) a table
    // of 16-bit SADs over the window in raster order, row dy, column dx (the window's top-left position
    // first; the centre at (max_search_range[L], max_search_range[L])), rows sad_stride apart.
    std::vector<std::vector<uint16_t>> block_sad;
    int sad_stride = 0;
    size_t sad_plane = 0; // entries per table
    std::vector<int> setup_done, center_x, center_y, pos_00, max_search_range;
    // The spiral index of every offset (x, y) of the window of search_range, at
    // (y + search_range) x (2 x search_range + 1) + x + search_range: equal costs go to the lower one.
    std::vector<int> spiral_rank;
    SatdCache satd_cache;

    int mvbits(int d) const
    {
        if (d < -max_mvd || d > max_mvd)
            return LongMvBits(d);
        return mvbits_table[static_cast<size_t>(d + max_mvd)];
    }
    int Refbits(int v) const
    {
        return v >= 0 && v < static_cast<int>(refbits.size()) ? refbits[static_cast<size_t>(v)] : 99;
    }
    // Tables of type 7 (4x4) come first, block 0 to 15, so that one pass fills them at a fixed spacing.
    static int sad_slot(int type, int block);
    static constexpr int kSadSlots = 41;
    uint16_t *Sad(int list, int type, int block)
    {
        return block_sad[static_cast<size_t>(list)].data() +
               static_cast<size_t>(sad_slot(type, block)) * sad_plane;
    }
    const uint16_t *Sad(int list, int type, int block) const
    {
        return block_sad[static_cast<size_t>(list)].data() +
               static_cast<size_t>(sad_slot(type, block)) * sad_plane;
    }
    // The SAD at spiral position p of the window (BlockSAD[L][t][b][p]).
    int SadAt(int list, int type, int block, int p) const
    {
        const int r = max_search_range[static_cast<size_t>(list)];
        return Sad(list, type, block)[(spiral_y[static_cast<size_t>(p)] + r) * sad_stride +
                                      spiral_x[static_cast<size_t>(p)] + r];
    }
    // A difference beyond the table (a vector far outside the window): the Exp-Golomb length itself.
    static int LongMvBits(int d);
};

// Vectors of one macroblock, per 4x4 block [y][x], quarter samples.
using BlockVectors = std::array<std::array<std::array<int, 2>, 4>, 4>;

// The motion search results of the current macroblock: the searched and the predicted vectors per
// reference and block type (type 0 holds the P-skip and the direct vectors), the partition costs and
// the direct references.
struct MacroblockMotion
{
    int refs = 0;                                      // forward reference slots
    std::vector<BlockVectors> search_mv, predicted_mv; // [ref x 8 + type]
    BlockVectors search_mv_bw[8] = {}, predicted_mv_bw[8] = {};
    std::vector<int> partition_costs; // [type][ref + 1][block], ref -1 the backward reference
    // Direct mode of the macroblock per 4x4 block [y][x]: the references the prediction uses (-1: the
    // direction is not used), the references the maps record, and the vectors.
    int direct_fw_ref[4][4] = {}, direct_bw_ref[4][4] = {};
    int direct_map_fw_ref[4][4] = {}, direct_map_bw_ref[4][4] = {};
    // Field B pictures: the reference list entry a temporal direct block predicts forward from where it
    // is not the forward index's own entry (-1: it is).
    int direct_fw_entry[4][4] = {};
    BlockVectors direct_fw = {}, direct_bw = {};
    // A decoder reads the direct quarters of an 8x8 split with another rule for still backward blocks
    // than the one it predicts them with when two backward references are active; set when that
    // matters for this macroblock, so that its split keeps away from direct quarters.
    bool direct_quarters_differ = false;
    int fixed_lambda = 0;
    double lambda = 0;

    BlockVectors &Mv(int ref, int type) { return search_mv[static_cast<size_t>(ref * 8 + type)]; }
    BlockVectors &Pred(int ref, int type) { return predicted_mv[static_cast<size_t>(ref * 8 + type)]; }
    int &Cost(int type, int ref, int block)
    {
        return partition_costs[(static_cast<size_t>(type) * static_cast<size_t>(refs + 1) +
                                static_cast<size_t>(ref + 1)) *
                                   4 +
                               static_cast<size_t>(block)];
    }
};

// What the mode decision keeps between its steps for one macroblock.
struct ModeDecisionState
{
    int best_mode = 0;
    // Per mode 1, 2, 3 and 8 (index 0..3) and quarter: sub-mode, direction, forward and backward reference.
    int sub_mode[4][4] = {}, dir[4][4] = {}, fw_ref[4][4] = {}, bw_ref[4][4] = {};
    // The kept 8x8-split coding.
    int cbp8x8 = 0, cbp_blk8x8 = 0, cost8x8_coef = 0;
    int ac8x8[4][4][2][65] = {}; // per quarter and block: levels and runs
    int rec8x8[16][16] = {};     // [x][y]
    int pred8x8[16][16] = {};
    int ipred8x8[16] = {}, intra_codes8x8[16] = {};
    int direct_cost_sum = 0, direct_count = 0;
    int i16_mode = 0;
};

// The refresh order of forced intra macroblocks.
struct IntraRefresh
{
    int mb_count = 0;
    int per_picture = 0;
    std::vector<int> order, current;
};

} // namespace h264enc
