// Slices of synthetic macroblocks (see the header).
#include "h264enc/support/slice_fixture.h"

#include "h264dec/decoder_state.h"
#include "h264dec/fmo.h"
#include "h264dec/macroblock.h"
#include "h264dec/nal_dispatch.h"
#include "h264enc/enc_param_sets.h"
#include "h264enc/nal_unit.h"
#include "platform/messages.h"

#include <algorithm>
#include <cstdlib>

namespace enctest {

namespace enc = h264enc;

namespace {

bool IsB(int type)
{
    return type == enc::kTypeB || type == enc::kTypeStoredB;
}

void AppendUnit(std::vector<uint8_t> &stream, uint8_t header, const uint8_t *payload, int size)
{
    const uint8_t start[4] = {0, 0, 0, 1};
    stream.insert(stream.end(), start, start + 4);
    stream.push_back(header);
    stream.insert(stream.end(), payload, payload + size);
}

// ---------------------------------------------------------------------------------------------
// Random records

int RandomLevel(std::mt19937 &rng)
{
    const unsigned r = rng() % 100;
    const int mag = r < 65   ? 1
                    : r < 93 ? 2 + static_cast<int>(rng() % 10)
                             : 12 + static_cast<int>(rng() % 1989);
    return rng() & 1 ? mag : -mag;
}

// A block of `positions` scan positions as (level, run) pairs ended by a level of 0.
void RandomBlock(std::mt19937 &rng, int positions, int (*out)[65])
{
    const int density = rng() % 5 == 0 ? 0 : static_cast<int>(rng() % 101);
    int k = 0, run = 0;
    for (int p = 0; p < positions; ++p) {
        if (static_cast<int>(rng() % 100) < density) {
            out[0][k] = RandomLevel(rng);
            out[1][k] = run;
            ++k;
            run = 0;
        } else {
            ++run;
        }
    }
    out[0][k] = 0;
    out[1][k] = 0;
}

void RandomResidual(std::mt19937 &rng, SyntheticMb &m)
{
    m.cof = enc::CoefficientArrays();
    if (m.mode == enc::kModeI16) {
        RandomBlock(rng, 16, m.cof.cofDC[0]);
        if (m.coded_pattern & 15)
            for (int q = 0; q < 4; ++q)
                for (int b = 0; b < 4; ++b)
                    RandomBlock(rng, 15, m.cof.cofAC[q][b]);
    } else {
        for (int q = 0; q < 4; ++q)
            if (m.coded_pattern & (1 << q))
                for (int b = 0; b < 4; ++b)
                    RandomBlock(rng, 16, m.cof.cofAC[q][b]);
    }
    if (m.coded_pattern >= 16)
        for (int plane = 0; plane < 2; ++plane)
            RandomBlock(rng, 4, m.cof.cofDC[1 + plane]);
    if (m.coded_pattern >= 32)
        for (int plane = 0; plane < 2; ++plane)
            for (int b = 0; b < 4; ++b)
                RandomBlock(rng, 15, m.cof.cofAC[4 + plane][b]);
}

void RandomVector(std::mt19937 &rng, int *v)
{
    for (int c = 0; c < 2; ++c)
        v[c] = rng() % 4 == 0 ? static_cast<int>(rng() % 257) - 128 : static_cast<int>(rng() % 17) - 8;
}

void FillBlocks(SyntheticMb &m, int list, int x0, int y0, int w, int h, int ref, const int *mv)
{
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) {
            m.refs[list][y][x] = ref;
            m.mv[list][y][x][0] = mv ? mv[0] : 0;
            m.mv[list][y][x][1] = mv ? mv[1] : 0;
        }
}

void RandomIntra(std::mt19937 &rng, SyntheticMb &m, bool i16)
{
    m.chroma_pred_mode = static_cast<int>(rng() % 4);
    for (int list = 0; list < 2; ++list)
        FillBlocks(m, list, 0, 0, 4, 4, -1, nullptr);
    if (i16) {
        m.mode = enc::kModeI16;
        const int luma = static_cast<int>(rng() % 2), chroma = static_cast<int>(rng() % 3);
        m.coded_pattern = 15 * luma + 16 * chroma;
        m.i16_type = 1 + static_cast<int>(rng() % 4) + 4 * chroma + 12 * luma;
        for (int q = 0; q < 4; ++q) {
            m.quarter_mode[q] = 0;
            m.quarter_dir[q] = -1;
        }
    } else {
        m.mode = enc::kModeI4;
        m.coded_pattern = static_cast<int>(rng() % 48);
        for (int q = 0; q < 4; ++q) {
            m.quarter_mode[q] = enc::kModeIntraQuarter;
            m.quarter_dir[q] = -1;
        }
        for (int &c : m.intra4_codes)
            c = static_cast<int>(rng() % 9) - 1;
    }
}

// One partition block of an inter macroblock: its direction's references and vectors, its sub-blocks'
// predictions.
void RandomPartition(std::mt19937 &rng, SyntheticMb &m, int x0, int y0, int w, int h, int dir, int sub_w,
                     int sub_h, int refs, int bwd_refs)
{
    for (int list = 0; list < 2; ++list) {
        const bool uses = dir == 2 || dir == list;
        if (!uses) {
            FillBlocks(m, list, x0, y0, w, h, -1, nullptr);
            continue;
        }
        const int ref = static_cast<int>(rng() % static_cast<unsigned>(list == 0 ? refs : bwd_refs));
        FillBlocks(m, list, x0, y0, w, h, ref, nullptr);
        for (int y = y0; y < y0 + h; y += sub_h)
            for (int x = x0; x < x0 + w; x += sub_w) {
                int v[2];
                RandomVector(rng, v);
                FillBlocks(m, list, x, y, sub_w, sub_h, ref, v);
                RandomVector(rng, m.pred[list][y][x]);
            }
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------

int RecordCoder::encode_macroblock(enc::EncoderRun &run)
{
    enc::EncoderImage &img = run.img;
    if (img.current_slice != m_slice) {
        m_slice = img.current_slice;
        m_qp = img.qp;
        m_qp_before.clear();
    }
    // The pair loop codes a macroblock twice: the second time starts from the same quantiser.
    const auto seen = m_qp_before.find(img.mb_index);
    if (seen != m_qp_before.end())
        m_qp = seen->second;
    else
        m_qp_before[img.mb_index] = m_qp;
    const SyntheticMb &s = mbs[static_cast<size_t>(img.mb_index)];
    enc::MacroblockRecord &mb = img.CurrentMb();
    mb.mb_mode = s.mode;
    for (int q = 0; q < 4; ++q) {
        mb.quarter_mode[static_cast<size_t>(q)] = s.quarter_mode[q];
        mb.quarter_dir[static_cast<size_t>(q)] = s.quarter_dir[q];
    }
    mb.coded_pattern = s.coded_pattern;
    mb.qp_delta = s.qp_delta;
    if (s.coded_pattern != 0 || s.mode == enc::kModeI16)
        m_qp += s.qp_delta;
    mb.qp = m_qp;
    mb.chroma_pred_mode = s.chroma_pred_mode;
    std::copy(s.intra4_codes, s.intra4_codes + 16, mb.intra4_codes.begin());
    mb.i16_type = s.i16_type;
    std::copy(&s.pred[0][0][0][0], &s.pred[0][0][0][0] + 64, &mb.mv_pred[0][0][0][0]);
    // A field macroblock of a macroblock-adaptive frame keeps its motion in its field's maps, at its
    // pair's row; the writer reads it there.
    const bool fieldMb = img.mbaff && img.mb_field;
    enc::MotionMaps &m = fieldMb ? img.field_maps[img.mb_y % 2] : img.maps;
    if (fieldMb && m.cols != img.width / 4)
        m.allocate(img.width / 4, img.height / 8);
    const int row0 = fieldMb ? 4 * (img.mb_y / 2) : 4 * img.mb_y;
    const bool b = IsB(img.type);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const size_t at = m.At(4 * img.mb_x + x, row0 + y);
            if (b) {
                m.fw_ref_map[at] = s.refs[0][y][x];
                m.bw_ref_map[at] = s.refs[1][y][x];
                m.fw_mv_map[at] = {s.mv[0][y][x][0], s.mv[0][y][x][1]};
                m.bw_mv_map[at] = {s.mv[1][y][x][0], s.mv[1][y][x][1]};
            } else {
                m.ref_map[at] = s.refs[0][y][x];
                m.mv_map[at] = {s.mv[0][y][x][0], s.mv[0][y][x][1]};
            }
        }
    img.cof = s.cof;
    // Both codings of a pair cost the same unless the record asks for one of them.
    return img.mbaff ? (s.field == img.mb_field ? 0 : 1) : 0;
}

void RecordCoder::save_pair_candidate(enc::EncoderRun &run, int field)
{
    enc::EncoderImage &img = run.img;
    Candidate &c = m_candidates[{img.mb_index, field}];
    c.record = img.CurrentMb();
    c.cof = img.cof;
}

void RecordCoder::restore_pair_candidate(enc::EncoderRun &run, int field)
{
    enc::EncoderImage &img = run.img;
    const Candidate &c = m_candidates.at({img.mb_index, field});
    img.CurrentMb() = c.record;
    img.cof = c.cof; // the maps hold the record's values whichever coding is chosen
}

std::unique_ptr<enc::EncoderRun> MakeRun(const RunOptions &o)
{
    auto run = std::make_unique<enc::EncoderRun>();
    enc::EncoderParams &p = run->input;
    p.SourceWidth = o.width;
    p.SourceHeight = o.height;
    p.NumberReferenceFrames = o.refs;
    p.SymbolMode = o.cabac;
    p.SliceMode = o.slice_mode;
    p.SliceArgument = o.slice_argument;
    p.DirectModeType = o.direct_spatial;
    p.InterlaceCodingOption = o.mbaff ? 3 : 0;
    p.LoopFilterParametersFlag = o.loop_filter_flag;
    p.PartitionMode = o.partition_mode;
    p.ContextInitMethod = 1;
    p.NumberBFrames = 1;
    p.FrameSkip = 1;
    enc::init_image_geometry(p, run->img);
    enc::init_picture_order(p, run->img);
    enc::h264enc_fmo_init(run->fmo, o.width / 16, o.height / 16, enc::FmoSettingsOf(p));
    enc::create_context_memory(run->cabac_models, p, run->img.mb_count);
    run->img.mbaff = o.mbaff;
    return run;
}

std::vector<uint8_t> ParameterSetUnits(enc::EncoderRun &run)
{
    std::vector<uint8_t> out;
    const NaluPtr units[2] = {enc::make_sps_nalu(run), enc::make_pps_nalu(run)};
    for (const NaluPtr &n : units)
        AppendUnit(out, enc::NaluHeaderByte(*n), n->buf.data() + 1, n->len - 1);
    return out;
}

int EncodePicture(enc::EncoderRun &run, enc::MacroblockCoder &coder, const PictureSetup &p,
                  std::vector<uint8_t> &stream)
{
    enc::EncoderImage &img = run.img;
    img.type = p.type;
    img.qp = p.qp;
    img.idr_flag = p.number == 0 ? 1 : 0;
    img.frame_in_gop = p.number + (IsB(p.type) ? 1 : 0);
    img.toppoc = 2 * p.number;
    img.bottompoc = img.toppoc + (run.input.InterlaceCodingOption ? 1 : 0);
    img.num_ref_minus1 = run.input.NumberReferenceFrames - 1;
    img.stored_b_ref = IsB(p.type) ? p.bwd_refs - 1 : 0;
    img.tr = p.number;
    const int slices = enc::h264enc_code_picture_slices(run, coder);
    for (const auto &slice : enc::current_picture(run).slices) {
        const enc::Bitstream &bs = slice->partArr[0].bitstream;
        const int type = img.idr_flag ? NALU_TYPE_IDR : NALU_TYPE_SLICE;
        const int ref = img.idr_flag ? 3 : IsB(p.type) ? 0 : 2;
        AppendUnit(stream, static_cast<uint8_t>(32 * ref + type), bs.StreamBuffer.data(), bs.byte_count);
    }
    return slices;
}

std::vector<SyntheticMb> RandomPicture(std::mt19937 &rng, const enc::EncoderRun &run, int type, int refs,
                                       int bwd_refs)
{
    const enc::EncoderImage &img = run.img;
    const int w = img.width / 16, n = img.mb_count;
    std::vector<SyntheticMb> mbs(static_cast<size_t>(n));
    int qp = 0; // running change against the picture's quantiser, kept within +-6
    for (int i = 0; i < n; ++i) {
        SyntheticMb &m = mbs[static_cast<size_t>(i)];
        const int mbx = i % w, mby = i / w;
        const unsigned r = rng() % 100;
        if (type == enc::kTypeI) {
            RandomIntra(rng, m, rng() % 2 == 0);
        } else if (r < 12) {
            RandomIntra(rng, m, rng() % 2 == 0);
        } else if (r < 27) {
            // P skip, or B direct (with or without residual).
            m.mode = enc::kModeSkip;
            m.coded_pattern = IsB(type) && rng() % 2 ? static_cast<int>(rng() % 48) : 0;
            for (int q = 0; q < 4; ++q) {
                m.quarter_mode[q] = 0;
                m.quarter_dir[q] = IsB(type) ? 2 : 0;
            }
            FillBlocks(m, 0, 0, 0, 4, 4, IsB(type) ? -1 : 0, nullptr);
            FillBlocks(m, 1, 0, 0, 4, 4, -1, nullptr);
        } else if (r < 65) {
            static const int kModes[3] = {enc::kMode16x16, enc::kMode16x8, enc::kMode8x16};
            m.mode = kModes[rng() % 3];
            m.coded_pattern = static_cast<int>(rng() % 48);
            const int parts = m.mode == enc::kMode16x16 ? 1 : 2;
            int dirs[2] = {0, 0};
            for (int k = 0; k < parts; ++k)
                dirs[k] = IsB(type) ? static_cast<int>(rng() % 3) : 0;
            for (int q = 0; q < 4; ++q) {
                m.quarter_mode[q] = m.mode;
                const int part = m.mode == enc::kMode16x8 ? q / 2 : m.mode == enc::kMode8x16 ? q % 2 : 0;
                m.quarter_dir[q] = dirs[part];
            }
            if (m.mode == enc::kMode16x16)
                RandomPartition(rng, m, 0, 0, 4, 4, dirs[0], 4, 4, refs, bwd_refs);
            else if (m.mode == enc::kMode16x8)
                for (int k = 0; k < 2; ++k)
                    RandomPartition(rng, m, 0, 2 * k, 4, 2, dirs[k], 4, 2, refs, bwd_refs);
            else
                for (int k = 0; k < 2; ++k)
                    RandomPartition(rng, m, 2 * k, 0, 2, 4, dirs[k], 2, 4, refs, bwd_refs);
        } else {
            m.mode = enc::kMode8x8;
            m.coded_pattern = static_cast<int>(rng() % 48);
            static const int kSteps[8][2] = {{2, 2}, {0, 0}, {0, 0}, {0, 0}, {2, 2}, {2, 1}, {1, 2}, {1, 1}};
            for (int q = 0; q < 4; ++q) {
                const int x0 = 2 * (q % 2), y0 = 2 * (q / 2);
                const bool direct = IsB(type) && rng() % 4 == 0;
                if (direct) {
                    // Temporal direct: the co-located reference of the last P picture forwards, 0 backwards.
                    // Spatial direct derives them from the neighbours: -2 marks them as not compared (with
                    // one reference no index is written, so no context reads them).
                    m.quarter_mode[q] = 0;
                    m.quarter_dir[q] = 2;
                    for (int y = y0; y < y0 + 2; ++y)
                        for (int x = x0; x < x0 + 2; ++x) {
                            const int t = img.maps.ref_map[img.maps.At(4 * mbx + x, 4 * mby + y)];
                            const bool spatial = run.input.DirectModeType != 0;
                            m.refs[0][y][x] = spatial ? -2 : t < 0 ? -1 : t;
                            m.refs[1][y][x] = spatial ? -2 : t < 0 ? -1 : 0;
                        }
                    continue;
                }
                const int sub = 4 + static_cast<int>(rng() % 4);
                m.quarter_mode[q] = sub;
                m.quarter_dir[q] = IsB(type) ? static_cast<int>(rng() % 3) : 0;
                RandomPartition(rng, m, x0, y0, 2, 2, m.quarter_dir[q], kSteps[sub][0], kSteps[sub][1], refs,
                                bwd_refs);
            }
        }
        if (m.coded_pattern != 0 || m.mode == enc::kModeI16) {
            m.qp_delta = static_cast<int>(rng() % 9) - 4;
            if (qp + m.qp_delta > 6 || qp + m.qp_delta < -6)
                m.qp_delta = -m.qp_delta;
            qp += m.qp_delta;
        }
        RandomResidual(rng, m);
    }
    return mbs;
}

// ---------------------------------------------------------------------------------------------
// Decoder side

namespace {

void Snapshot(H264DecoderState &dec, DecodedMb &out)
{
    DecoderImage &img = dec.img;
    const DecoderMacroblock &mb = h264dec_current_mb(dec);
    out.slice = img.current_slice_nr;
    out.mb_type = mb.mb_type;
    for (int q = 0; q < 4; ++q) {
        out.sub_mode[q] = mb.sub_mode[q];
        out.sub_dir[q] = mb.sub_pred_dir[q];
    }
    out.cbp = mb.coded_block_pattern;
    out.qp_delta = mb.qp_delta;
    out.qp = mb.qp;
    out.chroma_pred_mode = mb.chroma_pred_mode;
    out.field = mb.mb_field;
    std::copy(&mb.mvd[0][0][0][0], &mb.mvd[0][0][0][0] + 64, &out.mvd[0][0][0][0]);
    const bool b = IsBPicture(img.type);
    const bool fieldView = img.MbaffFrameFlag && mb.mb_field;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const int bx = img.block_x + x, by = img.block_y + y;
            out.refs[0][y][x] = b ? (*img.fwd_ref)[by][bx] : (*img.ref_idx_arr)[by][bx];
            out.refs[1][y][x] = b ? (*img.bwd_ref)[by][bx] : -1;
        }
    // The coded intra modes, from the modes the decoder derived and the predictions it used.
    if (mb.mb_type == kMbIntra4x4 && !fieldView) {
        Array2D<int> &modes = *img.intra_modes;
        for (int q = 0; q < 4; ++q)
            for (int k = 0; k < 4; ++k) {
                const int bx = img.block_x + 2 * (q % 2) + k % 2, by = img.block_y + 2 * (q / 2) + k / 2;
                const int up = modes[bx + 1][by], left = modes[bx][by + 1];
                const int pred = up < 0 || left < 0 ? 2 : std::min(up, left);
                const int mode = modes[bx + 1][by + 1];
                out.intra_codes[4 * q + k] = mode == pred ? -1 : mode < pred ? mode : mode - 1;
            }
    }
    std::copy(&img.coef[0][0][0][0], &img.coef[0][0][0][0] + 4 * 6 * 16, &out.coef[0][0][0][0]);
}

} // namespace

std::vector<DecodedPicture> DecodeMacroblocks(const std::vector<uint8_t> &stream, std::string *error)
{
    zn::MessageRecorder recorder;
    std::vector<DecodedPicture> pictures;
    auto decp = std::make_unique<H264DecoderState>();
    H264DecoderState &dec = *decp;
    h264dec_open_memory(dec, stream);
    NaluPtr nalu = dec_AllocNALU(1 << 20);
    try {
        while (h264dec_next_slice_unit(dec, nalu.get())) {
            h264dec_read_slice_unit(dec, *nalu);
            DecoderImage &img = dec.img;
            dec_alloc_macroblock_arrays(dec, img.width, img.height);
            h264dec_fmo_init(dec, img.width / 16, img.height / 16, nullptr, 0);
            if (dec.slice.start_mb_nr == 0) {
                dec_start_picture_arrays(dec);
                img.current_slice_nr = 0;
                pictures.emplace_back();
                pictures.back().type = img.type;
                pictures.back().mbs.resize(static_cast<size_t>(img.width * img.height / 256));
            } else {
                ++img.current_slice_nr;
            }
            if (pictures.empty())
                break;
            DecodedPicture &pic = pictures.back();
            ++pic.slices;
            const int frameRefs = img.num_ref_idx_active_fwd;
            img.current_mb_nr = dec.slice.start_mb_nr * (img.MbaffFrameFlag ? 2 : 1);
            h264dec_start_slice_data(dec, dec.slice.partitions[0].bitstream->bit_offset);
            for (int count = 0; count <= img.width * img.height / 256; ++count) {
                h264dec_set_mb_index(dec);
                h264dec_start_macroblock(dec);
                h264dec_read_macroblock(dec);
                Snapshot(dec, pic.mbs[static_cast<size_t>(img.mb_index)]);
                const int eos = img.MbaffFrameFlag && img.current_mb_nr % 2 == 0 ? 0 : 1;
                const int end = h264dec_exit_macroblock(dec, eos);
                img.num_ref_idx_active_fwd = frameRefs;
                if (end)
                    break;
            }
        }
    } catch (const zn::RunAborted &e) {
        if (error)
            *error = e.what();
    }
    return pictures;
}

namespace {

// The coefficients the decoder derives from the record's levels: dequantised in their scan positions,
// the luma DC of intra 16x16 as levels, the chroma DC through the 2x2 transform.
void ExpectedCoefficients(const SyntheticMb &s, int qp, bool field, int out[4][6][4][4])
{
    std::fill(&out[0][0][0][0], &out[0][0][0][0] + 4 * 6 * 16, 0);
    const int(*scan)[2] = field ? kFieldScan : kFrameScan;
    auto place = [&](const int(*cof)[65], int first, auto put) {
        int pos = first - 1;
        for (int k = 0; cof[0][k] != 0; ++k) {
            pos += cof[1][k] + 1;
            put(pos, cof[0][k]);
        }
    };
    const int per = qp / 6, rem = qp % 6;
    if (s.mode == h264enc::kModeI16)
        place(s.cof.cofDC[0], 0, [&](int pos, int level) { out[scan[pos][0]][scan[pos][1]][0][0] = level; });
    for (int q = 0; q < 4; ++q)
        for (int b = 0; b < 4; ++b) {
            const int i = 2 * (q % 2) + b % 2, j = 2 * (q / 2) + b / 2;
            const bool coded =
                s.mode == h264enc::kModeI16 ? (s.coded_pattern & 15) != 0 : (s.coded_pattern >> q) & 1;
            if (!coded)
                continue;
            place(s.cof.cofAC[q][b], s.mode == h264enc::kModeI16 ? 1 : 0, [&](int pos, int level) {
                const int x = scan[pos][0], y = scan[pos][1];
                out[i][j][x][y] = (level * kDequantCoef[rem][x][y]) << per;
            });
        }
    const int qpc = kChromaQp[qp], cper = qpc / 6, crem = qpc % 6;
    for (int plane = 0; plane < 2 && s.coded_pattern >= 16; ++plane) {
        int d[4] = {};
        place(s.cof.cofDC[1 + plane], 0,
              [&](int pos, int level) { d[pos] = (level * kDequantCoef[crem][0][0]) << cper; });
        const int c0 = 2 * plane;
        out[c0][4][0][0] = (d[0] + d[1] + d[2] + d[3]) >> 1;
        out[c0 + 1][4][0][0] = (d[0] - d[1] + d[2] - d[3]) >> 1;
        out[c0][5][0][0] = (d[0] + d[1] - d[2] - d[3]) >> 1;
        out[c0 + 1][5][0][0] = (d[0] - d[1] - d[2] + d[3]) >> 1;
    }
    for (int plane = 0; plane < 2 && s.coded_pattern >= 32; ++plane)
        for (int b = 0; b < 4; ++b) {
            const int i = 2 * plane + b % 2, j = 4 + b / 2;
            place(s.cof.cofAC[4 + plane][b], 1, [&](int pos, int level) {
                const int x = scan[pos][0], y = scan[pos][1];
                out[i][j][x][y] = (level * kDequantCoef[crem][x][y]) << cper;
            });
        }
}

std::string Diff(const char *what, int got, int want)
{
    return std::string(what) + ": decoder read " + std::to_string(got) + ", record has " +
           std::to_string(want);
}

} // namespace

std::string CompareMacroblock(const SyntheticMb &s, const DecodedMb &d, int type, bool mbaff)
{
    const bool b = IsB(type);
    const bool skipped = s.mode == h264enc::kModeSkip && (!b || s.coded_pattern == 0);
    if (d.mb_type != s.mode)
        return Diff("mb_type", d.mb_type, s.mode);
    if (mbaff && d.field != s.field && !skipped)
        return Diff("field flag", d.field, s.field);
    const int cbp = skipped ? 0 : s.coded_pattern;
    if (d.cbp != cbp)
        return Diff("coded_block_pattern", d.cbp, cbp);
    const bool deltaSent = cbp != 0 || s.mode == h264enc::kModeI16;
    if (d.qp_delta != (deltaSent ? s.qp_delta : 0))
        return Diff("mb_qp_delta", d.qp_delta, s.qp_delta);
    const bool intra = s.mode == h264enc::kModeI4 || s.mode == h264enc::kModeI16;
    if (intra && d.chroma_pred_mode != s.chroma_pred_mode)
        return Diff("intra_chroma_pred_mode", d.chroma_pred_mode, s.chroma_pred_mode);
    if (s.mode == h264enc::kModeI4 && !(mbaff && s.field))
        for (int k = 0; k < 16; ++k)
            if (d.intra_codes[k] != s.intra4_codes[k])
                return Diff("intra 4x4 mode", d.intra_codes[k], s.intra4_codes[k]);
    if (s.mode == h264enc::kMode8x8)
        for (int q = 0; q < 4; ++q) {
            if (d.sub_mode[q] != s.quarter_mode[q])
                return Diff("sub-macroblock mode", d.sub_mode[q], s.quarter_mode[q]);
            if (d.sub_dir[q] != s.quarter_dir[q])
                return Diff("sub-macroblock direction", d.sub_dir[q], s.quarter_dir[q]);
        }
    if (s.mode >= h264enc::kMode16x16 && s.mode <= h264enc::kMode8x16)
        for (int q = 0; q < 4; ++q)
            if (d.sub_dir[q] != s.quarter_dir[q])
                return Diff("partition direction", d.sub_dir[q], s.quarter_dir[q]);
    // Vector differences of every coded sub-block, over the blocks it covers.
    if (!skipped && !intra && s.mode != h264enc::kModeSkip) {
        int mvd[2][4][4][2] = {};
        static const int kSteps[8][2] = {{0, 0}, {4, 4}, {4, 2}, {2, 4}, {2, 2}, {2, 1}, {1, 2}, {1, 1}};
        for (int q = 0; q < 4; ++q) {
            const int sub = s.mode == h264enc::kMode8x8 ? s.quarter_mode[q] : s.mode;
            if (sub == 0)
                continue;
            for (int list = 0; list < 2; ++list) {
                if (!(s.quarter_dir[q] == 2 || s.quarter_dir[q] == list))
                    continue;
                const int x0 = 2 * (q % 2), y0 = 2 * (q / 2);
                const int sx = kSteps[sub][0], sy = kSteps[sub][1];
                // Sub-blocks that start in this quarter.
                for (int y = y0 - y0 % sy; y < y0 + 2; y += sy)
                    for (int x = x0 - x0 % sx; x < x0 + 2; x += sx)
                        for (int yy = y; yy < y + sy; ++yy)
                            for (int xx = x; xx < x + sx; ++xx)
                                for (int c = 0; c < 2; ++c)
                                    mvd[list][yy][xx][c] = s.mv[list][y][x][c] - s.pred[list][y][x][c];
            }
        }
        for (int list = 0; list < 2; ++list)
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x)
                    for (int c = 0; c < 2; ++c)
                        if (d.mvd[list][y][x][c] != mvd[list][y][x][c])
                            return Diff("mvd", d.mvd[list][y][x][c], mvd[list][y][x][c]);
        // Reference indices of the partitions that predict from a list (and the direct quarters).
        if (!(mbaff && s.field))
            for (int list = 0; list < (b ? 2 : 1); ++list)
                for (int y = 0; y < 4; ++y)
                    for (int x = 0; x < 4; ++x)
                        if (s.refs[list][y][x] >= -1 && d.refs[list][y][x] != s.refs[list][y][x])
                            return Diff(list ? "backward ref_idx" : "ref_idx", d.refs[list][y][x],
                                        s.refs[list][y][x]);
    }
    if (!skipped) {
        int expected[4][6][4][4];
        ExpectedCoefficients(s, d.qp, mbaff && s.field, expected);
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 6; ++j)
                for (int x = 0; x < 4; ++x)
                    for (int y = 0; y < 4; ++y)
                        if (d.coef[i][j][x][y] != expected[i][j][x][y])
                            return Diff("coefficient", d.coef[i][j][x][y], expected[i][j][x][y]) +
                                   " at block " + std::to_string(i) + "," + std::to_string(j);
    }
    return {};
}

} // namespace enctest
