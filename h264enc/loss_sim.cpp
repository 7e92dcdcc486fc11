// Simulated receivers, macroblock by macroblock: the quarter-sample fetch from a receiver's own
// pictures, the residual of a coded candidate, its decoding in every receiver and the expected
// distortion the rate-distortion decision weighs. A receiver adds the encoder's residual to its own
// prediction, so while it has lost nothing it reconstructs exactly what the encoder did.
#include "h264enc/loss_sim.h"

#include "h264dec/dec_memory.h"
#include "h264dec/luma_interp.h"
#include "h264enc/enc_run.h"
#include "h264enc/enc_weights.h"
#include "h264enc/frame_store.h"
#include "h264enc/mb_predict.h"

#include <algorithm>

namespace h264enc {

struct ReceiverReferences
{
    std::vector<std::vector<::Array2D<uint8_t>>> pictures; // [receiver][k], newest first
};

LossSimState::LossSimState() : rings(std::make_unique<ReceiverReferences>()) {}
LossSimState::~LossSimState() = default;
LossSimState::LossSimState(LossSimState &&) noexcept = default;
LossSimState &LossSimState::operator=(LossSimState &&) noexcept = default;

namespace {

constexpr const char *kAllocText = "init_global_buffers: decref";

bool IsIntraMode(int mode)
{
    return mode == kModeI4 || mode == kModeI16 || mode == kModeSI4;
}

int Clip255(int v)
{
    return std::clamp(v, 0, 255);
}

// The receiver reference a stored picture of the encoder is: its place in the frame store, newest first.
int SlotOf(const EncoderRun &run, const RefFrame *f)
{
    const auto &store = run.refs.frm.picbuf_short;
    for (size_t i = 0; i < store.size(); ++i)
        if (store[i].get() == f)
            return static_cast<int>(i);
    return -1;
}

LossBlockSource ToReceiverSource(const EncoderRun &run, const BlockSource &b)
{
    LossBlockSource s;
    for (int l = 0; l < 2; ++l) {
        if (!b.use[l])
            continue;
        s.use[l] = 1;
        s.slot[l] = static_cast<int8_t>(SlotOf(run, b.frame[l]));
        s.ref[l] = static_cast<int8_t>(b.ref[l]);
        s.mv[l][0] = b.mv[l][0];
        s.mv[l][1] = b.mv[l][1];
    }
    return s;
}

// The encoder's own prediction of a 4x4 block at picture position (px, py), [y][x].
void EncoderPrediction(const EncoderRun &run, const BlockSource &b, int px, int py, int out[4][4])
{
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            int p[2] = {0, 0};
            for (int l = 0; l < 2; ++l)
                if (b.use[l])
                    p[l] = luma_sample(*b.frame[l], 4 * (py + y) + b.mv[l][1], 4 * (px + x) + b.mv[l][0]);
            out[y][x] = combine_prediction(run.img, b, p, 0);
        }
}

// Quarter q of the current macroblock into receiver d's current picture. A block whose reference the
// receiver does not hold (none that the encoder could name) takes the encoder's reconstruction.
void DecodeQuarter(EncoderRun &run, int d, int q, bool intra, int fw_mode, int bw_mode, int fw_ref,
                   int bw_ref)
{
    EncoderImage &img = run.img;
    LossSimState &st = run.losssim;
    Array2D<uint8_t> &to = st.current[static_cast<size_t>(d)];
    const Array2D<uint8_t> &rec = run.rec->y;
    const int mx = img.luma_x(), my = img.luma_y();
    const int x0 = 8 * (q % 2), y0 = 8 * (q / 2);
    for (int by = y0; by < y0 + 8; by += 4)
        for (int bx = x0; bx < x0 + 8; bx += 4) {
            int pred[4][4];
            const bool inter = !intra && losssim_predict_block(
                                             run, d,
                                             ToReceiverSource(run, block_source(run, bx / 4, by / 4, fw_mode,
                                                                                bw_mode, fw_ref, bw_ref)),
                                             mx + bx, my + by, pred);
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x)
                    to[my + by + y][mx + bx + x] =
                        static_cast<uint8_t>(inter ? Clip255(pred[y][x] + st.residual[by + y][bx + x])
                                                   : rec[my + by + y][mx + bx + x]);
        }
}

bool MacroblockIsIntra(const EncoderRun &run)
{
    return run.img.type == kTypeI ||
           IsIntraMode(run.img.mb_data[static_cast<size_t>(run.img.mb_index)].mb_mode);
}

// Residual of quarter q: reconstruction minus the encoder's inter prediction with the given modes.
void QuarterResidual(EncoderRun &run, int q, int fw_mode, int bw_mode, int fw_ref, int bw_ref)
{
    EncoderImage &img = run.img;
    LossSimState &st = run.losssim;
    const Array2D<uint8_t> &rec = run.rec->y;
    const int mx = img.luma_x(), my = img.luma_y();
    const int x0 = 8 * (q % 2), y0 = 8 * (q / 2);
    for (int by = y0; by < y0 + 8; by += 4)
        for (int bx = x0; bx < x0 + 8; bx += 4) {
            int pred[4][4];
            EncoderPrediction(run, block_source(run, bx / 4, by / 4, fw_mode, bw_mode, fw_ref, bw_ref),
                              mx + bx, my + by, pred);
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x)
                    st.residual[by + y][bx + x] = rec[my + by + y][mx + bx + x] - pred[y][x];
        }
}

// Squared error against the source over a region of the current macroblock, averaged over receivers.
double AverageError(const EncoderRun &run, int x0, int y0, int size)
{
    const LossSimState &st = run.losssim;
    const Array2D<uint8_t> &org = run.org->y;
    const int mx = run.img.luma_x() + x0, my = run.img.luma_y() + y0;
    long long sum = 0;
    for (const Array2D<uint8_t> &pic : st.current)
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const int e = org[my + y][mx + x] - pic[my + y][mx + x];
                sum += e * e;
            }
    return static_cast<double>(sum) / st.decoders;
}

double OwnError(const EncoderRun &run, int x0, int y0, int size)
{
    const int mx = run.img.luma_x() + x0, my = run.img.luma_y() + y0;
    long long sum = 0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const int e = run.org->y[my + y][mx + x] - run.rec->y[my + y][mx + x];
            sum += e * e;
        }
    return static_cast<double>(sum);
}

} // namespace

bool losssim_simulated(const EncoderRun &run)
{
    const LossSimState &st = run.losssim;
    return st.allocated() && !run.img.field_picture && !run.img.mbaff && run.rec_frame.Width() == st.width &&
           run.rec_frame.Height() == st.height;
}

bool losssim_predict_block(const EncoderRun &run, int d, const LossBlockSource &s, int px, int py,
                           int out[4][4])
{
    const LossSimState &st = run.losssim;
    int p[2][4][4] = {};
    BlockSource b;
    for (int l = 0; l < 2; ++l) {
        if (!s.use[l])
            continue;
        if (s.slot[l] < 0 || s.slot[l] >= st.stored)
            return false;
        b.use[l] = true;
        b.ref[l] = s.ref[l];
        h264enc_losssim_fetch(st, d, s.slot[l], 4 * py + s.mv[l][1], 4 * px + s.mv[l][0], p[l]);
    }
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const int v[2] = {p[0][y][x], p[1][y][x]};
            out[y][x] = combine_prediction(run.img, b, v, 0);
        }
    return true;
}

void h264enc_losssim_init(LossSimState &s, const EncoderParams &input, const EncoderImage &img)
{
    s = LossSimState();
    if (input.NumberOfDecoders < 1)
        return;
    const int n = input.NumberOfDecoders;
    s.width = img.width;
    s.height = img.height;
    s.ring_size = img.max_ref + 1;
    if (CheckedBytes(static_cast<long long>(n) * (s.ring_size + 2),
                     static_cast<long long>(img.width) * img.height, 1) < 0)
        out_of_memory_exit(kAllocText);
    try {
        s.current.resize(static_cast<size_t>(n));
        s.best.resize(static_cast<size_t>(n));
        s.rings->pictures.resize(static_cast<size_t>(n));
        s.sources.assign(static_cast<size_t>(img.mb_count) * 16, LossBlockSource());
    } catch (const std::bad_alloc &) {
        out_of_memory_exit(kAllocText);
    }
    for (int d = 0; d < n; ++d) {
        s.current[static_cast<size_t>(d)].allocate(img.height, img.width, kAllocText);
        s.best[static_cast<size_t>(d)].allocate(img.height, img.width, kAllocText);
        std::vector<::Array2D<uint8_t>> &ring = s.rings->pictures[static_cast<size_t>(d)];
        try {
            ring.resize(static_cast<size_t>(s.ring_size));
            for (::Array2D<uint8_t> &pic : ring)
                pic.Reset(img.height, img.width);
        } catch (const std::bad_alloc &) {
            out_of_memory_exit(kAllocText);
        }
    }
    s.loss.allocate(img.height / 16, img.width / 16, kAllocText);
    s.modes.allocate(img.height / 16, img.width / 16, kAllocText);
    s.decoders = n;
}

void h264enc_losssim_free(LossSimState &s)
{
    s = LossSimState();
}

void h264enc_losssim_fetch(const LossSimState &s, int d, int k, int y4, int x4, int out[4][4])
{
    const ::Array2D<uint8_t> &pic = s.rings->pictures[static_cast<size_t>(d)][static_cast<size_t>(k)];
    const LumaPlaneView view{&pic, s.width, s.height - 1};
    int block[4][4]; // [x][y]
    h264dec_luma_block_fast(view, x4, y4, block);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            out[y][x] = block[x][y];
}

const uint8_t *losssim_reference(const LossSimState &s, int d, int k)
{
    return s.rings->pictures[static_cast<size_t>(d)][static_cast<size_t>(k)].Data();
}

uint8_t *losssim_reference(LossSimState &s, int d, int k)
{
    return s.rings->pictures[static_cast<size_t>(d)][static_cast<size_t>(k)].Data();
}

void losssim_store_reference(LossSimState &s, int d, const Array2D<uint8_t> &picture)
{
    std::vector<::Array2D<uint8_t>> &ring = s.rings->pictures[static_cast<size_t>(d)];
    std::rotate(ring.rbegin(), ring.rbegin() + 1, ring.rend());
    if (picture.rows() == s.height && picture.cols() == s.width)
        std::copy(picture.data(), picture.data() + static_cast<size_t>(s.width) * s.height, ring[0].Data());
}

void h264enc_losssim_residual(EncoderRun &run, int i16_mode)
{
    LossSimState &st = run.losssim;
    if (i16_mode >= 0) {
        const int mx = run.img.luma_x(), my = run.img.luma_y();
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                st.residual[y][x] =
                    run.rec->y[my + y][mx + x] - run.mbw.luma16_intra_preds[i16_mode & 3][x][y];
        return;
    }
    if (MacroblockIsIntra(run)) {
        for (auto &row : st.residual)
            std::fill(std::begin(row), std::end(row), 0);
        return;
    }
    for (int q = 0; q < 4; ++q) {
        int fw_mode, bw_mode, fw_ref, bw_ref;
        quarter_modes_and_refs(run, q, &fw_mode, &bw_mode, &fw_ref, &bw_ref);
        QuarterResidual(run, q, fw_mode, bw_mode, fw_ref, bw_ref);
    }
}

void h264enc_losssim_decode_block(EncoderRun &run, int d, int q, int fw_mode, int bw_mode, int fw_ref,
                                  int bw_ref)
{
    DecodeQuarter(run, d, q, MacroblockIsIntra(run), fw_mode, bw_mode, fw_ref, bw_ref);
}

void h264enc_losssim_decode_mb(EncoderRun &run, int d)
{
    const bool intra = MacroblockIsIntra(run);
    for (int q = 0; q < 4; ++q) {
        int fw_mode = 0, bw_mode = 0, fw_ref = 0, bw_ref = 0;
        if (!intra)
            quarter_modes_and_refs(run, q, &fw_mode, &bw_mode, &fw_ref, &bw_ref);
        DecodeQuarter(run, d, q, intra, fw_mode, bw_mode, fw_ref, bw_ref);
    }
}

double losssim_expected_distortion(EncoderRun &run)
{
    if (!losssim_simulated(run))
        return OwnError(run, 0, 0, 16);
    h264enc_losssim_residual(run, -1);
    for (int d = 0; d < run.losssim.decoders; ++d)
        h264enc_losssim_decode_mb(run, d);
    return AverageError(run, 0, 0, 16);
}

double losssim_expected_quarter_distortion(EncoderRun &run, int q, int fw_mode, int bw_mode, int fw_ref,
                                           int bw_ref)
{
    const int x0 = 8 * (q % 2), y0 = 8 * (q / 2);
    if (!losssim_simulated(run))
        return OwnError(run, x0, y0, 8);
    QuarterResidual(run, q, fw_mode, bw_mode, fw_ref, bw_ref);
    for (int d = 0; d < run.losssim.decoders; ++d)
        DecodeQuarter(run, d, q, false, fw_mode, bw_mode, fw_ref, bw_ref);
    return AverageError(run, x0, y0, 8);
}

void losssim_finish_macroblock(EncoderRun &run)
{
    if (!losssim_simulated(run))
        return;
    EncoderImage &img = run.img;
    LossSimState &st = run.losssim;
    h264enc_losssim_residual(run, -1);
    const int mx = img.luma_x(), my = img.luma_y();
    for (int d = 0; d < st.decoders; ++d) {
        h264enc_losssim_decode_mb(run, d);
        const Array2D<uint8_t> &from = st.current[static_cast<size_t>(d)];
        Array2D<uint8_t> &to = st.best[static_cast<size_t>(d)];
        for (int y = my; y < my + 16; ++y)
            std::copy(from[y] + mx, from[y] + mx + 16, to[y] + mx);
    }
    if (img.type == kTypeB)
        return;
    const MacroblockRecord &mb = img.CurrentMb();
    st.modes[img.mb_y][img.mb_x] = static_cast<uint8_t>(mb.mb_mode);
    const bool intra = MacroblockIsIntra(run);
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            LossBlockSource &s =
                st.sources[static_cast<size_t>((4 * img.mb_y + j) * (st.width / 4) + 4 * img.mb_x + i)];
            s = LossBlockSource();
            if (intra)
                continue;
            const int q = 2 * (j / 2) + i / 2;
            int fw_mode, bw_mode, fw_ref, bw_ref;
            quarter_modes_and_refs(run, q, &fw_mode, &bw_mode, &fw_ref, &bw_ref);
            s = ToReceiverSource(run, block_source(run, i, j, fw_mode, bw_mode, fw_ref, bw_ref));
        }
}

} // namespace h264enc
