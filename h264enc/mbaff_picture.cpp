// Field references of macroblock-adaptive frames (see the header).
#include "h264enc/mbaff_picture.h"

#include "h264enc/enc_run.h"
#include "h264enc/field_coding.h"
#include "h264enc/frame_store.h"
#include "h264enc/picture_coding.h"

namespace h264enc {

void mbaff_begin_picture(EncoderRun &run)
{
    set_mbaff_field_refs(run.refs);
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
