// The macroblock header: how the macroblock is skipped or typed, its sub-types, intra modes and chroma
// mode. In macroblock-adaptive frames the pair's field flag goes where the decoder looks for it: with
// the upper macroblock, or, when that one is skipped, with the lower one.
#include "h264enc/mb_write.h"

#include "h264dec/decoder_records.h"
#include "h264enc/cabac_write.h"
#include "h264enc/cavlc_write.h"
#include "h264enc/enc_run.h"

namespace h264enc {

namespace {

// Category of the header elements: B pictures have their own.
int HeaderCategory(const EncoderImage &img, int category)
{
    return IsB(img) ? SE_BFRAME : category;
}

bool Skipped(const EncoderImage &img, const MacroblockRecord &mb)
{
    return mb.mb_mode == kModeSkip && (!IsB(img) || mb.coded_pattern == 0);
}

bool IsUpperOfPair(const EncoderImage &img)
{
    return img.mb_y % 2 == 0;
}

// A skipped field macroblock of a macroblock-adaptive frame clears the counts at its pair's row, where
// the decoder keeps a field macroblock's counts.
void ZeroNonzeroCounts(EncoderImage &img)
{
    if (img.nzcoeff.empty())
        return;
    const bool fieldRow = img.mbaff && img.CurrentMb().field_pair_flag && !img.mbaff_field_view;
    const int row = fieldRow ? img.mb_y / 2 : img.mb_y;
    for (int j = 0; j < 6; ++j)
        for (int i = 0; i < 4; ++i)
            img.nzcoeff.at(img.mb_x, row, i, j) = 0;
}

int WriteFieldFlag(EncoderRun &run, MacroblockRecord &mb)
{
    SyntaxItem item;
    item.category = HeaderCategory(run.img, SE_MBTYPE);
    item.value = mb.field_pair_flag;
    item.write_fn = cabac_write_field_flag;
    set_cabac_neighbours_mbaff(run.img);
    return write_syntax_element(run, item);
}

int WriteMbType(EncoderRun &run, const MacroblockRecord &mb)
{
    EncoderImage &img = run.img;
    SyntaxItem item;
    item.category = HeaderCategory(img, SE_MBTYPE);
    item.value = mb_type_code(run, mb);
    item.write_fn = writeMB_typeInfo2Buffer_CABAC;
    if (!IsCabac(run) && (img.type == kTypeP || img.type == kTypeSP || img.sp_mode == kSpMode) && !IsB(img))
        item.value -= 1;
    return write_syntax_element(run, item);
}

} // namespace

int write_syntax_element(EncoderRun &run, SyntaxItem &item)
{
    EncoderImage &img = run.img;
    Slice &slice = *img.current_slice;
    const size_t p = static_cast<size_t>(assignSE2partition[run.input.PartitionMode ? 1 : 0][item.category]);
    SlicePartition &part = slice.partArr[p < slice.partArr.size() ? p : 0];
    if (!IsCabac(run) && !item.map)
        item.map = map_ue;
    const int bits = part.write_element(&item, img, &part);
    ++img.CurrentMb().element_count;
    return bits;
}

int mb_type_code(const EncoderRun &run, const MacroblockRecord &mb)
{
    const EncoderImage &img = run.img;
    if (IsB(img)) {
        static const int kD[3][3] = {{0, 4, 8}, {6, 2, 10}, {12, 14, 16}};
        const int d0 = mb.quarter_dir[0], d3 = mb.quarter_dir[3];
        const bool dirs = d0 >= 0 && d0 <= 2 && d3 >= 0 && d3 <= 2;
        switch (mb.mb_mode) {
        case kModeSkip:
            return 0;
        case kMode16x16:
            return 1 + (d0 >= 0 && d0 <= 2 ? d0 : 0);
        case kMode16x8:
            return 4 + (dirs ? kD[d0][d3] : 0);
        case kMode8x16:
            return 5 + (dirs ? kD[d0][d3] : 0);
        case kMode8x8:
            return 22;
        case kModeI4:
            return 23;
        case kModeI16:
            return 23 + mb.i16_type;
        default:
            h264_fatal_error("mb_type_code: mode not supported in B pictures", kH264StreamErrorCode);
        }
    }
    if (img.type == kTypeI) {
        if (mb.mb_mode == kModeI4)
            return 0;
        if (mb.mb_mode == kModeI16)
            return mb.i16_type;
        h264_fatal_error("mb_type_code: inter mode in an I picture", kH264StreamErrorCode);
    }
    switch (mb.mb_mode) {
    case kModeI4:
        return 6;
    case kModeI16:
        return 6 + mb.i16_type;
    case kMode8x8:
        return !IsCabac(run) && all_refs_zero(img) ? 5 : 4;
    default:
        return mb.mb_mode;
    }
}

int sub_mb_type_code(const EncoderImage &img, int mode, int direction)
{
    if (!IsB(img))
        return mode - 4;
    static const int kStart[8] = {0, 0, 0, 0, 1, 4, 5, 10};
    static const int kStep[8] = {0, 0, 0, 0, 1, 2, 2, 1};
    if (mode < 0 || mode > 7)
        return 0;
    return kStart[mode] + direction * kStep[mode];
}

int all_refs_zero(const EncoderImage &img)
{
    const OwnMotionView v = OwnMotion(img);
    const MotionMaps &m = *v.maps;
    for (int y = v.row; y < v.row + 4; ++y)
        for (int x = 4 * img.mb_x; x < 4 * img.mb_x + 4; ++x)
            if (m.ref_map[m.At(x, y)] != 0)
                return 0;
    return 1;
}

void set_cabac_neighbours_mbaff(EncoderImage &img)
{
    MacroblockRecord &mb = img.CurrentMb();
    const int w = img.WidthMbs(), m = img.mb_index;
    mb.cabac_left = img.mb_x > 0 ? img.InSlice(m - 1, mb.slice_index) : nullptr;
    mb.cabac_up = img.luma_y() >= 32 ? img.InSlice(m - 2 * w, mb.slice_index) : nullptr;
}

void write_end_of_slice_flag(EncoderRun &run, int bit)
{
    EncoderImage &img = run.img;
    const int category = IsB(img) ? SE_BFRAME : SE_MBTYPE;
    Slice &slice = *img.current_slice;
    const size_t p = static_cast<size_t>(assignSE2partition[run.input.PartitionMode ? 1 : 0][category]);
    SlicePartition &part = slice.partArr[p < slice.partArr.size() ? p : 0];
    part.bitstream.has_content = 1;
    cabac_enc_final(&part.cabac, bit);
}

int write_intra_block_modes(EncoderRun &run, int quarter)
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    const int category = HeaderCategory(img, SE_INTRAPREDMODE);
    int bits = 0;
    for (int q = quarter < 0 ? 0 : quarter; q < (quarter < 0 ? 4 : quarter + 1); ++q) {
        if (mb.quarter_mode[static_cast<size_t>(q)] != kModeIntraQuarter)
            continue;
        for (int k = 0; k < 4; ++k) {
            SyntaxItem item;
            item.category = category;
            item.value = mb.intra4_codes[static_cast<size_t>(4 * q + k)];
            item.context = 4 * q + k;
            item.write_fn = cabac_write_intra_mode;
            if (IsCabac(run)) {
                bits += write_syntax_element(run, item);
            } else {
                Slice &slice = *img.current_slice;
                const size_t p =
                    static_cast<size_t>(assignSE2partition[run.input.PartitionMode ? 1 : 0][category]);
                bits += write_intra_pred_mode(&item, &slice.partArr[p < slice.partArr.size() ? p : 0]);
                ++mb.element_count;
            }
        }
    }
    mb.bit_counts[kBitsLuma] += bits;
    return bits;
}

int write_chroma_intra_mode(EncoderRun &run)
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    SyntaxItem item;
    item.category = HeaderCategory(img, SE_INTRAPREDMODE);
    item.value = mb.chroma_pred_mode;
    item.write_fn = cabac_write_chroma_mode;
    const int bits = write_syntax_element(run, item);
    mb.bit_counts[kBitsChroma] += bits;
    return bits;
}

int write_macroblock_header(EncoderRun &run, int rd_mode)
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    const bool cabac = IsCabac(run);
    const bool mbaff = img.mbaff != 0;
    const bool upper = IsUpperOfPair(img);
    mb.intra_chroma_flag = mb.mb_mode == kModeI4 || mb.mb_mode == kModeI16 ? 1 : 0;
    const bool skipped = img.type != kTypeI && Skipped(img, mb);
    // The upper macroblock of this pair, when this is the lower one of a macroblock-adaptive frame.
    const MacroblockRecord *top =
        mbaff && !upper ? &img.mb_data[static_cast<size_t>(img.mb_index - img.WidthMbs())] : nullptr;
    const bool topSkipped = top && img.type != kTypeI && Skipped(img, *top);
    int bits = 0;

    if (img.type == kTypeI) {
        if (mbaff && upper)
            bits += WriteFieldFlag(run, mb);
        bits += WriteMbType(run, mb);
    } else if (cabac) {
        SyntaxItem item;
        item.category = HeaderCategory(img, SE_MBTYPE);
        item.value = mb.mb_mode == kModeSkip ? 0 : mb_type_code(run, mb);
        item.second_value = mb.coded_pattern;
        item.write_fn = cabac_write_skip_flag;
        bits += write_syntax_element(run, item);
        if (mbaff) {
            // P pictures defer a skipped upper macroblock's flag to the lower one; B pictures send it
            // with the upper one always, and again with a coded lower one after a skipped upper one.
            const bool deferred = upper && skipped && !IsB(img);
            if ((upper && !deferred) || (!upper && topSkipped && !skipped))
                bits += WriteFieldFlag(run, mb);
        }
        if (!skipped)
            bits += WriteMbType(run, mb);
        else
            ZeroNonzeroCounts(img);
    } else if (skipped) {
        ++img.skip_run;
        ZeroNonzeroCounts(img);
    } else {
        SyntaxItem run_item;
        run_item.category = HeaderCategory(img, SE_MBTYPE);
        run_item.value = img.skip_run;
        bits += write_syntax_element(run, run_item);
        img.skip_run = 0;
        // A skipped upper macroblock closing a run reads the pair's flag where the run ends, and the
        // coded lower one reads it again.
        if (mbaff && !upper && topSkipped)
            bits += WriteFieldFlag(run, mb);
        if (mbaff && (upper || topSkipped))
            bits += WriteFieldFlag(run, mb);
        bits += WriteMbType(run, mb);
    }

    if (mb.mb_mode == kMode8x8)
        for (int q = 0; q < 4; ++q) {
            SyntaxItem item;
            item.category = HeaderCategory(img, SE_MBTYPE);
            item.value = sub_mb_type_code(img, mb.quarter_mode[static_cast<size_t>(q)],
                                          mb.quarter_dir[static_cast<size_t>(q)]);
            item.write_fn = cabac_write_sub_type;
            bits += write_syntax_element(run, item);
        }
    mb.bit_counts[kBitsHeader] += bits;

    if (!skipped) {
        bits += write_intra_block_modes(run, -1);
        if (mb.intra_chroma_flag)
            bits += write_chroma_intra_mode(run);
    }
    if (!mb.intra_chroma_flag && rd_mode == 0)
        mb.chroma_pred_mode = 2;
    return bits;
}

void mark_intra_block(EncoderRun &run)
{
    EncoderImage &img = run.img;
    if (!run.input.UseConstrainedIntraPred || static_cast<size_t>(img.mb_index) >= img.intra_block.size())
        return;
    // Stored B pictures too: the decoder takes an inter macroblock of any B picture as unusable for
    // constrained intra prediction, so the encoder must not predict from it either. The flags are set
    // both ways: a macroblock pair tried as frames and as fields leaves the flags of its last try.
    const bool inter =
        (img.type == kTypeP || IsB(img)) && img.sp_mode != kSpMode && !IsIntraMacroblock(img.CurrentMb());
    const int flag = inter ? 0 : 1;
    img.intra_block[static_cast<size_t>(img.mb_index)] = {flag, flag, flag, flag};
}

void h264enc_write_macroblock(EncoderRun &run, int not_first)
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    Slice &slice = *img.current_slice;
    img.cabac_count_usage = 1;
    if (IsCabac(run) && not_first && slice.mb_count > 0)
        write_end_of_slice_flag(run, 0);
    write_macroblock_header(run, 0);
    if (!(img.type != kTypeI && Skipped(img, mb))) {
        write_macroblock_motion(run);
        write_cbp_qp_luma(run);
        write_chroma_blocks(run);
    }
    mark_intra_block(run);
    int total = 0;
    for (int k = kBitsHeader; k <= kBitsDeltaQuant; ++k)
        total += mb.bit_counts[static_cast<size_t>(k)];
    mb.bit_counts[kBitsTotal] = total;
    run.stats.bit_slice += total;
    img.cabac_count_usage = 0;
}

} // namespace h264enc
