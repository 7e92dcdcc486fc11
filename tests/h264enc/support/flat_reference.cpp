// A P macroblock over one flat reference frame, for the worked cost examples of the motion search and
// the mode decision.
#include "h264enc/support/flat_reference.h"

#include "h264enc/frame_store.h"
#include "h264enc/mode_decision.h"
#include "h264enc/motion_search.h"
#include "h264enc/quarter_plane.h"
#include "h264enc/slice_coder.h"

#include <algorithm>

namespace enctest {

using namespace h264enc;

void PrepareFlatReferenceMacroblock(EncoderRun &run)
{
    init_frame_buffers(run.refs, run.input, run.img);
    add_short_term_frame(run.refs, 0, 0);
    set_mref_arrays(run.refs);
    run.img.refs_in_use = 1;
    MacroblockMotion &mo = run.motion;
    mo.refs = run.img.max_ref + 2;
    mo.search_mv.assign(static_cast<size_t>(mo.refs) * 8, BlockVectors{});
    mo.predicted_mv.assign(static_cast<size_t>(mo.refs) * 8, BlockVectors{});
    mo.partition_costs.assign(static_cast<size_t>(8 * (mo.refs + 1) * 4), 0);
    run.moving_map.assign(run.img.maps.ref_map.size(), 1);
    run.interp_work.allocate(32 + 8, 2 * 32 + 16, "test");
    Init_Motion_Search_Module(run);
    RefFrame &ref = *run.refs.frm.picbuf_short.front();
    Array2D<uint8_t> luma;
    luma.allocate(32, 32, "test");
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            luma[y][x] = run.org->y[y][x] = 100;
    interpolate_quarter_plane(luma, run.interp_work, ref.mref);
    std::fill(ref.Refbuf11.begin(), ref.Refbuf11.end(), 100);
    for (int uv = 0; uv < 2; ++uv)
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                ref.mcef[uv][y][x] = run.org->uv[uv][y][x] = 128;
    reset_fast_integer_search(run);
    begin_macroblock(run);
}

} // namespace enctest
