// The slice coder: slice records and their partitions, slice start and end, the macroblock loop with its
// slice modes (whole picture, a number of macroblocks, a number of bytes with the overflowing macroblock
// taken back to start the next slice, the slice-group end) and the statistics per macroblock.
#include "h264enc/slice_coder.h"

#include "h264dec/decoder_records.h"
#include "h264enc/cabac_write.h"
#include "h264enc/enc_run.h"
#include "h264enc/mb_write.h"
#include "h264enc/nal_unit.h"
#include "h264enc/slice_header_write.h"
#include "platform/format.h"

#include <algorithm>
#include <new>

namespace h264enc {

namespace {

int TypeIndex(const EncoderImage &img)
{
    return std::clamp(img.type, 0, 4);
}

int PictureMbs(const EncoderImage &img)
{
    return img.mb_count / (img.field_picture ? 2 : 1);
}

// A macroblock-adaptive frame's slices walk the pairs of their slice group: map unit p is the pair whose
// upper macroblock is (p / w) x 2w + p % w.
int PairOfMacroblock(const EncoderImage &img, int n)
{
    const int w = img.WidthMbs();
    return n / (2 * w) * w + n % w;
}

int UpperOfPair(const EncoderImage &img, int p)
{
    const int w = img.WidthMbs();
    return p < 0 ? -1 : p / w * 2 * w + p % w;
}

} // namespace

int next_slice_macroblock(const EncoderRun &run, int n)
{
    const EncoderImage &img = run.img;
    if (!img.mbaff)
        return h264enc_fmo_next_mb(run.fmo, n);
    return UpperOfPair(img, h264enc_fmo_next_mb(run.fmo, PairOfMacroblock(img, n)));
}

void save_recode_point(EncoderRun &run)
{
    Slice &slice = *run.img.current_slice;
    RecodePoint &p = run.recode_point;
    p.positions.resize(slice.partArr.size());
    p.coders.resize(slice.partArr.size());
    for (size_t i = 0; i < slice.partArr.size(); ++i) {
        const Bitstream &bs = slice.partArr[i].bitstream;
        p.positions[i] = {bs.byte_count, bs.free_bits, bs.pending_byte, bs.has_content};
        p.coders[i] = slice.partArr[i].cabac;
    }
    p.skip_run = run.img.skip_run;
}

void restore_recode_point(EncoderRun &run)
{
    Slice &slice = *run.img.current_slice;
    const RecodePoint &p = run.recode_point;
    for (size_t i = 0; i < slice.partArr.size() && i < p.positions.size(); ++i) {
        Bitstream &bs = slice.partArr[i].bitstream;
        bs.byte_count = p.positions[i].byte_count;
        bs.free_bits = p.positions[i].free_bits;
        bs.pending_byte = p.positions[i].pending_byte;
        bs.has_content = p.positions[i].has_content;
        slice.partArr[i].cabac = p.coders[i];
    }
    run.img.skip_run = p.skip_run;
}

void write_closing_skip_run(EncoderRun &run)
{
    EncoderImage &img = run.img;
    if (IsCabac(run) || img.skip_run <= 0)
        return;
    SyntaxItem item;
    item.category = img.type == kTypeB || img.type == kTypeStoredB ? SE_BFRAME : SE_MBTYPE;
    item.value = img.skip_run;
    img.CurrentMb().bit_counts[kBitsHeader] += write_syntax_element(run, item);
    img.skip_run = 0;
}

Picture &current_picture(EncoderRun &run)
{
    if (!run.img.field_picture)
        return run.frame_pic;
    return run.img.bottom_field ? run.bottom_pic : run.top_pic;
}

std::unique_ptr<Slice> malloc_slice(EncoderRun &run)
{
    std::unique_ptr<Slice> slice;
    try {
        slice = std::make_unique<Slice>();
        slice->max_part_nr = run.input.PartitionMode != 0 ? 3 : 1;
        slice->partArr.resize(static_cast<size_t>(slice->max_part_nr));
        // An eighth of a byte per sample to start with; the writers grow the buffer when a slice needs more.
        for (SlicePartition &p : slice->partArr)
            p.bitstream.StreamBuffer.resize(
                static_cast<size_t>(std::max(run.img.width * run.img.height / 8, 256)));
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("malloc_slie: slice structure");
    }
    if (IsCabac(run)) {
        slice->motion = create_contexts_MotionInfo();
        slice->texture = create_contexts_TextureInfo();
    }
    return slice;
}

void release_slice(std::unique_ptr<Slice> &slice)
{
    slice.reset();
}

Slice *create_slice(EncoderRun &run)
{
    EncoderImage &img = run.img;
    Picture &pic = current_picture(run);
    ++pic.no_slices; // the list grows as needed: no limit of slices per picture
    pic.slices.push_back(malloc_slice(run));
    Slice *slice = pic.slices.back().get();
    img.current_slice = slice;
    slice->picture_id = img.tr % 256;
    slice->qp = img.qp;
    slice->start_mb_nr = img.mb_index;
    for (SlicePartition &p : slice->partArr) {
        p.write_element = IsCabac(run) ? cabac_write_element : write_element_uvlc_slice;
        p.bitstream.byte_count = 0;
        p.bitstream.free_bits = 8;
        p.bitstream.pending_byte = 0;
        p.cabac.count_usage = &img.cabac_count_usage;
    }
    return slice;
}

int begin_slice(EncoderRun &run)
{
    EncoderImage &img = run.img;
    Slice &slice = *img.current_slice;
    slice.ref_pic_list_reordering_flag_l0 = 0;
    slice.ref_pic_list_reordering_flag_l1 = 0;
    if (run.out.rtp_counters)
        advance_rtp_timestamp(*run.out.rtp_counters, img.tr % 256);
    int bits = 0;
    for (size_t i = 0; i < slice.partArr.size(); ++i) {
        SlicePartition &p = slice.partArr[i];
        p.bitstream.has_content = 0;
        bits += i == 0 ? h264enc_write_slice_header(run)
                       : h264enc_write_partition_header(run, static_cast<int>(i));
        if (IsCabac(run)) {
            // The arithmetic code starts at a byte boundary; the zero bits count with the header.
            bits += byte_align_bitstream(p.bitstream);
            cabac_enc_start(&p.cabac, &p.bitstream.StreamBuffer, &p.bitstream.byte_count);
        }
    }
    if (IsCabac(run))
        cabac_init_contexts(img);
    else if (!img.mbaff || img.current_slice_nr == 0)
        img.nzcoeff.reset(); // field macroblocks of adaptive frames read counts across slices

    return bits;
}

void finish_slice(EncoderRun &run)
{
    EncoderImage &img = run.img;
    Slice &slice = *img.current_slice;
    if (IsCabac(run))
        write_end_of_slice_flag(run, 1);
    for (SlicePartition &p : slice.partArr) {
        Bitstream &bs = p.bitstream;
        int minBytes = 0;
        if (IsCabac(run)) {
            cabac_enc_finish(&p.cabac, img.mb_index - slice.start_mb_nr,
                             &run.stats.stuffing_bits[TypeIndex(img)]);
            bs.free_bits = 8;
            bs.pending_byte = 0;
            minBytes = p.cabac.min_bytes;
        } else {
            write_rbsp_trailing_bits(bs);
        }
        int zeroWords = 0;
        const int before = bs.byte_count;
        bs.byte_count = escape_rbsp(bs.StreamBuffer, 0, bs.byte_count, minBytes, &zeroWords);
        run.stats.stuffing_bits[TypeIndex(img)] += zeroWords;
        run.stats.em_prev_bits += 8 * (bs.byte_count - before) - zeroWords;
    }
    if (IsCabac(run))
        cabac_store_model(run.cabac_models, run.input, img, slice.start_mb_nr);
}

void set_macroblock_position(EncoderImage &img, int n)
{
    const int w = img.WidthMbs();
    img.mb_index = n;
    img.mb_x = w > 0 ? n % w : 0;
    img.mb_y = w > 0 ? n / w : 0;
}

void set_macroblock_neighbours(EncoderImage &img)
{
    MacroblockRecord &mb = img.CurrentMb();
    const int w = img.WidthMbs(), m = img.mb_index, slice = mb.slice_index;
    for (auto &row : mb.neighbours)
        std::fill(std::begin(row), std::end(row), nullptr);
    mb.neighbours[1][1] = &mb;
    if (img.mb_x > 0)
        mb.neighbours[1][0] = img.InSlice(m - 1, slice);
    // A field macroblock of a macroblock-adaptive frame finds no macroblock above in the first pair row.
    const bool fieldMb = img.mbaff && mb.field_pair_flag;
    if (img.luma_y() >= (fieldMb ? 32 : 16) && img.InSlice(m - w, slice)) {
        mb.neighbours[0][1] = img.InSlice(m - w, slice);
        if (img.mb_x > 0)
            mb.neighbours[0][0] = img.InSlice(m - w - 1, slice);
    }
    if (img.mb_y > 0 && img.mb_x < w - 1 && !img.mbaff)
        mb.neighbours[0][2] = img.InSlice(m - w + 1, slice);
}

void begin_macroblock(EncoderRun &run)
{
    EncoderImage &img = run.img;
    const EncoderParams &input = run.input;
    if (input.SliceMode == 2 || input.SliceMode == 3)
        save_recode_point(run);
    MacroblockRecord &mb = img.CurrentMb();
    const bool firstOfSlice = img.current_slice && img.current_slice->mb_count == 0;
    const int headerBits = firstOfSlice ? mb.bit_counts[kBitsSliceHeader] : 0;
    mb = MacroblockRecord();
    mb.slice_index = img.current_slice_nr;
    mb.qp = img.qp;
    mb.field_pair_flag = img.mbaff ? img.mb_field : 0;
    set_macroblock_neighbours(img);
    // A field macroblock's vectors live in its field's maps; its frame rows belong to both macroblocks
    // of the pair.
    if (img.type != kTypeB && !mb.field_pair_flag) {
        MotionMaps &m = img.maps;
        for (int y = 4 * img.mb_y; y < 4 * img.mb_y + 4; ++y)
            for (int x = 4 * img.mb_x; x < 4 * img.mb_x + 4; ++x)
                m.mv_map[m.At(x, y)] = {0, 0};
    }
    mb.chroma_pred_mode = 2;
    mb.intra4_codes.fill(2);
    if (input.UseConstrainedIntraPred && static_cast<size_t>(img.mb_index) < img.intra_block.size())
        img.intra_block[static_cast<size_t>(img.mb_index)] = {1, 1, 1, 1};
    mb.lf_disable = img.lf_disable;
    mb.lf_alpha_c0_offset = img.lf_alpha_offset;
    mb.lf_beta_offset = img.lf_beta_offset;
    mb.bit_counts[kBitsSliceHeader] = headerBits;
}

int slice_exceeds_limit(const EncoderRun &run, int extra)
{
    const Slice &slice = *run.img.current_slice;
    if (IsCabac(run)) {
        for (const SlicePartition &p : slice.partArr)
            if (cabac_enc_bits_written(&p.cabac) > 8 * run.input.SliceArgument)
                return 1;
        return 0;
    }
    for (const SlicePartition &p : slice.partArr) {
        int size = p.bitstream.byte_count;
        if (p.bitstream.free_bits < 8)
            ++size;
        if (p.bitstream.free_bits < extra)
            ++size;
        if (size > run.input.SliceArgument)
            return 1;
    }
    return 0;
}

void end_macroblock(EncoderRun &run, int *end_of_slice, int *recode)
{
    EncoderImage &img = run.img;
    Slice &slice = *img.current_slice;
    const EncoderParams &input = run.input;
    // The last macroblock of its slice group ends the slice as the picture's last does: a slice of
    // group 0 ending in skipped macroblocks must still send their run.
    const bool lastOfPicture =
        img.mb_index == PictureMbs(img) - 1 || (!img.mbaff && h264enc_fmo_next_mb(run.fmo, img.mb_index) < 0);
    *recode = 0;
    *end_of_slice = 0;
    switch (input.SliceMode) {
    case 0:
        ++slice.mb_count;
        *end_of_slice = slice.mb_count >= PictureMbs(img) || lastOfPicture;
        break;
    case 1:
        ++slice.mb_count;
        *end_of_slice = slice.mb_count >= input.SliceArgument || lastOfPicture;
        break;
    case 2: {
        // The run that would close the slice here counts too.
        const int extra = !IsCabac(run) && img.skip_run > 0 ? UeLength(img.skip_run) : 0;
        const bool tooBig = slice_exceeds_limit(run, extra) != 0;
        if (slice.mb_count > 0 && tooBig) {
            *recode = 1;
            *end_of_slice = 1;
        } else {
            ++slice.mb_count;
            *end_of_slice = lastOfPicture || tooBig;
        }
        break;
    }
    case 3:
        // The slice record's size test never finds a slice too big.
        if (slice.mb_count > 0 && slice_group_picture_done()) {
            *recode = 1;
            *end_of_slice = 1;
        } else {
            ++slice.mb_count;
            *end_of_slice = lastOfPicture;
        }
        break;
    case 4: {
        ++slice.mb_count;
        const int group = slice_group_of_mb(run.fmo.map, img.mb_index);
        *end_of_slice =
            slice.mb_count >= input.SliceArgument || img.mb_index == h264enc_fmo_last_mb(run.fmo, group);
        break;
    }
    default:
        h264_fatal_error(zn::Format("Slice Mode %d not supported", input.SliceMode), 600);
    }
    if (*recode)
        restore_recode_point(run);
    // A slice never ends with skipped macroblocks left unsent, whatever its mode.
    if (*end_of_slice)
        write_closing_skip_run(run);
}

void count_macroblock_statistics(EncoderRun &run)
{
    EncoderImage &img = run.img;
    EncoderStats &s = run.stats;
    const MacroblockRecord &mb = img.CurrentMb();
    const int t = TypeIndex(img);
    s.mode_bits[static_cast<size_t>(t)] += mb.bit_counts[kBitsHeader];
    s.inter_bits[static_cast<size_t>(t)] += mb.bit_counts[kBitsVectors];
    s.cbp_bits[static_cast<size_t>(t)] += mb.bit_counts[kBitsCbp];
    s.luma_bits[static_cast<size_t>(t)] += mb.bit_counts[kBitsLuma];
    s.chroma_bits[static_cast<size_t>(t)] += mb.bit_counts[kBitsChroma];
    s.delta_quant_bits[static_cast<size_t>(t)] += mb.bit_counts[kBitsDeltaQuant];
    const size_t mode = static_cast<size_t>(std::clamp(mb.mb_mode, 0, 12));
    if (img.type == kTypeI) {
        ++s.mode_use_intra[mode];
    } else {
        const size_t row = img.type == kTypeB || img.type == kTypeStoredB ? 1 : 0;
        ++s.mode_use[row][mode];
        s.motion_bits[row][mode] += mb.bit_counts[kBitsVectors];
    }
    if (img.type == kTypeP || img.type == kTypeSP || img.sp_mode == kSpMode) {
        s.quant_sum += mb.qp;
        ++s.quant_count;
    }
}

int h264enc_encode_slice(EncoderRun &run, MacroblockCoder &coder, int slice_group)
{
    EncoderImage &img = run.img;
    int end = 0, coded = 0;
    img.skip_run = 0;
    int n = h264enc_fmo_slice_start(run.fmo, slice_group);
    if (img.mbaff)
        n = UpperOfPair(img, n);
    set_macroblock_position(img, n);
    Slice *slice = create_slice(run);
    if (IsCabac(run))
        cabac_select_model(run.cabac_models, run.input, img, slice->start_mb_nr);
    const int bits = begin_slice(run);
    run.stats.bit_slice += bits;
    run.stats.header_bits[static_cast<size_t>(TypeIndex(img))] += bits;
    img.CurrentMb().bit_counts[kBitsSliceHeader] = bits;
    while (!end) {
        int recode = 0;
        if (img.mbaff) {
            code_macroblock_pair(run, coder, n, &end, &recode);
            if (recode) {
                set_macroblock_position(img, slice->last_mb);
                break;
            }
            coded += 2;
            slice->last_mb = n + img.WidthMbs();
        } else {
            set_macroblock_position(img, n);
            begin_macroblock(run);
            coder.encode_macroblock(run);
            h264enc_write_macroblock(run, 1);
            end_macroblock(run, &end, &recode);
            if (recode) {
                // The macroblock did not fit: the next slice starts with it.
                set_macroblock_position(img, slice->last_mb);
                break;
            }
            count_macroblock_statistics(run);
            ++coded;
            slice->last_mb = n;
        }
        n = next_slice_macroblock(run, slice->last_mb);
        if (n < 0)
            end = 1;
    }
    finish_slice(run);
    return coded;
}

int h264enc_code_picture_slices(EncoderRun &run, MacroblockCoder &coder)
{
    EncoderImage &img = run.img;
    Picture &pic = current_picture(run);
    free_picture_slices(pic);
    for (MacroblockRecord &mb : img.mb_data)
        mb.slice_index = -1;
    img.current_slice_nr = 0;
    run.fmo.pair_units = img.mbaff != 0;
    h264enc_fmo_start_picture(run.fmo);
    for (int group = 0; group < kMaxSliceGroups; ++group) {
        while (!h264enc_fmo_group_done(run.fmo, group)) {
            h264enc_encode_slice(run, coder, group);
            const int last = img.current_slice->last_mb;
            h264enc_fmo_set_slice_end(run.fmo, img.mbaff ? PairOfMacroblock(img, last) : last);
            ++img.current_slice_nr;
        }
    }
    return pic.no_slices;
}

} // namespace h264enc
