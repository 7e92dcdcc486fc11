// Field and picture-adaptive coding (see the header). The decoder keeps every reference picture twice,
// as a frame in its frame store and as two fields in its field store, newest first, whichever form it
// was coded in; the encoder's stores mirror that, so a reference index names the same picture on both
// sides. A field's list starts with the newest stored field: for a top field the bottom field of the
// previous frame, for a bottom field the top field of its own frame.
#include "h264enc/field_coding.h"

#include "h264enc/cabac_contexts.h"
#include "h264enc/enc_deblock.h"
#include "h264enc/enc_run.h"
#include "h264enc/enc_weights.h"
#include "h264enc/frame_store.h"
#include "h264enc/picture_coding.h"
#include "h264enc/slice_coder.h"
#include "platform/format.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace h264enc {

namespace {

// The frame's values that a field changes for its own coding.
struct FrameValues
{
    int type = kTypeI;
    int idr_flag = 0;
    int num_ref_minus1 = 0;
};

void SplitPlane(const Array2D<uint8_t> &frame, Array2D<uint8_t> &top, Array2D<uint8_t> &bottom)
{
    const size_t cols = static_cast<size_t>(frame.cols());
    for (int r = 0; r < frame.rows() / 2; ++r) {
        std::copy(frame[2 * r], frame[2 * r] + cols, top[r]);
        std::copy(frame[2 * r + 1], frame[2 * r + 1] + cols, bottom[r]);
    }
}

void MergePlane(const Array2D<uint8_t> &top, const Array2D<uint8_t> &bottom, Array2D<uint8_t> &frame)
{
    const size_t cols = static_cast<size_t>(frame.cols());
    for (int r = 0; r < frame.rows() / 2; ++r) {
        std::copy(top[r], top[r] + cols, frame[2 * r]);
        std::copy(bottom[r], bottom[r] + cols, frame[2 * r + 1]);
    }
}

void EnsureFieldBuffers(EncoderRun &run)
{
    const int w = run.org_frame.Width(), h = run.org_frame.Height() / 2;
    for (PictureBuffers *p : {&run.org_top, &run.org_bottom, &run.rec_top, &run.rec_bottom})
        if (p->Width() != w || p->Height() != h)
            p->allocate(w, h, "init_field_buffers: field planes");
}

bool Still(int ref, const std::array<int, 2> &mv)
{
    return ref == 0 && std::abs(mv[0]) <= 1 && std::abs(mv[1]) <= 1;
}

// The motion of the picture just coded (the first `rows` block rows of the maps) in a co-located form,
// with its moving flags. A stored B picture leaves its forward motion.
void CaptureMotion(const EncoderImage &img, int rows, ColocatedMotion &into)
{
    const MotionMaps &m = img.maps;
    const bool storedB = img.type == kTypeStoredB;
    const std::vector<int> &ref = storedB ? m.fw_ref_map : m.ref_map;
    const std::vector<std::array<int, 2>> &mv = storedB ? m.fw_mv_map : m.mv_map;
    const size_t n = static_cast<size_t>(m.cols) * static_cast<size_t>(rows);
    into.cols = m.cols;
    into.rows = rows;
    into.ref.assign(ref.begin(), ref.begin() + static_cast<long>(n));
    into.mv.assign(mv.begin(), mv.begin() + static_cast<long>(n));
    into.moving.assign(n, 0);
    for (size_t i = 0; i < n; ++i)
        into.moving[i] = Still(into.ref[i], into.mv[i]) ? 0 : 1;
}

// A B picture's direct prediction reads the co-located form of its own structure from the maps of the
// P list and the moving-block map.
void LoadColocated(EncoderRun &run, const ColocatedMotion &from)
{
    MotionMaps &m = run.img.maps;
    if (from.cols != m.cols || from.ref.empty())
        return; // nothing coded yet
    std::copy(from.ref.begin(), from.ref.end(), m.ref_map.begin());
    std::copy(from.mv.begin(), from.mv.end(), m.mv_map.begin());
    if (run.moving_map.size() < from.moving.size())
        run.moving_map.resize(m.ref_map.size());
    std::copy(from.moving.begin(), from.moving.end(), run.moving_map.begin());
}

// Makes a field the picture being coded: half the frame's height, its own planes, the field store. The
// second field of an I frame is a P field that predicts from the first; only the first field of the
// run is an IDR picture. A field may refer to twice the frame's references in fields.
void EnterField(EncoderRun &run, int bottom, const FrameValues &frame)
{
    EncoderImage &img = run.img;
    img.field_picture = 1;
    img.field_pass = 1;
    img.bottom_field = bottom;
    img.height = run.org_frame.Height() / 2;
    img.height_cr = img.height / 2;
    run.org = bottom ? &run.org_bottom : &run.org_top;
    run.rec = bottom ? &run.rec_bottom : &run.rec_top;
    run.fmo.field_picture = true;
    run.refs.fb = &run.refs.fld;
    select_field_refs(run.refs);
    img.type = bottom && frame.type == kTypeI ? kTypeP : frame.type;
    img.idr_flag = bottom ? 0 : frame.idr_flag;
    // A B field's forward references follow the two fields of its backward frame.
    const int wanted = 2 * std::min(frame.num_ref_minus1 + 1, std::max(run.input.NumberReferenceFrames, 1));
    const int available = run.refs.fld.short_count - (img.type == kTypeB ? 2 : 0);
    img.num_ref_minus1 = std::max(std::min(wanted, available) - 1, 0);
    set_mref_arrays(run.refs);
    // Explicit weights belong to the field's own references and source.
    h264enc_estimate_weights(run);
    if (IsB(img))
        LoadColocated(run, run.colocated.field[bottom]);
}

void EnterFrame(EncoderRun &run, const FrameValues &frame)
{
    EncoderImage &img = run.img;
    img.field_picture = 0;
    img.field_pass = 0;
    img.bottom_field = 0;
    run.org = &run.org_frame;
    run.rec = &run.rec_frame;
    run.fmo.field_picture = false;
    run.refs.fb = &run.refs.frm;
    select_frame_refs(run.refs, img, run.org_frame.Height());
    img.height_cr = img.height / 2;
    img.type = frame.type;
    img.idr_flag = frame.idr_flag;
    img.num_ref_minus1 = frame.num_ref_minus1;
    set_mref_arrays(run.refs);
    h264enc_estimate_weights(run);
    if (IsB(img))
        LoadColocated(run, run.colocated.frame);
}

long long PictureBits(const Picture &pic)
{
    long long bits = 0;
    for (const std::unique_ptr<Slice> &s : pic.slices)
        for (const SlicePartition &p : s->partArr)
            bits += 8LL * p.bitstream.byte_count;
    return bits;
}

long long PictureSse(const PictureBuffers &org, const PictureBuffers &rec)
{
    return h264enc_plane_sse(org.y, rec.y) + h264enc_plane_sse(org.uv[0], rec.uv[0]) +
           h264enc_plane_sse(org.uv[1], rec.uv[1]);
}

// Takes the newest field out of the field store again when the field pair lost to the frame: its slot
// goes back to the end, unused. A store that was full has lost its oldest field to it; the frame's two
// fields would push that one out anyway.
void DropNewestField(ReferenceStore &s, int count_before)
{
    RefFrame &newest = *s.picbuf_short.front();
    newest.used = 0;
    newest.pic_num = -1;
    newest.pic_id = -1;
    std::rotate(s.picbuf_short.begin(), s.picbuf_short.begin() + 1, s.picbuf_short.end());
    s.short_count = std::min(count_before, s.short_slots - 1);
}

void WriteField(EncoderRun &run, Picture &pic, int bottom, const FrameValues &frame)
{
    run.img.idr_flag = bottom ? 0 : frame.idr_flag;
    h264enc_write_picture_nal_units(run, pic);
    run.img.idr_flag = frame.idr_flag;
}

} // namespace

void derive_fields_from_frame(ColocatedForms &forms)
{
    const ColocatedMotion &f = forms.frame;
    const int cols = f.cols, rows = f.rows / 2;
    auto at = [cols](int x, int y) {
        return static_cast<size_t>(y) * static_cast<size_t>(cols) + static_cast<size_t>(x);
    };
    for (ColocatedMotion &d : forms.field) {
        d.cols = cols;
        d.rows = rows;
        d.ref.assign(static_cast<size_t>(cols) * static_cast<size_t>(rows), -1);
        d.mv.assign(d.ref.size(), {0, 0});
        d.moving.assign(d.ref.size(), 0);
        for (int k = 0; k < rows; ++k)
            for (int x = 0; x < cols; ++x) {
                const std::array<int, 2> &v = f.mv[at(x, 2 * k)];
                d.mv[at(x, k)] = {v[0], v[1] / 2};
                d.moving[at(x, k)] = f.moving[at(x, 2 * k)] || f.moving[at(x, 2 * k + 1)] ? 1 : 0;
            }
        for (int k = 0; k + 1 < rows; k += 2)
            for (int c = 0; c + 1 < cols; c += 2) {
                const int v = f.ref[at(c, 2 * k)];
                const int r = v == -1 ? -1 : 2 * v;
                d.ref[at(c, k)] = d.ref[at(c + 1, k)] = d.ref[at(c, k + 1)] = d.ref[at(c + 1, k + 1)] = r;
            }
    }
}

void derive_frame_from_fields(ColocatedForms &forms)
{
    const ColocatedMotion &top = forms.field[0], &bottom = forms.field[1];
    ColocatedMotion &f = forms.frame;
    const int cols = top.cols, rows = 2 * top.rows;
    auto at = [cols](int x, int y) {
        return static_cast<size_t>(y) * static_cast<size_t>(cols) + static_cast<size_t>(x);
    };
    f.cols = cols;
    f.rows = rows;
    f.ref.assign(static_cast<size_t>(cols) * static_cast<size_t>(rows), -1);
    f.mv.assign(f.ref.size(), {0, 0});
    f.moving.assign(f.ref.size(), 0);
    for (int k = 0; k < top.rows; ++k)
        for (int x = 0; x < cols; ++x) {
            const std::array<int, 2> &v = top.mv[at(x, k)];
            const int moving = top.moving[at(x, k)] || bottom.moving[at(x, k)] ? 1 : 0;
            for (int row : {2 * k, 2 * k + 1}) {
                f.mv[at(x, row)] = {v[0], 2 * v[1]};
                f.moving[at(x, row)] = moving;
            }
        }
    for (int k = 0; k < top.rows; k += 2)
        for (int c = 0; c + 1 < cols; c += 2) {
            const int v = top.ref[at(c, k)];
            const int r = v == -1 ? -1 : v / 2;
            for (int row = 2 * k; row < std::min(2 * k + 4, rows); ++row)
                f.ref[at(c, row)] = f.ref[at(c + 1, row)] = r;
        }
}

void field_direct_distances(bool bottom, int co, long long dist, long long current_poc, long long ref_poc,
                            long long *trp, long long *trb)
{
    // Field indices alternate parity, the same parity first: index co lies co / 2 + 1 frames back (top)
    // or (co + 1) / 2 frames back (bottom), a field nearer or farther by one.
    if (!bottom)
        *trp = (co / 2 + 1) * dist - ((co + 1) % 2);
    else
        *trp = ((co + 1) / 2) * dist - (co % 2) + 1;
    *trb = *trp + current_poc - ref_poc - (bottom ? 1 : 0);
}

void split_fields(const PictureBuffers &frame, PictureBuffers &top, PictureBuffers &bottom)
{
    SplitPlane(frame.y, top.y, bottom.y);
    for (int c = 0; c < 2; ++c)
        SplitPlane(frame.uv[c], top.uv[c], bottom.uv[c]);
}

void merge_fields(const PictureBuffers &top, const PictureBuffers &bottom, PictureBuffers &frame)
{
    MergePlane(top.y, bottom.y, frame.y);
    for (int c = 0; c < 2; ++c)
        MergePlane(top.uv[c], bottom.uv[c], frame.uv[c]);
}

double frame_field_lambda(int qp, bool b_or_sp)
{
    return 0.85 * std::pow(2.0, (qp - 12) / 3.0) * (b_or_sp ? 4 : 1);
}

bool choose_fields(double lambda, long long frame_bits, long long frame_sse, long long field_bits,
                   long long field_sse)
{
    return lambda * static_cast<double>(frame_bits) + static_cast<double>(frame_sse) >=
           lambda * static_cast<double>(field_bits) + static_cast<double>(field_sse);
}

void h264enc_code_interlaced_picture(EncoderRun &run, MacroblockCoder &coder)
{
    EncoderImage &img = run.img;
    EnsureFieldBuffers(run);
    split_fields(run.org_frame, run.org_top, run.org_bottom);
    FrameValues frame;
    frame.type = img.type;
    frame.idr_flag = img.idr_flag;
    frame.num_ref_minus1 = img.num_ref_minus1;
    const bool reference = img.type != kTypeB;
    const bool adaptive = run.input.InterlaceCodingOption == 1;
    const EncoderStats statsBefore = run.stats;
    const CabacModelMemory modelsBefore = run.cabac_models;
    const int fieldsBefore = run.refs.fld.short_count;

    // The field pair; the top field is stored before the bottom field is coded, whose first reference
    // it is.
    ColocatedForms coded;
    const int fieldRows = run.org_frame.Height() / 8;
    EnterField(run, 0, frame);
    h264enc_code_picture(run, coder);
    if (reference) {
        h264enc_make_reference(run);
        CaptureMotion(img, fieldRows, coded.field[0]);
    }
    EnterField(run, 1, frame);
    h264enc_code_picture(run, coder);
    if (reference)
        CaptureMotion(img, fieldRows, coded.field[1]);
    bool fields = true;
    if (adaptive) {
        const long long fieldBits = PictureBits(run.top_pic) + PictureBits(run.bottom_pic);
        const long long fieldSse =
            PictureSse(run.org_top, run.rec_top) + PictureSse(run.org_bottom, run.rec_bottom);
        const EncoderStats fieldStats = run.stats;
        const CabacModelMemory fieldModels = run.cabac_models;
        const int fieldIntra = run.intra_mbs;
        // The frame starts from the state the fields found.
        run.stats = statsBefore;
        run.cabac_models = modelsBefore;
        run.intra_mbs = 0;
        EnterFrame(run, frame);
        h264enc_code_picture(run, coder);
        if (reference)
            CaptureMotion(img, 2 * fieldRows, coded.frame);
        const double lambda = frame_field_lambda(img.qp, IsB(img) || img.sp_mode == kSpMode);
        fields = choose_fields(lambda, PictureBits(run.frame_pic), PictureSse(run.org_frame, run.rec_frame),
                               fieldBits, fieldSse);
        if (fields) {
            run.stats = fieldStats;
            run.cabac_models = fieldModels;
            run.intra_mbs = fieldIntra;
        } else if (reference) {
            DropNewestField(run.refs.fld, fieldsBefore);
        }
        // Only the kept form's model choices survive (the other pass's stores went with its snapshot),
        // and they carry to the other form's row too: both passes of the next picture code the same
        // content against references made from this kept form, so what its slices learnt is the best
        // guess for either structure. Without the carry a form that keeps losing would start every
        // picture from a choice made pictures ago, or from model 0.
        cabac_copy_model_memory(run.cabac_models, fields ? 1 : 0);
    }
    if (reference) {
        // The next B pictures find this picture's motion in the form they take.
        if (fields) {
            run.colocated.field[0] = std::move(coded.field[0]);
            run.colocated.field[1] = std::move(coded.field[1]);
            derive_frame_from_fields(run.colocated);
        } else {
            run.colocated.frame = std::move(coded.frame);
            derive_fields_from_frame(run.colocated);
        }
    }
    if (fields) {
        if (reference) {
            EnterField(run, 1, frame);
            h264enc_make_reference(run);
        }
        merge_fields(run.rec_top, run.rec_bottom, run.rec_frame);
    }
    EnterFrame(run, frame);
    if (reference) {
        h264enc_make_reference(run);
        if (!fields) {
            // A frame enters the field store as its two fields, top first.
            split_fields(run.rec_frame, run.rec_top, run.rec_bottom);
            for (int bottom = 0; bottom < 2; ++bottom) {
                EnterField(run, bottom, frame);
                h264enc_make_reference(run);
            }
            EnterFrame(run, frame);
        }
    }
    if (fields) {
        WriteField(run, run.top_pic, 0, frame);
        WriteField(run, run.bottom_pic, 1, frame);
    } else {
        h264enc_write_picture_nal_units(run, run.frame_pic);
    }
    img.field_picture = fields ? 1 : 0;
}

} // namespace h264enc
