// The two codings of a macroblock pair of a macroblock-adaptive frame: the pair is decided as two frame
// macroblocks and again as two field macroblocks, and each macroblock's coding is kept aside, so that
// the cheaper pair can be put back for the writer with its samples, record, coefficients and maps.
#include "h264enc/enc_run.h"
#include "h264enc/rd_decision.h"

#include <algorithm>

namespace h264enc {

namespace {

bool IsB(const EncoderImage &img)
{
    return img.type == kTypeB || img.type == kTypeStoredB;
}

size_t MapAt(const EncoderImage &img, int k)
{
    return img.maps.At(4 * img.mb_x + k % 4, 4 * img.mb_y + k / 4);
}

// Calls f(row pointer, width) for the pair's luma rows, then its U and V rows, top to bottom.
template <class F> void ForPairRows(EncoderRun &run, F f)
{
    const EncoderImage &img = run.img;
    const int top = 32 * (img.mb_y / 2), x = 16 * img.mb_x;
    for (int y = top; y < top + 32; ++y)
        f(run.rec->y[y] + x, 16);
    for (int uv = 0; uv < 2; ++uv)
        for (int y = top / 2; y < top / 2 + 16; ++y)
            f(run.rec->uv[uv][y] + x / 2, 8);
}

bool CountsIntra(const EncoderImage &img, const MacroblockRecord &mb)
{
    const bool pPicture = img.type == kTypeP || img.type == kTypeStoredB;
    return pPicture && (mb.mb_mode == kModeI4 || mb.mb_mode == kModeI16);
}

} // namespace

void save_mbaff_pair_candidate(EncoderRun &run, int field)
{
    EncoderImage &img = run.img;
    const int lower = img.mb_y % 2;
    MbaffPairCandidate &c = run.rd.pair[field][lower];
    const MacroblockRecord &mb = img.CurrentMb();
    c.record = mb;
    c.cof = img.cof;
    for (int k = 0; k < 16; ++k)
        c.ipred[k] = img.intra_pred_modes[4 * img.mb_y + k / 4 + 1][4 * img.mb_x + k % 4 + 1];
    const MotionMaps &m = img.maps;
    for (int k = 0; k < 16; ++k) {
        const size_t at = MapAt(img, k);
        c.ref[k] = m.ref[at];
        c.mv[k] = m.mv[at];
        if (IsB(img)) {
            c.fw_ref[k] = m.fw_ref[at];
            c.bw_ref[k] = m.bw_ref[at];
            c.fw_mv[k] = m.fw_mv[at];
            c.bw_mv[k] = m.bw_mv[at];
        }
    }
    c.intra_counted = CountsIntra(img, mb) ? 1 : 0;
    // The first coding of the pair: the picture's count before it.
    if (field == 0 && !lower)
        run.rd.pair_intra_base = run.intra_mbs - c.intra_counted;
    if (run.input.RestrictRefFrames != 0 && !run.rd.refresh.empty()) {
        const int cols = img.width / 8;
        c.refreshed = run.rd.refresh[static_cast<size_t>(2 * img.mb_y) * static_cast<size_t>(cols) +
                                     static_cast<size_t>(2 * img.mb_x)];
    }
    if (lower) {
        c.samples.clear();
        ForPairRows(run, [&](const uint8_t *row, int n) { c.samples.insert(c.samples.end(), row, row + n); });
    }
}

void restore_mbaff_pair_candidate(EncoderRun &run, int field)
{
    EncoderImage &img = run.img;
    const int lower = img.mb_y % 2;
    const MbaffPairCandidate &c = run.rd.pair[field][lower];
    MacroblockRecord &mb = img.CurrentMb();
    mb = c.record;
    img.cof = c.cof;
    for (int k = 0; k < 16; ++k)
        img.intra_pred_modes[4 * img.mb_y + k / 4 + 1][4 * img.mb_x + k % 4 + 1] = c.ipred[k];
    MotionMaps &m = img.maps;
    for (int k = 0; k < 16; ++k) {
        const size_t at = MapAt(img, k);
        m.ref[at] = c.ref[k];
        m.mv[at] = c.mv[k];
        if (IsB(img)) {
            m.fw_ref[at] = c.fw_ref[k];
            m.bw_ref[at] = c.bw_ref[k];
            m.fw_mv[at] = c.fw_mv[k];
            m.bw_mv[at] = c.bw_mv[k];
        }
    }
    const MbaffPairCandidate &upper = run.rd.pair[field][0];
    run.intra_mbs = run.rd.pair_intra_base + upper.intra_counted + (lower ? c.intra_counted : 0);
    if (run.input.RestrictRefFrames != 0)
        set_refresh_flags(run, c.refreshed);
    if (!lower) {
        // The pair's samples are those of the coding chosen.
        const MbaffPairCandidate &low = run.rd.pair[field][1];
        size_t at = 0;
        ForPairRows(run, [&](uint8_t *row, int n) {
            if (at + static_cast<size_t>(n) <= low.samples.size())
                std::copy(low.samples.begin() + static_cast<std::ptrdiff_t>(at),
                          low.samples.begin() + static_cast<std::ptrdiff_t>(at) + n, row);
            at += static_cast<size_t>(n);
        });
    }
}

} // namespace h264enc
