// The encoding run: set-up (settings, picture state, frame stores, motion search tables, the stream
// start), the loop over the pictures in coding order (each I or P picture, then the B pictures that
// lie before it in display order), the question after a key press, and the teardown that closes the
// stream, writes the leaky-bucket file and reports. Each run builds its own state; only the intra
// refresh walk carries over from one run to the next.
#include "h264enc/encoder_run_api.h"

#include "h264enc/enc_report.h"
#include "h264enc/enc_run.h"
#include "h264enc/intra_refresh.h"
#include "h264enc/leaky_bucket.h"
#include "h264enc/mode_decision.h"
#include "h264enc/motion_search.h"
#include "h264enc/nal_unit.h"
#include "h264enc/picture_coding.h"
#include "h264enc/settings_file.h"
#include "platform/format.h"
#include "platform/keypoll.h"
#include "platform/log.h"
#include "platform/messages.h"

#include <algorithm>
#include <memory>
#include <new>

namespace h264enc {

namespace {

constexpr int kMaxFrames = 32768;

// Vectors of refs references by 8 block types, zero-filled; returns the bytes.
int get_mem_mv(std::vector<BlockVectors> &mv, int refs)
{
    try {
        mv.assign(static_cast<size_t>(refs) * 8, BlockVectors{});
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("get_mem_mv: mv");
    }
    return static_cast<int>(mv.size() * sizeof(BlockVectors));
}

void init_img(EncoderRun &run)
{
    EncoderParams &in = run.input;
    EncoderImage &img = run.img;
    init_image_geometry(in, img);
    if (in.UseConstrainedIntraPred) {
        try {
            img.intra_block.assign(static_cast<size_t>(img.mb_count), {0, 0, 0, 0});
        } catch (const std::bad_alloc &) {
            out_of_memory_exit("init_img: img->intra_block");
        }
    }
    img.intra_line = 0;
    intra_refresh_init(run.refresh, img.width / 16, img.height / 16, in.RandomIntraMBRefresh);
    h264enc_fmo_init(run.fmo, img.width / 16, img.height / 16, FmoSettingsOf(in));
    sei_init(run.sei, in.NumberFramesInEnhancementLayerSubSequence);
    if (in.LoopFilterParametersFlag) {
        in.LoopFilterAlphaC0Offset *= 2;
        in.LoopFilterBetaOffset *= 2;
    } else {
        in.LoopFilterDisable = in.LoopFilterAlphaC0Offset = in.LoopFilterBetaOffset = 0;
    }
    img.lf_disable = in.LoopFilterDisable;
    img.lf_alpha_offset = in.LoopFilterAlphaC0Offset;
    img.lf_beta_offset = in.LoopFilterBetaOffset;
    img.direct_spatial = in.DirectModeType;
}

void init_global_buffers(EncoderRun &run)
{
    const EncoderImage &img = run.img;
    run.org_frame.allocate(img.width, img.height, "init_global_buffers: imgY_org");
    run.rec_frame.allocate(img.width, img.height, "init_global_buffers: imgY");
    run.interp_work.allocate(img.height + 8, 2 * img.width + 16, "init_global_buffers: img4Y_tmp");
    MacroblockMotion &mo = run.motion;
    mo.refs = img.max_ref + 2;
    get_mem_mv(mo.search_mv, mo.refs);
    get_mem_mv(mo.predicted_mv, mo.refs);
    try {
        // Source frames of the references a B picture sees, newest first (set per B picture).
        run.last_P_no.assign(static_cast<size_t>(2 * img.max_ref), 0);
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("init_global_buffers: last_P_no");
    }
    try {
        mo.partition_costs.assign(static_cast<size_t>(8 * (mo.refs + 1) * 4), 0);
        run.moving_map.assign(img.maps.ref_map.size(), 1);
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("init_global_buffers: mv");
    }
}

bool Interrupted()
{
    if (!zn::TakeKeyPress())
        return false;
    return zn::ShowMessage("H.264 Decoder interrupted by User\nContinue with rest of sequence?",
                           zn::MsgButtons::YesNo, zn::MsgIcon::Question) == zn::MsgAnswer::No;
}

void ChoosePictureType(EncoderRun &run, const PictureLoop &loop)
{
    EncoderImage &img = run.img;
    const EncoderParams &in = run.input;
    const int k = img.number - loop.first_ip;
    if (in.IntraPeriod == 0)
        img.type = img.number == loop.first_ip ? kTypeI : kTypeP;
    else
        img.type = k % in.IntraPeriod == 0 ? kTypeI : kTypeP;
    // A stored B picture takes no SP coding: it must not keep the mode of an SP picture before it.
    if (img.type == kTypeP && in.StoredBPictures > 0 && img.number > 1) {
        img.type = kTypeStoredB;
        img.sp_mode = img.sp_mode == kSpMode ? 1 : img.sp_mode;
    } else if (in.SPPicturePeriodicity != 0)
        img.sp_mode = k % in.SPPicturePeriodicity == 0 ? kSpMode : 1;
    if (img.type == kTypeI)
        img.sp_mode = img.sp_mode == kSpMode ? 1 : img.sp_mode;
    // Sliding window: a full store gives up its oldest picture before the next one is coded.
    ReferenceStore &s = run.refs.frm;
    if (s.short_slots > 0 && s.short_count == s.short_slots) {
        RefFrame &last = *s.picbuf_short[static_cast<size_t>(s.short_count - 1)];
        last.used = 0;
        last.pic_num = -1;
        last.pic_id = -1;
        --s.short_count;
        --img.refs_in_use;
    }
}

void h264enc_print_header(const EncoderRun &run)
{
    const EncoderParams &in = run.input;
    const std::string dashes(78, '-');
    std::string t = dashes + "\n";
    t += zn::Format(" Input YUV file                    : %s \n", in.InputFile.c_str());
    t += zn::Format(" Output H.26L bitstream            : %s \n", in.OutputFile.c_str());
    if (run.recon_file)
        t += zn::Format(" Output YUV file                   : %s \n", in.ReconFile.c_str());
    t += " Output log file                   : log.dat \n";
    t += " Output statistics file            : stat.dat \n";
    t += dashes + "\n";
    t += " Frame   Bit/pic   QP   SnrY    SnrU    SnrV    Time(ms) Frm/Fld IntraMBs\n";
    zn::Log(zn::LogLevel::Info, t);
}

} // namespace

void H264Encoder(const std::string &h264_settings_path, H264EncoderHost *cur_h264enc_dlg)
{
    auto owned = std::make_unique<EncoderRun>();
    EncoderRun &run = *owned;
    EncoderImage &img = run.img;
    run.h264_settings_path = h264_settings_path;
    Configure(run);
    EncoderParams &in = run.input;
    init_img(run);
    init_escape_buffer(4 * img.width * img.height);
    run.frame_pic = malloc_picture();
    if (in.InterlaceCodingOption != 0) {
        run.top_pic = malloc_picture();
        run.bottom_pic = malloc_picture();
    }
    init_mode_decision_state(run);
    init_frame_buffers(run.refs, in, img);
    // A field may refer to twice as many pictures as a frame: the vector arrays and search tables are
    // made for the doubled count.
    const int frameMaxRef = img.max_ref;
    if (in.InterlaceCodingOption != 0)
        img.max_ref = 2 * img.max_ref + 1;
    init_global_buffers(run);
    if (in.RDOptimization == 2)
        h264enc_losssim_init(run.losssim, in, img);
    create_context_memory(run.cabac_models, in, img.mb_count);
    Init_Motion_Search_Module(run);
    img.max_ref = frameMaxRef;
    h264enc_print_header(run);

    PictureLoop loop;
    if (in.LastFrameNumber > 0)
        in.FramesToBeEncoded = (in.LastFrameNumber + in.FrameSkip) / (in.FrameSkip + 1) + 1;
    const int numberBFrames = in.NumberBFrames;
    AdjustFrameCount(in);
    img.ref_frame_num = -1;
    if (in.FramesToBeEncoded > kMaxFrames)
        h264_fatal_error("too many frames", -998);
    if (in.NumberReferenceFrames >= 10)
        h264_fatal_error("NumberReferenceFrames too large", -999);
    init_picture_order(in, img);
    run.stats.slice_header_bits = h264enc_start_stream(run);
    zn::ForgetKeyPresses();

    ModeDecisionCoder coder;
    bool secondGroupStarted = false;
    img.number = 0;
    while (img.number < in.FramesToBeEncoded) {
        const int first = loop.first_ip;
        img.b_flag = 0;
        img.ref_frame_num = (img.ref_frame_num + 1) % (img.max_ref + 1);
        img.toppoc = (img.number - first) * img.poc_step;
        img.bottompoc = img.toppoc + (in.InterlaceCodingOption != 0 ? 1 : 0);
        img.frame_in_gop = img.number - first;
        img.idr_flag = img.number == first ? 1 : 0;
        img.delta_poc = 0;
        ChoosePictureType(run, loop);
        if (in.NumberBFrames != 0 && in.LastFrameNumber != 0 && img.number == in.FramesToBeEncoded - 1) {
            const int spacing = static_cast<int>((in.FrameSkip + 1) / (numberBFrames + 1.0) + 0.499999);
            const int before = in.NumberBFrames;
            if (spacing > 0)
                in.NumberBFrames = (in.LastFrameNumber - (in.FrameSkip + 1) * (img.number - 1)) / spacing - 1;
            in.NumberBFrames = std::clamp(in.NumberBFrames, 0, in.FrameSkip);
            img.toppoc += 2 * (in.NumberBFrames - before);
            img.bottompoc += 2 * (in.NumberBFrames - before);
        }
        img.num_ref_minus1 = std::max(img.refs_in_use - 1, 0);
        // A stored B picture names two backward references only when two are stored.
        img.stored_b_ref =
            in.StoredBPictures > 0 && (img.type != kTypeStoredB || img.refs_in_use >= 2) ? 1 : 0;
        img.enh_layer =
            (img.number - first) % (in.NumberFramesInEnhancementLayerSubSequence + 1) != 0 ? 1 : 0;
        h264enc_push_picture_order(run, img.idr_flag != 0, true);
        h264enc_encode_picture(run, coder, loop, cur_h264enc_dlg);
        losssim_end_picture(run);
        run.tr_forward = run.tr_backward;
        run.tr_backward = img.toppoc;
        img.refs_in_use = std::min(
            {img.refs_in_use + 1, img.max_ref + 1, run.refs.frm.short_slots + run.refs.frm.long_slots});

        if (in.NumberBFrames != 0 && img.number > first) {
            img.type = kTypeB;
            img.stored_b_ref = 0;
            img.sp_mode = 1;
            img.enh_layer = in.NumberFramesInEnhancementLayerSubSequence != 0 ? 1 : 0;
            ++img.frame_in_gop;
            img.idr_flag = 0;
            img.b_flag = 1;
            for (img.b_index = 1; img.b_index <= in.NumberBFrames; ++img.b_index) {
                img.num_ref_minus1 = std::max(img.refs_in_use - 1, 0);
                img.toppoc = (img.number - first - 1) * img.poc_step + 2 * img.b_index;
                img.bottompoc = img.toppoc + (in.InterlaceCodingOption != 0 ? 1 : 0);
                h264enc_push_picture_order(run, false, false);
                img.delta_poc = 2 * img.b_index - 2;
                img.delta_poc_bottom = 0;
                h264enc_encode_picture(run, coder, loop, cur_h264enc_dlg);
                losssim_end_picture(run);
            }
        }
        if (in.NumberOfFrameInSecondIGOP != 0 && img.number == in.FramesToBeEncoded - 1 &&
            !secondGroupStarted) {
            secondGroupStarted = true;
            img.ref_frame_num = -1;
            loop.first_ip = in.FramesToBeEncoded;
            loop.first_src = (in.FrameSkip + 1) * (in.FramesToBeEncoded - 1) + 1;
            in.FramesToBeEncoded += in.NumberOfFrameInSecondIGOP;
            keep_newest_reference(run.refs);
            if (!run.refs.frm.picbuf_short.empty())
                run.refs.frm.picbuf_short.front()->used = 0;
            run.refs.frm.short_count = 0;
            img.refs_in_use = 0;
        }
        if (Interrupted())
            break;
        ++img.number;
    }

    flush_recon_file(run, loop);
    h264enc_end_stream(run);
    run.input_file.reset();
    run.recon_file.reset();
    run.trace_file.reset();
    free_motion_search_module(run);
    intra_refresh_free(run.refresh);
    h264enc_fmo_free(run.fmo);
    free_mode_decision_state(run);
    init_buffer(run);
    h264enc_report(run, loop, cur_h264enc_dlg);
    free_picture_slices(run.frame_pic);
    free_picture_slices(run.top_pic);
    free_picture_slices(run.bottom_pic);
    release_frame_buffers(run.refs);
    sei_free(run.sei);
    free_context_memory(run.cabac_models);
    free_escape_buffer();
}

} // namespace h264enc
