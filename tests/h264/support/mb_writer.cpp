// Test-side macroblock data writers and the slice walk (see the header).
#include "h264/support/mb_writer.h"

#include "h264dec/fmo.h"
#include "h264dec/macroblock.h"
#include "h264dec/nal_dispatch.h"
#include "platform/messages.h"

#include <algorithm>
#include <cstdlib>

namespace h264test {

namespace {

void WriteLevel(BitWriter &w, int level, int vlc)
{
    const int magnitude = std::abs(level);
    if (vlc == 0) {
        if (magnitude <= 7) {
            const int z = 2 * (magnitude - 1) + (level < 0 ? 1 : 0);
            w.u(z + 1, 1);
        } else if (magnitude <= 15) {
            w.u(15, 1);
            w.u(4, static_cast<uint32_t>(((magnitude - 8) << 1) | (level > 0 ? 1 : 0)));
        } else {
            w.u(16, 1);
            w.u(12, static_cast<uint32_t>(((magnitude - 16) << 1) | (level > 0 ? 1 : 0)));
        }
        return;
    }
    const int m = magnitude - 1;
    const int z = m >> (vlc - 1);
    if (z < 15) {
        w.u(z + 1, 1);
        if (vlc > 1)
            w.u(vlc - 1, static_cast<uint32_t>(m & ((1 << (vlc - 1)) - 1)));
    } else {
        w.u(16, 1);
        w.u(11, static_cast<uint32_t>(magnitude - (15 << (vlc - 1)) - 1));
    }
    w.u(1, level < 0 ? 1 : 0);
}

} // namespace

int WriteCavlcBlock(BitWriter &w, const int *coeffs, int max_coeff, int nc)
{
    std::vector<int> levels, pos; // from the highest position down
    for (int k = max_coeff - 1; k >= 0; --k)
        if (coeffs[k] != 0) {
            levels.push_back(coeffs[k]);
            pos.push_back(k);
        }
    const int total = static_cast<int>(levels.size());
    int t1 = 0;
    while (t1 < total && t1 < 3 && std::abs(levels[static_cast<size_t>(t1)]) == 1)
        ++t1;
    if (nc < 0) {
        w.u(kCoeffTokenChromaDcLength[t1][total], kCoeffTokenChromaDcCode[t1][total]);
    } else if (nc >= 8) {
        w.u(6, total == 0 ? 3u : static_cast<uint32_t>(((total - 1) << 2) | t1));
    } else {
        const int tab = nc < 2 ? 0 : nc < 4 ? 1 : 2;
        w.u(kCoeffTokenLength[tab][t1][total], kCoeffTokenCode[tab][t1][total]);
    }
    if (total == 0)
        return 0;
    for (int t = 0; t < t1; ++t)
        w.u(1, levels[static_cast<size_t>(t)] < 0 ? 1 : 0);
    int vlc = total > 10 && t1 < 3 ? 1 : 0;
    static const int kThreshold[7] = {0, 3, 6, 12, 24, 48, 32768};
    for (int k = t1; k < total; ++k) {
        const bool first = k == t1;
        int level = levels[static_cast<size_t>(k)];
        int coded = level;
        if (first && t1 < 3)
            coded += level > 0 ? -1 : 1;
        WriteLevel(w, coded, vlc);
        const int magnitude = std::abs(level);
        if (magnitude > kThreshold[vlc] && vlc < 6)
            ++vlc;
        if (first && magnitude > 3)
            vlc = 2;
    }
    const int totalZeros = pos[0] + 1 - total;
    if (total < max_coeff) {
        if (nc < 0)
            w.u(kTotalZerosChromaDcLength[total - 1][totalZeros],
                kTotalZerosChromaDcCode[total - 1][totalZeros]);
        else
            w.u(kTotalZerosLength[total - 1][totalZeros], kTotalZerosCode[total - 1][totalZeros]);
    }
    int zerosLeft = totalZeros;
    for (int k = 0; k < total - 1 && zerosLeft > 0; ++k) {
        const int run = pos[static_cast<size_t>(k)] - pos[static_cast<size_t>(k + 1)] - 1;
        const int row = std::min(zerosLeft, 7) - 1;
        w.u(kRunBeforeLength[row][run], kRunBeforeCode[row][run]);
        zerosLeft -= run;
    }
    return total;
}

int ReadSliceMacroblocks(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    const int frameHeight = img.height;
    dec_alloc_macroblock_arrays(dec, img.width, frameHeight);
    if (img.structure != kFrame) {
        img.height /= 2;
        img.height_cr /= 2;
    }
    const int frameRefs = img.num_ref_idx_active_fwd;
    // One slice group; field pictures and MBAFF pairs count their macroblocks in the same map size.
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
    const int limit = img.width * img.height / 256;
    try {
        for (;;) {
            h264dec_set_mb_index(dec);
            h264dec_start_macroblock(dec);
            h264dec_read_macroblock(dec);
            ++count;
            const int eos = img.MbaffFrameFlag && img.current_mb_nr % 2 == 0 ? 0 : 1;
            const int end = h264dec_exit_macroblock(dec, eos);
            img.num_ref_idx_active_fwd = frameRefs;
            if (end || count > limit)
                break;
        }
    } catch (...) {
        img.num_ref_idx_active_fwd = frameRefs;
        img.height = frameHeight;
        img.height_cr = frameHeight / 2;
        throw;
    }
    img.height = frameHeight;
    img.height_cr = frameHeight / 2;
    return count;
}

SliceWalkResult WalkSlices(H264DecoderState &dec, const SliceWalkOptions &options)
{
    SliceWalkResult result;
    NaluPtr nalu = dec_AllocNALU(1 << 16);
    while (h264dec_next_slice_unit(dec, nalu.get())) {
        h264dec_read_slice_unit(dec, *nalu);
        ++result.slices;
        if (dec.img.width * dec.img.height / 256 > options.max_mbs)
            continue;
        result.macroblocks += ReadSliceMacroblocks(dec);
    }
    return result;
}

void CabacSliceData::Bits(CabacContext &c, int value, int n)
{
    for (int k = n - 1; k >= 0; --k)
        Bin(c, (value >> k) & 1);
}

void CabacSliceData::ExpGolomb(int value, int k)
{
    while (value >= (1 << k)) {
        Bypass(1);
        value -= 1 << k;
        ++k;
    }
    Bypass(0);
    while (k--)
        Bypass((value >> k) & 1);
}

StreamBuilder::StreamBuilder(int width_mbs, int height_mbs, bool cabac)
    : sps(DefaultSps(width_mbs, height_mbs)), pps(DefaultPps())
{
    pps.entropy_coding_mode = cabac ? 1 : 0;
}

void StreamBuilder::Sets()
{
    if (m_sets)
        return;
    m_sets = true;
    Append(stream, NalUnit(3, NALU_TYPE_SPS, SpsRbsp(sps)));
    Append(stream, NalUnit(3, NALU_TYPE_PPS, PpsRbsp(pps)));
}

void StreamBuilder::CavlcSlice(const SliceHeaderFields &h, bool idr,
                               const std::function<void(BitWriter &)> &body, int nal_ref_idc)
{
    Sets();
    BitWriter w;
    WriteSliceHeader(w, h, sps, pps, idr);
    body(w);
    w.trailing();
    Append(stream, NalUnit(nal_ref_idc, idr ? NALU_TYPE_IDR : NALU_TYPE_SLICE, w.Bytes()));
}

void StreamBuilder::CabacSlice(const SliceHeaderFields &h, bool idr,
                               const std::function<void(CabacSliceData &)> &body, int nal_ref_idc)
{
    Sets();
    BitWriter w;
    WriteSliceHeader(w, h, sps, pps, idr);
    while (!w.ByteAligned())
        w.u(1, 0);
    CabacSliceData d;
    const bool islice = IsI(h.slice_type);
    const int qp = 26 + pps.pic_init_qp_minus26 + h.slice_qp_delta;
    cabac_init_motion_contexts(&d.mi, islice, islice ? 0 : h.cabac_init_idc, qp);
    cabac_init_texture_contexts(&d.ti, islice, islice ? 0 : h.cabac_init_idc, qp);
    body(d);
    if (!d.flushed)
        d.enc.Final(1);
    for (uint8_t b : d.data.Bytes())
        w.u(8, b);
    Append(stream, NalUnit(nal_ref_idc, idr ? NALU_TYPE_IDR : NALU_TYPE_SLICE, w.Bytes()));
}

void StreamBuilder::RawSlice(const SliceHeaderFields &h, bool idr, const uint8_t *data, size_t size,
                             int nal_ref_idc)
{
    Sets();
    BitWriter w;
    WriteSliceHeader(w, h, sps, pps, idr);
    if (pps.entropy_coding_mode)
        while (!w.ByteAligned())
            w.u(1, 0);
    for (size_t i = 0; i < size; ++i)
        w.u(8, data[i]);
    w.trailing();
    Append(stream, NalUnit(nal_ref_idc, idr ? NALU_TYPE_IDR : NALU_TYPE_SLICE, w.Bytes()));
}

std::vector<uint8_t> SliceStreamFromBytes(const uint8_t *data, size_t size)
{
    if (size < 1)
        return {};
    const int sel = data[0];
    const int kind = ((sel >> 1) & 3) % 3, structure = ((sel >> 3) & 3) % 3;
    StreamBuilder b(3, 2, (sel & 1) != 0);
    b.sps.num_ref_frames = 2;
    if (structure) {
        b.sps.frame_mbs_only_flag = 0;
        b.sps.mb_adaptive_frame_field_flag = structure == 2 ? 1 : 0;
    }
    SliceHeaderFields h;
    h.slice_type = kind == 0 ? 7 : kind == 1 ? 5 : 6;
    h.field_pic_flag = structure == 1 ? 1 : 0;
    h.direct_spatial_mv_pred_flag = (sel >> 5) & 1;
    h.cabac_init_idc = ((sel >> 6) & 3) % 3;
    if (kind) {
        h.num_ref_idx_override_flag = 1;
        h.num_ref_pic_active_fwd_minus1 = 1;
        h.num_ref_pic_active_bwd_minus1 = 1;
    }
    b.RawSlice(h, kind == 0, data + 1, size - 1);
    return b.stream;
}

DecodedStream DecodeStream(const std::vector<uint8_t> &stream, const SliceWalkOptions &options)
{
    zn::MessageRecorder recorder;
    DecodedStream d;
    h264dec_open_memory(*d.dec, stream);
    try {
        d.result = WalkSlices(*d.dec, options);
    } catch (const zn::RunAborted &e) {
        d.failed = true;
        d.message = e.what();
    }
    return d;
}

} // namespace h264test
