// Simulated receivers, picture by picture: each receiver's picture is deblocked like the encoder's,
// then the receiver draws which slices (or macroblocks) it lost, conceals them and keeps the picture as
// its newest reference. Concealment follows what the data partitions carried: a lost partition A loses
// the macroblock (copied from the previous picture, or mid-grey in an I picture), a lost partition B
// the intra macroblocks, a lost partition C the inter residual (predicted from the vectors alone).
#include "h264enc/enc_deblock.h"
#include "h264enc/enc_run.h"
#include "h264enc/frame_store.h"
#include "h264enc/loss_sim.h"
#include "platform/random.h"

#include <algorithm>

namespace h264enc {

namespace {

constexpr uint8_t kLostIntraGrey = 127;

// One draw of the program's generator as a percentage, compared with a loss rate.
bool Lost(int rate)
{
    return rate > zn::Rand() * 100.0 / zn::kRandMax;
}

void FillMacroblock(Array2D<uint8_t> &pic, int mb_x, int mb_y, uint8_t v)
{
    for (int y = 16 * mb_y; y < 16 * mb_y + 16; ++y)
        std::fill(pic[y] + 16 * mb_x, pic[y] + 16 * mb_x + 16, v);
}

// From the previous picture (row by row, pic's width).
void CopyMacroblock(Array2D<uint8_t> &pic, const uint8_t *prev, int mb_x, int mb_y)
{
    for (int y = 16 * mb_y; y < 16 * mb_y + 16; ++y) {
        const uint8_t *row = prev + static_cast<size_t>(y) * static_cast<size_t>(pic.cols());
        std::copy(row + 16 * mb_x, row + 16 * mb_x + 16, pic[y] + 16 * mb_x);
    }
}

// Inter prediction from the kept vectors, without residual; a block whose reference the receiver does
// not hold is copied from the previous picture.
void PredictWithoutResidual(const EncoderRun &run, int d, Array2D<uint8_t> &pic, const uint8_t *prev,
                            int mb_x, int mb_y)
{
    const LossSimState &st = run.losssim;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            const int bx = 4 * (4 * mb_x + i), by = 4 * (4 * mb_y + j);
            const LossBlockSource &s =
                st.sources[static_cast<size_t>((4 * mb_y + j) * (st.width / 4) + 4 * mb_x + i)];
            int pred[4][4];
            const bool ok = losssim_predict_block(run, d, s, bx, by, pred);
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x)
                    pic[by + y][bx + x] = static_cast<uint8_t>(
                        ok ? pred[y][x]
                           : prev[static_cast<size_t>(by + y) * static_cast<size_t>(st.width) + bx + x]);
        }
}

} // namespace

void h264enc_losssim_deblock(EncoderRun &run)
{
    if (!losssim_simulated(run))
        return;
    for (Array2D<uint8_t> &pic : run.losssim.best)
        deblock_picture(run.img, pic, nullptr);
}

void h264enc_losssim_draw_losses(EncoderRun &run)
{
    const EncoderParams &in = run.input;
    const EncoderImage &img = run.img;
    LossSimState &st = run.losssim;
    const int w = st.width / 16, h = st.height / 16;
    int slices = 0;
    for (const MacroblockRecord &mb : img.mb_data)
        slices = std::max(slices, mb.slice_index + 1);
    std::vector<int> sliceStatus(static_cast<size_t>(slices), -1);
    for (int n = 0; n < w * h; ++n) {
        const int slice =
            n < static_cast<int>(img.mb_data.size()) ? img.mb_data[static_cast<size_t>(n)].slice_index : -1;
        int *kept = slice >= 0 && slice < slices ? &sliceStatus[static_cast<size_t>(slice)] : nullptr;
        int status;
        if (in.SliceMode == 0 || !kept || *kept < 0) {
            const bool lostC = Lost(in.LossRateC); // the draws in this order: C, B, A
            const bool lostB = Lost(in.LossRateB);
            const bool lostA = Lost(in.LossRateA);
            status = lostA ? kLossAll : 2 * lostB + 3 * lostC;
            if (in.PartitionMode == 0 && status != kLossNone)
                status = kLossAll; // one partition: any loss loses the slice
            if (kept)
                *kept = status;
        } else {
            status = *kept;
        }
        st.loss[n / w][n % w] = static_cast<uint8_t>(status);
    }
}

void h264enc_losssim_conceal(EncoderRun &run, int d)
{
    const EncoderImage &img = run.img;
    LossSimState &st = run.losssim;
    Array2D<uint8_t> &pic = st.best[static_cast<size_t>(d)];
    const uint8_t *prev = st.stored > 0 ? losssim_reference(st, d, 0) : nullptr;
    const bool pSkipPicture = img.type == kTypeP || img.type == kTypeSP;
    for (int mb_y = 0; mb_y < st.height / 16; ++mb_y)
        for (int mb_x = 0; mb_x < st.width / 16; ++mb_x) {
            const int status = st.loss[mb_y][mb_x];
            if (status == kLossNone)
                continue;
            if (img.type == kTypeI) {
                // Nothing to copy from in an intra picture: a lost macroblock becomes mid-grey, unless
                // only the inter residual (which it has none of) was lost.
                if (status != kLossPartC)
                    FillMacroblock(pic, mb_x, mb_y, kLostIntraGrey);
                continue;
            }
            const int mode = st.modes[mb_y][mb_x];
            const bool intra = mode == kModeI4 || mode == kModeI16 || mode == kModeSI4;
            // A P skip macroblock lives in partition A alone: it is lost only with the whole slice.
            const bool skip = mode == kModeSkip && pSkipPicture;
            const bool inter = !intra && !skip;
            const bool copy =
                status == kLossAll || (intra && (status == kLossPartB || status == kLossPartBC));
            const bool predict = inter && (status == kLossPartC || status == kLossPartBC);
            if (copy && prev)
                CopyMacroblock(pic, prev, mb_x, mb_y);
            else if (predict && prev)
                PredictWithoutResidual(run, d, pic, prev, mb_x, mb_y);
        }
}

void h264enc_losssim_update(EncoderRun &run)
{
    LossSimState &st = run.losssim;
    if (!st.allocated() || run.img.type == kTypeB)
        return;
    const bool simulated = losssim_simulated(run);
    for (int d = 0; d < st.decoders; ++d) {
        if (simulated) {
            h264enc_losssim_draw_losses(run);
            h264enc_losssim_conceal(run, d);
        }
        losssim_store_reference(st, d, simulated ? st.best[static_cast<size_t>(d)] : run.rec_frame.y);
    }
    st.stored = std::min(st.stored + 1, st.ring_size);
}

void losssim_end_picture(EncoderRun &run)
{
    LossSimState &st = run.losssim;
    const auto &store = run.refs.frm.picbuf_short;
    if (!st.allocated() || store.empty() || !store.front()->used)
        return;
    const RefFrame &front = *store.front();
    if (&front == st.newest && front.pic_num == st.newest_pic_num && front.pic_id == st.newest_pic_id)
        return; // not a reference picture: the receivers keep what they have
    st.newest = &front;
    st.newest_pic_num = front.pic_num;
    st.newest_pic_id = front.pic_id;
    h264enc_losssim_deblock(run);
    h264enc_losssim_update(run);
}

} // namespace h264enc
