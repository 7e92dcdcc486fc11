// Field references of macroblock-adaptive frames (see the header).
#include "h264enc/mbaff_picture.h"

#include "h264enc/enc_run.h"
#include "h264enc/field_coding.h"
#include "h264enc/frame_store.h"
#include "h264enc/picture_coding.h"

#include <algorithm>
#include <cstdlib>

namespace h264enc {

namespace {

// One co-located form into the P-list maps and moving-block map a macroblock of that form reads.
void LoadForm(const ColocatedMotion &from, MotionMaps &maps, std::vector<int> &moving)
{
    if (from.cols != maps.cols || from.ref.size() > maps.ref_map.size())
        return; // nothing coded yet
    std::copy(from.ref.begin(), from.ref.end(), maps.ref_map.begin());
    std::copy(from.mv.begin(), from.mv.end(), maps.mv_map.begin());
    moving = from.moving;
}

} // namespace

void mbaff_begin_picture(EncoderRun &run)
{
    EncoderImage &img = run.img;
    set_mbaff_field_refs(run.refs);
    if (!IsB(img))
        return;
    for (int p = 0; p < 2; ++p) {
        MotionMaps &m = img.field_maps[p];
        if (m.cols != img.width / 4 || m.rows != img.height / 8)
            m.allocate(img.width / 4, img.height / 8);
        std::fill(m.fw_ref_map.begin(), m.fw_ref_map.end(), -1);
        std::fill(m.bw_ref_map.begin(), m.bw_ref_map.end(), -1);
        std::fill(m.fw_mv_map.begin(), m.fw_mv_map.end(), std::array<int, 2>{0, 0});
        std::fill(m.bw_mv_map.begin(), m.bw_mv_map.end(), std::array<int, 2>{0, 0});
        LoadForm(run.colocated.field[p], m, run.rd.mbaff.moving[p]);
    }
    LoadForm(run.colocated.frame, img.maps, run.moving_map);
}

void mbaff_keep_colocated(EncoderRun &run)
{
    // A stored B picture leaves its forward motion.
    const MotionMaps &m = run.img.maps;
    const bool storedB = run.img.type == kTypeStoredB;
    ColocatedMotion &f = run.colocated.frame;
    f.cols = m.cols;
    f.rows = m.rows;
    f.ref = storedB ? m.fw_ref_map : m.ref_map;
    f.mv = storedB ? m.fw_mv_map : m.mv_map;
    f.moving.assign(f.ref.size(), 0);
    for (size_t i = 0; i < f.ref.size(); ++i)
        f.moving[i] = f.ref[i] != 0 || std::abs(f.mv[i][0]) > 1 || std::abs(f.mv[i][1]) > 1 ? 1 : 0;
    derive_fields_from_frame(run.colocated);
}

void mbaff_store_fields(EncoderRun &run)
{
    EncoderImage &img = run.img;
    const int w = run.rec_frame.Width(), h = run.rec_frame.Height() / 2;
    for (PictureBuffers *p : {&run.rec_top, &run.rec_bottom})
        if (p->Width() != w || p->Height() != h)
            p->allocate(w, h, "init_field_buffers: field planes");
    split_fields(run.rec_frame, run.rec_top, run.rec_bottom);
    const int frameHeight = img.height;
    FrameStores &fs = run.refs;
    for (PictureBuffers *field : {&run.rec_top, &run.rec_bottom}) {
        fs.fb = &fs.fld;
        select_field_refs(fs);
        img.height = h;
        run.rec = field;
        h264enc_make_reference(run);
    }
    run.rec = &run.rec_frame;
    fs.fb = &fs.frm;
    select_frame_refs(fs, img, frameHeight);
    set_mref_arrays(fs);
}

} // namespace h264enc
