// Picture coding (see the header).
#include "h264enc/picture_coding.h"

#include "h264enc/enc_deblock.h"
#include "h264enc/enc_run.h"
#include "h264enc/enc_weights.h"
#include "h264enc/encoder_run_api.h"
#include "h264enc/field_coding.h"
#include "h264enc/frame_store.h"
#include "h264enc/intra_refresh.h"
#include "h264enc/mb_predict.h"
#include "h264enc/mbaff_picture.h"
#include "h264enc/nal_unit.h"
#include "h264enc/quarter_plane.h"
#include "h264enc/sei_state.h"
#include "h264enc/slice_coder.h"
#include "platform/format.h"
#include "platform/log.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace h264enc {

namespace {

// A B picture between its references; a stored B picture takes a P picture's place (source frame,
// reference, display order) and is coded like a B picture.
bool IsNonReferenceB(const EncoderImage &img)
{
    return img.type == kTypeB;
}

long long NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool LastIp(const EncoderRun &run)
{
    return run.img.number == run.input.FramesToBeEncoded - 1;
}

void InitPicture(EncoderRun &run, PictureLoop &loop)
{
    EncoderImage &img = run.img;
    const EncoderParams &in = run.input;
    img.current_slice_nr = 0;
    img.slices_in_picture = 0;
    run.stats.slice_header_bits = 0;
    img.mb_index = img.mb_x = img.mb_y = 0;
    run.intra_mbs = 0;
    if (!IsNonReferenceB(img)) {
        img.src_frame = loop.first_src + (img.number - loop.first_ip) * (in.FrameSkip + 1);
        if (in.LastFrameNumber > 0 && LastIp(run))
            img.src_frame = in.LastFrameNumber;
        img.src_prev_ip = img.src_last_ip;
        img.src_last_ip = img.src_frame;
        if (img.type == kTypeI)
            img.qp = in.QPFirstFrame;
        else
            img.qp = in.ChangeQPStart > 0 && img.src_frame >= in.ChangeQPStart ? in.ChangeQPP
                                                                               : in.QPRemainingFrame;
        if (img.sp_mode == kSpMode) {
            img.qp = in.QPSPPicture;
            img.qpsp = in.QPSP2Picture;
        }
        img.intra_line_prev = img.intra_line;
        if (in.MbLineIntraUpdate > 0)
            img.intra_line = ((img.number - loop.first_ip) / in.MbLineIntraUpdate) % (img.height / 16);
    } else {
        img.ip_distance = in.FrameSkip + 1;
        const int prev = loop.first_src + (img.number - loop.first_ip - 1) * img.ip_distance;
        const int next = loop.first_src + (img.number - loop.first_ip) * img.ip_distance;
        img.b_spacing =
            static_cast<int>(static_cast<double>(in.FrameSkip + 1) / (in.NumberBFrames + 1) + 0.49999);
        img.src_frame = std::min(prev + img.b_index * img.b_spacing, next - 1);
        for (size_t i = 0; i < run.last_P_no.size() && i < static_cast<size_t>(img.max_ref); ++i)
            run.last_P_no[i] = i == 0 ? prev : run.last_P_no[i - 1] - img.ip_distance;
        img.qp = in.ChangeQPStart > 0 && img.src_frame >= in.ChangeQPStart ? in.ChangeQPB : in.QPBPicture;
    }
    if (img.type == kTypeB || img.type == kTypeStoredB) {
        MotionMaps &m = img.maps;
        std::fill(m.fw_ref_map.begin(), m.fw_ref_map.end(), -1);
        std::fill(m.bw_ref_map.begin(), m.bw_ref_map.end(), -1);
        std::fill(m.fw_mv_map.begin(), m.fw_mv_map.end(), std::array<int, 2>{0, 0});
        std::fill(m.bw_mv_map.begin(), m.bw_mv_map.end(), std::array<int, 2>{0, 0});
    }
    SeiRunValues v;
    v.FramesToBeEncoded = in.FramesToBeEncoded;
    v.NumberFramesInEnhancementLayerSubSequence = in.NumberFramesInEnhancementLayerSubSequence;
    v.NumberBFrames = in.NumberBFrames;
    sei_update_picture(run.sei, img.enh_layer, img.type, img.number, loop.first_ip, v);
    sei_set_picture_values(run.sei, 0, 0, 0, -1);
    if (!IsNonReferenceB(img) && in.num_slice_groups_minus1 > 0 && in.FmoType > 3)
        h264enc_fmo_update(run.fmo);
    img.mb_count = img.width * img.height / 256;
    img.tr = img.toppoc / 2;
}

} // namespace

void store_new_reference(EncoderRun &run)
{
    FrameStores &fs = run.refs;
    add_short_term_frame(fs, run.img.ref_frame_num, run.img.number);
    set_mref_arrays(fs);
    set_refbuf_arrays(fs);
}

void h264enc_code_picture(EncoderRun &run, MacroblockCoder &coder)
{
    h264enc_code_picture_slices(run, coder);
    deblock_picture(run.img, run.rec->y, &run.rec->uv);
}

void h264enc_make_reference(EncoderRun &run)
{
    EncoderImage &img = run.img;
    FrameStores &fs = run.refs;
    store_new_reference(run);
    RefFrame &f = *fs.fb->picbuf_short.front();
    interpolate_quarter_plane(run.rec->y, run.interp_work, f.mref);
    for (int c = 0; c < 2; ++c)
        std::copy(run.rec->uv[c].data(),
                  run.rec->uv[c].data() + static_cast<size_t>(run.rec->uv[c].rows()) * run.rec->uv[c].cols(),
                  f.mcef[c].data());
    std::copy(run.rec->y.data(), run.rec->y.data() + static_cast<size_t>(img.width) * img.height,
              f.Refbuf11.data());
}

void h264enc_write_picture_nal_units(EncoderRun &run, Picture &pic)
{
    EncoderImage &img = run.img;
    for (const std::unique_ptr<Slice> &slice : pic.slices)
        for (size_t p = 0; p < slice->partArr.size(); ++p) {
            const Bitstream &bs = slice->partArr[p].bitstream;
            NaluPtr nalu = AllocNALU(bs.byte_count + 1);
            nalu->prefix_length = 4;
            nalu->forbidden_bit = 0;
            if (slice->partArr.size() > 1)
                nalu->nal_unit_type = NALU_TYPE_DPA + static_cast<int>(p);
            else
                nalu->nal_unit_type = img.idr_flag ? NALU_TYPE_IDR : NALU_TYPE_SLICE;
            nalu->nal_ref_idc = img.idr_flag ? 3 : IsNonReferenceB(img) ? 0 : 2;
            nalu->buf.resize(static_cast<size_t>(bs.byte_count) + 1);
            nalu->buf[0] = NaluHeaderByte(*nalu);
            std::copy(bs.StreamBuffer.begin(), bs.StreamBuffer.begin() + bs.byte_count,
                      nalu->buf.begin() + 1);
            nalu->len = bs.byte_count + 1;
            run.stats.bit_counter += run.out.WriteNalu(*nalu);
        }
}

long long h264enc_plane_sse(const Array2D<uint8_t> &a, const Array2D<uint8_t> &b)
{
    long long sum = 0;
    const size_t n = static_cast<size_t>(a.rows()) * static_cast<size_t>(a.cols());
    for (size_t i = 0; i < n; ++i) {
        const int d = a.data()[i] - b.data()[i];
        sum += d * d;
    }
    return sum;
}

namespace {

void UpdateMovingMap(EncoderRun &run)
{
    const EncoderParams &in = run.input;
    if (in.DirectModeType == 0 || (in.NumberBFrames == 0 && in.StoredBPictures <= 0))
        return;
    const MotionMaps &m = run.img.maps;
    // A stored B picture leaves its forward motion for the pictures that follow.
    const bool storedB = run.img.type == kTypeStoredB;
    const std::vector<int> &ref = storedB ? m.fw_ref_map : m.ref_map;
    const std::vector<std::array<int, 2>> &mv = storedB ? m.fw_mv_map : m.mv_map;
    run.moving_map.assign(ref.size(), 0);
    for (size_t i = 0; i < ref.size(); ++i)
        run.moving_map[i] = ref[i] != 0 || std::abs(mv[i][0]) > 1 || std::abs(mv[i][1]) > 1 ? 1 : 0;
}

void MeasureSnr(EncoderRun &run, const PictureLoop &loop)
{
    EncoderImage &img = run.img;
    EncoderSnr &s = run.snr;
    const double n = static_cast<double>(img.width) * img.height;
    const long long sse[3] = {h264enc_plane_sse(run.org->y, run.rec->y),
                              h264enc_plane_sse(run.org->uv[0], run.rec->uv[0]),
                              h264enc_plane_sse(run.org->uv[1], run.rec->uv[1])};
    float *cur[3] = {&s.snr_y, &s.snr_u, &s.snr_v};
    // An error-free component keeps its previous value: its SNR would be infinite.
    for (int c = 0; c < 3; ++c)
        if (sse[c] != 0)
            *cur[c] = static_cast<float>(
                10 * std::log10(65025.0 * n / ((c == 0 ? 1 : 4) * static_cast<double>(sse[c]))));
    if (img.number == 0) {
        s.snr_y1 = s.snr_ya = s.snr_y;
        s.snr_u1 = s.snr_ua = s.snr_u;
        s.snr_v1 = s.snr_va = s.snr_v;
        return;
    }
    const float k = static_cast<float>(img.number + loop.b_coded);
    s.snr_ya = (k * s.snr_ya + s.snr_y) / (k + 1);
    s.snr_ua = (k * s.snr_ua + s.snr_u) / (k + 1);
    s.snr_va = (k * s.snr_va + s.snr_v) / (k + 1);
}

void WritePlanes(EncoderRun &run, const PictureBuffers &p)
{
    std::FILE *f = run.recon_file.get();
    if (!f)
        return;
    bool ok = std::fwrite(p.y.data(), 1, static_cast<size_t>(p.y.rows()) * p.y.cols(), f) ==
              static_cast<size_t>(p.y.rows()) * p.y.cols();
    for (int c = 0; c < 2 && ok; ++c)
        ok = std::fwrite(p.uv[c].data(), 1, static_cast<size_t>(p.uv[c].rows()) * p.uv[c].cols(), f) ==
             static_cast<size_t>(p.uv[c].rows()) * p.uv[c].cols();
    if (!ok)
        h264_fatal_error(zn::Format("Error writing the reconstruction file %s", run.input.ReconFile.c_str()),
                         500);
}

void CopyPlanes(const PictureBuffers &from, PictureBuffers &to)
{
    if (to.y.rows() != from.y.rows() || to.y.cols() != from.y.cols())
        to.allocate(from.Width(), from.Height(), "init_global_buffers: imgY_com");
    std::copy(from.y.data(), from.y.data() + static_cast<size_t>(from.y.rows()) * from.y.cols(), to.y.data());
    for (int c = 0; c < 2; ++c)
        std::copy(from.uv[c].data(),
                  from.uv[c].data() + static_cast<size_t>(from.uv[c].rows()) * from.uv[c].cols(),
                  to.uv[c].data());
}

// Display order: an I or P picture waits until the B pictures before it are written.
void ReconFileOutput(EncoderRun &run, PictureLoop &loop)
{
    if (!run.recon_file)
        return;
    if (IsNonReferenceB(run.img)) {
        WritePlanes(run, *run.rec);
        return;
    }
    flush_recon_file(run, loop);
    CopyPlanes(*run.rec, run.recon_held);
    loop.recon_held = true;
}

void Report(EncoderRun &run, PictureLoop &loop, int bits, int ms, H264EncoderHost *host)
{
    EncoderImage &img = run.img;
    EncoderStats &st = run.stats;
    const EncoderSnr &s = run.snr;
    const char *fld = img.field_picture ? "FLD" : "FRM";
    H264FrameReport r;
    r.source_frame = loop.picture_number;
    r.bits = bits;
    r.qp = img.qp;
    r.snr_y = s.snr_y;
    r.snr_u = s.snr_u;
    r.snr_v = s.snr_v;
    r.milliseconds = ms;
    const ReferenceStore &frames = run.refs.frm;
    if (!IsNonReferenceB(img) && !frames.picbuf_short.empty() && frames.picbuf_short.front()->used)
        r.reference_counter = frames.picbuf_short.front()->pic_num;
    if (img.type == kTypeI) {
        r.type_letters = "I";
        zn::LogF(zn::LogLevel::Info, "%3d(I)  %8d %4d %7.4f %7.4f %7.4f  %5d       %3s \n", r.source_frame,
                 bits, img.qp, s.snr_y, s.snr_u, s.snr_v, ms, fld);
        // Only the run's first picture: the first picture of a second intra group would otherwise
        // replace it with every bit written since, and the reported total would lose and repeat bits.
        if (img.number == 0) {
            st.bits_first_picture = st.bit_counter;
            st.bit_counter = 0;
        } else {
            st.bits_p += bits;
        }
    } else if (img.type == kTypeB) {
        r.type_letters = "B";
        zn::LogF(zn::LogLevel::Info, "%3d(B)  %8d %4d %7.4f %7.4f %7.4f  %5d       %3s \n", r.source_frame,
                 bits, img.qp, s.snr_y, s.snr_u, s.snr_v, ms, fld);
        st.bits_b += bits;
    } else if (img.type == kTypeStoredB) {
        r.type_letters = "BS";
        zn::LogF(zn::LogLevel::Info, "%3d(BS) %8d %4d %7.4f %7.4f %7.4f  %5d       %3s   %3d\n",
                 r.source_frame, bits, img.qp, s.snr_y, s.snr_u, s.snr_v, ms, fld, run.intra_mbs);
        st.bits_p += bits;
    } else {
        r.type_letters = "P";
        r.intra_mbs = run.intra_mbs;
        zn::LogF(zn::LogLevel::Info, "%3d(P)  %8d %4d %7.4f %7.4f %7.4f  %5d       %3s   %3d\n",
                 r.source_frame, bits, img.qp, s.snr_y, s.snr_u, s.snr_v, ms, fld, run.intra_mbs);
        st.bits_p += bits;
    }
    if (host)
        host->h264enc_show_frame(r);
}

} // namespace

int source_frame_number(const EncoderRun &run, const PictureLoop &loop)
{
    const EncoderImage &img = run.img;
    if (IsNonReferenceB(img))
        return img.src_frame;
    if (run.input.LastFrameNumber > 0 && LastIp(run))
        return run.input.LastFrameNumber;
    return loop.first_src + (img.number - loop.first_ip) * (run.input.FrameSkip + 1);
}

void ReadOneFrame(EncoderRun &run, int n, int header_length, PictureBuffers &planes)
{
    std::FILE *f = run.input_file.get();
    const int w = planes.Width(), h = planes.Height();
    const long long frameBytes = static_cast<long long>(w) * h * 3 / 2;
    if (!f || fseeko(f, header_length, SEEK_SET) != 0)
        h264_fatal_error("ReadOneFrame: cannot fseek to (Header size) in p_in", -1);
    // A frame beyond the end of the file would loop to picture zero; the read below finds it missing
    // anyway, so the skip is one seek.
    if (fseeko(f, static_cast<off_t>(header_length + frameBytes * n), SEEK_SET) != 0) {
        zn::LogF(
            zn::LogLevel::Info,
            "ReadOneFrame: cannot advance file pointer in p_in beyond frame %d, looping to picture zero\n",
            n);
        if (fseeko(f, header_length, SEEK_SET) != 0)
            h264_fatal_error("ReadOneFrame: cannot fseek to (Header size) in p_in", -1);
    }
    auto read = [&](uint8_t *to, size_t bytes) {
        if (std::fread(to, 1, bytes, f) != bytes)
            h264_fatal_error(
                zn::Format("ReadOneFrame: cannot read %d bytes from input file, unexpected EOF?, exiting",
                           static_cast<int>(bytes)),
                -1);
    };
    read(planes.y.data(), static_cast<size_t>(w) * h);
    read(planes.uv[0].data(), static_cast<size_t>(w) * h / 4);
    read(planes.uv[1].data(), static_cast<size_t>(w) * h / 4);
}

void flush_recon_file(EncoderRun &run, PictureLoop &loop)
{
    if (loop.recon_held && run.recon_file)
        WritePlanes(run, run.recon_held);
    loop.recon_held = false;
}

int h264enc_encode_picture(EncoderRun &run, MacroblockCoder &coder, PictureLoop &loop, H264EncoderHost *host)
{
    EncoderImage &img = run.img;
    const long long start = NowMs();
    run.org = &run.org_frame;
    run.rec = &run.rec_frame;
    select_frame_refs(run.refs, img, run.input.SourceHeight);
    InitPicture(run, loop);
    loop.picture_number = source_frame_number(run, loop);
    ReadOneFrame(run, loop.picture_number, run.input.InputHeaderLength, run.org_frame);
    if (IsNonReferenceB(img))
        ++loop.b_coded;

    h264enc_estimate_weights(run);
    run.stats.bits_frame_pass = 0;
    run.stats.pass_bits = &run.stats.bits_frame_pass;
    set_mref_arrays(run.refs);
    img.field_picture = 0;
    img.mbaff = run.input.InterlaceCodingOption == 3 ? 1 : 0;
    intra_refresh_next_picture(run.refresh);
    // Frames, and macroblock-adaptive frames (which choose frame or field per macroblock pair), code
    // as one picture; field and picture-adaptive coding code fields.
    if (run.input.InterlaceCodingOption == 0 || run.input.InterlaceCodingOption == 3) {
        if (img.mbaff)
            mbaff_begin_picture(run);
        h264enc_code_picture(run, coder);
        if (!IsNonReferenceB(img)) {
            h264enc_make_reference(run);
            if (img.mbaff) {
                mbaff_store_fields(run);
                mbaff_keep_colocated(run);
            }
        }
        h264enc_write_picture_nal_units(run, run.frame_pic);
    } else {
        h264enc_code_interlaced_picture(run, coder);
    }
    free_picture_slices(run.frame_pic);
    free_picture_slices(run.top_pic);
    free_picture_slices(run.bottom_pic);
    if (!IsNonReferenceB(img))
        UpdateMovingMap(run);
    update_pixel_age_map(run);
    MeasureSnr(run, loop);
    ReconFileOutput(run, loop);

    const int ms = static_cast<int>(NowMs() - start);
    loop.total_ms += ms;
    const int bits = run.stats.bit_counter - run.stats.bits_at_last_picture;
    loop.last_bits = bits;
    run.picture_bits.push_back(bits);
    Report(run, loop, bits, ms, host);
    run.stats.bits_at_last_picture = run.stats.bit_counter;
    return img.number == loop.first_ip ? 0 : 1;
}

} // namespace h264enc
