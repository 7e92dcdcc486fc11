// Slice coding: a picture is coded as a series of slices, each a header and the macroblocks of one
// slice group in order until the slice mode says the slice is full. Each macroblock is started (its
// record cleared, its neighbours found), decided and coded by a macroblock coder, written, and counted;
// at the end the partitions are closed (stop bits, the arithmetic code's flush) and escaped into the
// payloads that become NAL units. Macroblock-adaptive frames decide each vertical pair twice, as frame
// and as field macroblocks, and keep the cheaper.
#pragma once

#include <memory>

namespace h264enc {

struct EncoderRun;
struct EncoderImage;
struct Slice;
struct Picture;

// What decides and codes a macroblock before it is written: the encoder's mode decision, or a test's
// records. It works on the current macroblock of run.img, whose record begin_macroblock has cleared,
// and leaves the record (mode, sub-modes, directions, pattern, coded-block bits, intra codes, chroma
// mode, quantiser change, vector predictions), the picture's motion maps and img.cof holding the coded
// macroblock.
class MacroblockCoder
{
public:
    virtual ~MacroblockCoder() = default;
    // Returns the decision cost (compared between the frame and field codings of a pair).
    virtual int encode_macroblock(EncoderRun &run) = 0;
    // Macroblock-adaptive frames: keep what encode_macroblock left for the current macroblock as its
    // frame (0) or field (1) coding, and bring the kept one back before the macroblock is written.
    virtual void save_pair_candidate(EncoderRun &, int) {}
    virtual void restore_pair_candidate(EncoderRun &, int) {}
};

// The macroblock the slice codes after n: the next of n's slice group, in macroblock-adaptive frames the
// upper macroblock of the group's next pair; -1 at the group's end in the picture.
int next_slice_macroblock(const EncoderRun &run, int n);
// Codes one slice of the slice group; returns the macroblocks coded into it.
int h264enc_encode_slice(EncoderRun &run, MacroblockCoder &coder, int slice_group);
// Every slice of the current picture, slice group after slice group; the picture's slices stay in its
// record for the NAL units. Returns the slice count.
int h264enc_code_picture_slices(EncoderRun &run, MacroblockCoder &coder);

// The picture record the current picture's slices go into (frame, top or bottom field).
Picture &current_picture(EncoderRun &run);
// Counts a new slice in the picture, makes it and makes it current.
Slice *create_slice(EncoderRun &run);
std::unique_ptr<Slice> malloc_slice(EncoderRun &run);
void release_slice(std::unique_ptr<Slice> &slice);

// Header bits of the slice (partition headers included); the arithmetic coder starts after them.
int begin_slice(EncoderRun &run);
void finish_slice(EncoderRun &run);
// Position fields of img for macroblock n.
void set_macroblock_position(EncoderImage &img, int n);
// The macroblock's neighbours in its slice, into its record.
void set_macroblock_neighbours(EncoderImage &img);
void begin_macroblock(EncoderRun &run);
// Counts the written macroblock and decides, by SliceMode, whether the slice ends here, or whether the
// macroblock made it too big and is taken back (recode) to start the next slice.
void end_macroblock(EncoderRun &run, int *end_of_slice, int *recode);
void count_macroblock_statistics(EncoderRun &run);
// 1 when the slice, with `extra` more bits, is beyond SliceArgument bytes.
int slice_exceeds_limit(const EncoderRun &run, int extra);

// The slice's writers and pending skip run before a macroblock (or pair), and back.
void save_recode_point(EncoderRun &run);
void restore_recode_point(EncoderRun &run);
// CAVLC: the pending skip run that closes the slice.
void write_closing_skip_run(EncoderRun &run);
// Macroblock-adaptive frames: decides, writes and counts the pair whose upper macroblock is `top`, and
// checks the slice's limits once for the pair.
void code_macroblock_pair(EncoderRun &run, MacroblockCoder &coder, int top, int *end_of_slice, int *recode);

} // namespace h264enc
