// The slice loop.
#include "h264dec/picture_decode.h"

#include "h264dec/fmo.h"
#include "h264dec/h264_shared.h"
#include "h264dec/inverse_transform.h"
#include "h264dec/macroblock.h"
#include "h264dec/reconstruct.h"

void dec_alloc_picture_planes(H264DecoderState &dec, int width, int height)
{
    auto alloc = [](DecodedPlanes &p, int w, int h) {
        if (p.y.Rows() != h || p.y.Cols() != w) {
            p.y.Reset(h, w);
            p.uv.Reset(2, h / 2, w / 2);
        }
    };
    alloc(dec.dec_picture_frame, width, height);
    alloc(dec.dec_picture_top, width, height / 2);
    alloc(dec.dec_picture_bottom, width, height / 2);
}

void dec_select_planes(H264DecoderState &dec, int structure)
{
    DecodedPlanes &p = structure == kTopField      ? dec.dec_picture_top
                       : structure == kBottomField ? dec.dec_picture_bottom
                                                   : dec.dec_picture_frame;
    dec.cur_pic_y = &p.y;
    dec.cur_pic_uv = &p.uv;
}

int h264dec_decode_slice(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    // Field macroblock pairs need the pair routines of the reconstruction, which are not built yet:
    // such a stream ends the run rather than decode to wrong samples.
    if (img.MbaffFrameFlag)
        h264_fatal_error("Macroblock-adaptive frame/field pictures cannot be reconstructed yet",
                         kH264StreamErrorCode);
    const int frameHeight = img.height;
    dec_alloc_macroblock_arrays(dec, img.width, frameHeight);
    dec_alloc_picture_planes(dec, img.width, frameHeight);
    dec_select_planes(dec, img.structure);
    if (img.structure != kFrame) {
        img.height /= 2;
        img.height_cr /= 2;
    }
    const int frameRefs = img.num_ref_idx_active_fwd;
    h264dec_fmo_init(dec, img.width / 16, img.height / 16, nullptr, 0);
    if (dec.slice.start_mb_nr == 0) {
        dec_start_picture_arrays(dec);
        img.current_slice_nr = 0;
    } else {
        ++img.current_slice_nr;
    }
    img.current_mb_nr = dec.slice.start_mb_nr * (img.MbaffFrameFlag ? 2 : 1);
    h264dec_start_slice_data(dec, dec.slice.partitions[0].bitstream->bit_offset);
    int count = 0;
    const int limit = img.width * img.height / 256 * (img.MbaffFrameFlag ? 2 : 1);
    auto restore = [&] {
        img.num_ref_idx_active_fwd = frameRefs;
        img.height = frameHeight;
        img.height_cr = frameHeight / 2;
    };
    try {
        for (;;) {
            h264dec_set_mb_index(dec);
            h264dec_start_macroblock(dec);
            h264dec_read_macroblock(dec);
            DecoderMacroblock &mb = h264dec_current_mb(dec);
            // The luma DC levels of a 16x16 intra macroblock are transformed before its blocks.
            if (mb.mb_type == kMbIntra16x16)
                h264dec_itrans_luma_dc(img);
            h264dec_reconstruct_macroblock(dec);
            ++count;
            const int eos = img.MbaffFrameFlag && img.current_mb_nr % 2 == 0 ? 0 : 1;
            const int end = h264dec_exit_macroblock(dec, eos);
            img.num_ref_idx_active_fwd = frameRefs;
            if (end || count > limit)
                break;
        }
    } catch (...) {
        restore();
        throw;
    }
    restore();
    return count;
}
