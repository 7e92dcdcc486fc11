// The macroblock-pair loop of macroblock-adaptive frames: each vertical pair is decided twice, as two
// frame macroblocks and as two field macroblocks (the field references selected), and the pair is coded
// as fields when that costs no more. Both macroblocks are then written, the upper one behind the
// end-of-slice bin of the pair before, and the slice's limits are checked once per pair.
#include "h264enc/enc_run.h"
#include "h264enc/mb_write.h"
#include "h264enc/slice_coder.h"
#include "platform/format.h"

#include <algorithm>

namespace h264enc {

namespace {

// A skipped macroblock whose pair, when both are skipped, carries no field flag: P pictures, and B
// pictures in CAVLC (a skip run through the pair reads as frame macroblocks; CABAC sends a B pair's
// flag with its upper macroblock always).
bool SkippedWithoutFlag(const EncoderRun &run, const MacroblockRecord &mb)
{
    const EncoderImage &img = run.img;
    if (img.type == kTypeI || mb.mb_mode != kModeSkip)
        return false;
    if (!IsB(img))
        return true;
    return !IsCabac(run) && mb.coded_pattern == 0;
}

} // namespace

void code_macroblock_pair(EncoderRun &run, MacroblockCoder &coder, int top, int *end_of_slice, int *recode)
{
    EncoderImage &img = run.img;
    Slice &slice = *img.current_slice;
    const int pair[2] = {top, top + img.WidthMbs()};
    int cost[2] = {0, 0};
    const int frameRefs = img.refs_in_use, frameReferenceFrames = run.input.NumberReferenceFrames;
    for (int field = 0; field < 2; ++field) {
        img.mb_field = field;
        if (field) {
            // Field macroblocks refer to the stored fields: twice as many, each frame's two. A B picture's
            // forward fields are those of its forward frames (its list counts the backward frame as one),
            // so that every index keeps a frame (half of it) for the frame macroblocks beside.
            select_field_refs(run.refs);
            img.refs_in_use =
                std::min(2 * frameRefs - (img.type == kTypeB ? 1 : 0), run.refs.fld.short_count);
            run.input.NumberReferenceFrames = 2 * frameReferenceFrames;
        }
        for (int m : pair) {
            set_macroblock_position(img, m);
            begin_macroblock(run);
            cost[field] += coder.encode_macroblock(run);
            // The lower macroblock predicts from the upper one before either is written: the upper
            // one's intra flags must already follow its mode in this try.
            mark_intra_block(run);
            coder.save_pair_candidate(run, field);
        }
    }
    select_frame_refs(run.refs, img, img.height);
    img.refs_in_use = frameRefs;
    run.input.NumberReferenceFrames = frameReferenceFrames;
    int field = cost[1] <= cost[0] ? 1 : 0;
    if (field) {
        // A pair whose two macroblocks are skipped may carry no field flag: it reads as frame macroblocks.
        bool bothSkipped = true;
        for (int m : pair) {
            set_macroblock_position(img, m);
            coder.restore_pair_candidate(run, 1);
            bothSkipped = bothSkipped && SkippedWithoutFlag(run, img.CurrentMb());
        }
        if (bothSkipped)
            field = 0;
    }
    img.mb_field = field;
    for (int k = 0; k < 2; ++k) {
        set_macroblock_position(img, pair[k]);
        coder.restore_pair_candidate(run, field);
        h264enc_write_macroblock(run, k == 0 ? 1 : 0);
    }

    // The slice's limits, once per pair.
    const EncoderParams &input = run.input;
    // The group's last pair in the picture ends the slice as the picture's last does.
    const bool lastOfPicture = next_slice_macroblock(run, top) < 0;
    *recode = 0;
    *end_of_slice = 0;
    switch (input.SliceMode) {
    case 0:
    case 3:
        slice.mb_count += 2;
        *end_of_slice = lastOfPicture;
        break;
    case 1:
    case 4:
        slice.mb_count += 2;
        *end_of_slice = slice.mb_count >= input.SliceArgument || lastOfPicture;
        break;
    case 2: {
        const bool tooBig = slice_exceeds_limit(run, 0) != 0;
        if (slice.mb_count > 0 && tooBig) {
            *recode = 1;
            *end_of_slice = 1;
        } else {
            slice.mb_count += 2;
            *end_of_slice = lastOfPicture || tooBig;
        }
        break;
    }
    default:
        h264_fatal_error(zn::Format("Slice Mode %d not supported", input.SliceMode), 600);
    }
    if (*recode) {
        restore_recode_point(run);
    } else {
        for (int m : pair) {
            set_macroblock_position(img, m);
            count_macroblock_statistics(run);
        }
    }
    if (*end_of_slice)
        write_closing_skip_run(run);
}

} // namespace h264enc
