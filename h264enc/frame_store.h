// Reference frame stores: the reconstructed pictures that motion search and prediction refer to, each
// held as a quarter-sample luma plane with a margin, two chroma planes and an integer-sample luma
// copy, kept newest first. Also the pixel readers of those planes, including the clamped ones that let
// a motion vector point outside the picture.
#pragma once

#include "h264enc/enc_memory.h"
#include "h264enc/enc_state.h"

#include <memory>
#include <vector>

namespace h264enc {

struct EncoderParams;

// Quarter-sample planes carry a margin of 16 quarter samples (4 whole samples) on every side.
constexpr int kQuarterMargin = 16;

struct RefFrame
{
    int used = 0;
    int pic_num = -1;
    int long_term_pic_num = -1;
    Array2D<uint8_t> mref;   // (4 x height + 32) rows of (4 x width + 32)
    Array2D<uint8_t> mref_w; // weighted twin, with weighted prediction only
    Array3D<uint8_t> mcef;   // U and V
    std::vector<uint8_t> Refbuf11, Refbuf11_w;
    int is_long_term = 0;
    int pic_id = -1;
};

struct ReferenceStore
{
    std::vector<std::unique_ptr<RefFrame>> picbuf_short;
    std::vector<std::unique_ptr<RefFrame>> picbuf_long; // never filled: no long-term pictures are made
    int short_slots = 0;
    int long_slots = 0;
    int short_count = 0;
    int long_count = 0;
};

// The frame store, the field store (interlaced coding) and the reference arrays of the coding tools:
// entry i of a set is the i-th picture of its store's order, null past the used ones. An entry reaches
// all of its picture's planes (mref, mcef, Refbuf11 and their weighted twins), so one set per store,
// mref_frm or mref_fld, serves as every plane array of that store.
struct FrameStores
{
    ReferenceStore frm, fld;
    std::vector<RefFrame *> mref_frm, mref_fld;
    std::vector<Array2D<uint8_t>> mref_mbfld, mref_mbfld_w; // macroblock-adaptive field planes
    ReferenceStore *fb = &frm;                              // the store being filled
    std::vector<RefFrame *> *current = &mref_frm;           // the set the coding tools read
    bool field_refs_selected = false;
    bool weighted = false;
    int width = 0, height = 0; // frame luma size
};

// Builds the frame store of max_ref + 1 slots (and the field store of twice that with interlaced
// coding, and the macroblock-adaptive planes with InterlaceCodingOption 3).
void init_frame_buffers(FrameStores &fs, const EncoderParams &input, const EncoderImage &img);
void release_frame_buffers(FrameStores &fs);
// The reference sets, one entry per slot of their store, all null. One set serves the planes and the
// integer-sample buffers alike, so making the Refbuf11 arrays makes the sets.
void alloc_mref(FrameStores &fs);
void alloc_Refbuf(FrameStores &fs);

// Stores the picture just coded as the newest reference of fs.fb; the caller then writes its planes
// into slot 0. A full frame store drops its oldest picture ("remove last..." to the log).
void add_short_term_frame(FrameStores &fs, int pic_num, int frame_counter);
void remove_short_term_frame(FrameStores &fs, int pic_num);
void keep_newest_reference(FrameStores &fs);
// Fill the current set from fs.fb. One set holds the RefFrame of each entry, so the plane arrays and
// the integer-sample arrays are filled together.
void set_mref_arrays(FrameStores &fs);
void set_refbuf_arrays(FrameStores &fs);
// Applies the slice's reordering commands, then fills the current set. A command naming a picture that
// is not stored ends the run ("tried to remap non-existent picture", code 400).
void remap_reference_frames(FrameStores &fs, int pic_num, const std::vector<ReorderCommand> &commands);
void set_mbaff_field_refs(FrameStores &fs);
void select_frame_refs(FrameStores &fs, EncoderImage &img, int source_height);
void select_field_refs(FrameStores &fs);

// ---------------------------------------------------------------------------------------------
// Pixel access; (x, y) are quarter-sample positions: 4 x the whole-sample position plus the phase.

inline void put_pel_quarter(Array2D<uint8_t> &plane, int y, int x, uint8_t v)
{
    plane[y + kQuarterMargin][x + kQuarterMargin] = v;
}
inline uint8_t get_pel_quarter(const Array2D<uint8_t> &plane, int y, int x)
{
    return plane[y + kQuarterMargin][x + kQuarterMargin];
}
inline void put_pel_integer(std::vector<uint8_t> &buf, int width, int y, int x, uint8_t v)
{
    buf[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = v;
}
// Positions outside the plane read the nearest margin sample of the same quarter-sample phase.
uint8_t get_pel_quarter_clamped(const Array2D<uint8_t> &plane, int y, int x);

// 16 consecutive samples of row y from column x of an integer-sample buffer.
class LineReader
{
public:
    LineReader(const uint8_t *buf, int width, int height) : m_buf(buf), m_width(width), m_height(height) {}
    const uint8_t *get_line_fast(int y, int x) const
    {
        return m_buf + static_cast<size_t>(y) * static_cast<size_t>(m_width) + static_cast<size_t>(x);
    }
    // Row clamped into the picture; columns outside it repeat the edge sample in a line of its own
    // (valid until the next call).
    const uint8_t *get_line_clamped(int y, int x);

private:
    const uint8_t *m_buf;
    int m_width, m_height;
    uint8_t m_line[16] = {};
};

} // namespace h264enc
