// Set-up of one encoding run: the dialog's choices plus the fixed sequence values, the search ranges
// and f_codes per picture distance, the syntax and profile/level checks, the default quantiser
// matrices, and the frame stores. Problems are reported and set-up goes on, as a user expects of
// warnings; only a missing file or store ends the run.
#include "mpeg/mpgenc/mpgenc.h"

#include "platform/messages.h"

#include <algorithm>
#include <new>

namespace {

// The default intra matrix of MPEG-2, natural row order: coarser steps for higher frequencies,
// where the eye is least sensitive.
constexpr uint8_t kDefaultIntra[64] = {8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37,
                                       19, 22, 26, 27, 29, 34, 34, 38, 22, 22, 26, 27, 29, 34, 37, 40,
                                       22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32, 35, 40, 48, 58,
                                       26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};

void Msg(const std::string &text)
{
    zn::ShowMessage(text);
}

} // namespace

int MpegEncoder::find_f_code(int sx)
{
    if (sx < 0)
        sx = -1 - sx;
    for (int code = 1, limit = 8; code <= 9; ++code, limit <<= 1)
        if (sx < limit)
            return code;
    Msg("find_f_code-implementation error: sx too large");
    return 0;
}

void MpegEncoder::SetParameters(MpegEncoderParams p, MpegFrameSource *source)
{
    MpegEncoderState &s = m_s;
    m_source = source;
    s.horizontal_size = source ? source->Width() : 0;
    s.vertical_size = source ? source->Height() : 0;
    s.nframes = source ? source->Frames() : 0;
    s.display_horizontal_size = s.horizontal_size;
    s.display_vertical_size = s.vertical_size;
    s.frame0 = 1;
    s.tc0 = 0;
    s.aspectratio = 2;
    s.frame_rate_code = 3;
    s.frame_rate = 25.0;
    s.constrparms = 0;
    s.load_iquant = s.load_niquant = 0;
    s.profile = 4;
    s.level = 8;
    s.chroma_format = 1;
    s.block_count = 6;
    s.video_format = 1;
    s.color_primaries = s.transfer_characteristics = s.matrix_coefficients = 5;
    s.dc_prec = 0;
    s.repeatfirst = 0;
    for (int t = 0; t < 3; ++t) {
        s.qscale_tab[t] = 0;
        s.altscan_tab[t] = 0;
        s.intravlc_tab[t] = t == 0 ? 1 : 0; // MPEG-2 I pictures use the intra table
    }
    m_rc = RateControlState{};

    s.N = p.N;
    s.M = p.M;
    s.maxMotion = p.maxMotion;
    s.mpeg1 = p.mpeg1 != 0;
    s.fieldpic = p.fieldPictures != 0;
    s.topfirst = p.topFieldFirst != 0;
    s.frame_pred_dct_tab[0] = p.frameDctI != 0;
    s.frame_pred_dct_tab[1] = p.frameDctP != 0;
    s.frame_pred_dct_tab[2] = p.frameDctB != 0;
    s.prog_seq = s.prog_frame = p.progressive != 0;
    s.bit_rate = static_cast<double>(p.bitRate);
    s.outputPath = p.outputPath;
    // The headers carry the coded size: an interlaced frame is coded in whole macroblock pairs of
    // 32 lines, so its height is cut to that grid, and a stream never declares lines it does not code.
    if (!s.prog_seq && !s.mpeg1 && s.vertical_size >= 32)
        s.vertical_size -= s.vertical_size % 32;
    s.display_vertical_size = s.vertical_size;

    if (s.mpeg1) {
        s.vbv_buffer_size = 20;
        s.intravlc_tab[0] = 0;
    } else {
        s.vbv_buffer_size = 112;
    }
    if (s.mpeg1 || s.prog_seq) {
        s.topfirst = 0;
        s.frame_pred_dct_tab[0] = s.frame_pred_dct_tab[1] = s.frame_pred_dct_tab[2] = 1;
    }

    if (s.N < 1)
        Msg("MpegEncoder - implementation error: N must be positive");
    if (s.M < 1)
        Msg("MpegEncoder - implementation error: M must be positive");
    if (s.M >= 1 && s.N % s.M != 0)
        Msg("MpegEncoder - implementation error: N must be an integer multiple of M");

    s.motion_data.assign(s.M > 0 && s.M <= 3 ? s.M : 0, MotionData{});
    const int m = s.maxMotion;
    auto forward = [&](MotionData &d, int w) {
        d.sxf = d.syf = w;
        d.forw_hor_f_code = d.forw_vert_f_code = find_f_code(w);
    };
    auto backward = [&](MotionData &d, int w) {
        d.sxb = d.syb = w;
        d.back_hor_f_code = d.back_vert_f_code = find_f_code(w);
    };
    if (s.M >= 1 && s.M <= 3) {
        forward(s.motion_data[0], s.M * m);
        for (int k = 1; k < s.M; ++k) {
            forward(s.motion_data[k], k * m);
            backward(s.motion_data[k], (s.M - k) * m);
        }
    } else {
        Msg("MpegEncoder - M must be between 1 and 3 in this implementation");
    }

    CheckRanges();

    if (!s.mpeg1) {
        CheckProfileLevel();
    } else {
        if (!s.prog_seq) {
            Msg("MpegEncoder: Warning: setting progressive_sequence = 1");
            s.prog_seq = 1;
        }
        if (s.chroma_format != 1) {
            Msg("MpegEncoder: Warning: setting chroma_format = 1 (4:2:0)");
            s.chroma_format = 1;
        }
        for (int t = 0; t < 3; ++t) {
            if (s.intravlc_tab[t]) {
                Msg("MpegEncoder: Warning setting intravlc_tab[] = 0");
                s.intravlc_tab[t] = 0;
            }
            if (s.altscan_tab[t]) {
                Msg("MpegEncoder: Warning: setting altscan_tab[%d] = 0");
                s.altscan_tab[t] = 0;
            }
        }
    }

    if (s.prog_seq && !s.prog_frame) {
        Msg("MpegEncoder: Warning: setting progressive_frame = 1");
        s.prog_frame = 1;
    }
    if (s.prog_frame && s.fieldpic) {
        Msg("MpegEncoder: Warning: setting field_pictures = 0");
        s.fieldpic = 0;
    }
    if (!s.prog_frame && s.repeatfirst) {
        Msg("MpegEncoder: Warning: setting repeat_first_field = 0");
        s.repeatfirst = 0;
    }
    if (s.prog_frame) {
        for (int t = 0; t < 3; ++t)
            if (!s.frame_pred_dct_tab[t]) {
                Msg("MpegEncoder: Warning: setting frame_pred_frame_dct = 1");
                s.frame_pred_dct_tab[t] = 1;
            }
    }
    if (s.prog_seq && !s.repeatfirst && s.topfirst) {
        Msg("MpegEncoder: Warning: setting top_field_first = 0\n");
        s.topfirst = 0;
    }

    for (size_t k = 0; k < s.motion_data.size(); ++k) {
        MotionData &d = s.motion_data[k];
        auto reduce = [](int &width, int fcode, const char *fmt) {
            const int limit = (4 << fcode) - 1;
            if (width > limit) {
                width = limit;
                Msg(zn::Format(fmt, width));
            }
        };
        reduce(d.sxf, d.forw_hor_f_code, "Warning: reducing forward horizontal search width to %d\n");
        reduce(d.syf, d.forw_vert_f_code, "Warning: reducing forward vertical search width to %d\n");
        if (k > 0) {
            reduce(d.sxb, d.back_hor_f_code, "Warning: reducing backward horizontal search width to %d\n");
            reduce(d.syb, d.back_vert_f_code, "Warning: reducing backward vertical search width to %d\n");
        }
    }
}

void MpegEncoder::CheckRanges()
{
    const MpegEncoderState &s = m_s;
    const int h = s.horizontal_size, v = s.vertical_size;
    if (h < 1 || h > 16383)
        Msg("MpegEncoder: horizontal_size must be between 1 and 16383");
    if (s.mpeg1 && h > 4095)
        Msg("MpegEncoder: horizontal_size must be less than 4096 (MPEG-1)");
    if (h % 4096 == 0)
        Msg("MpegEncoder: horizontal_size must not be a multiple of 4096");
    if (s.chroma_format != 3 && h % 2 != 0)
        Msg("MpegEncoder: horizontal_size must be a even (4:2:0 / 4:2:2)");
    if (v < 1 || v > 16383)
        Msg("MpegEncoder: vertical_size must be between 1 and 16383");
    if (s.mpeg1 && v > 4095)
        Msg("MpegEncoder: vertical size must be less than 4096 (MPEG-1)");
    if (v % 4096 == 0)
        Msg("MpegEncoder: vertical_size must not be a multiple of 4096");
    if (s.chroma_format == 1 && v % 2 != 0)
        Msg("MpegEncoder: vertical_size must be a even (4:2:0)");
    if (s.fieldpic && v % 2 != 0)
        Msg("MpegEncoder: vertical_size must be a even (field pictures)");
    if (s.fieldpic && s.chroma_format == 1 && v % 4 != 0)
        Msg("MpegEncoder: vertical_size must be a multiple of 4 (4:2:0 field pictures)");
    if (s.mpeg1 && (s.aspectratio < 1 || s.aspectratio > 14))
        Msg("MpegEncoder: pel_aspect_ratio must be between 1 and 14 (MPEG-1)");
    if (!s.mpeg1 && (s.aspectratio < 1 || s.aspectratio > 4))
        Msg("MpegEncoder: aspect_ratio_information must be 1, 2, 3 or 4");
    if (s.frame_rate_code < 1 || s.frame_rate_code > 8)
        Msg("MpegEncoder: frame_rate code must be between 1 and 8");
    if (!(s.bit_rate > 0.0))
        Msg("MpegEncoder: bit_rate must be positive");
    if (s.bit_rate > 429496729200.0)
        Msg("MpegEncoder: bit_rate must be less than 429 Gbit/s");
    if (s.mpeg1 && s.bit_rate > 104857200.0)
        Msg("MpegEncoder: bit_rate must be less than 104 Mbit/s (MPEG-1)");
    if (s.vbv_buffer_size < 1 || s.vbv_buffer_size > 262143)
        Msg("MpegEncoder: vbv_buffer_size must be in range 1..(2^18-1)");
    if (s.mpeg1 && s.vbv_buffer_size >= 1024)
        Msg("MpegEncoder: vbv_buffer_size must be less than 1024 (MPEG-1)");
    if (s.chroma_format < 1 || s.chroma_format > 3)
        Msg("MpegEncoder: chroma_format must be in range 1...3");
    if (s.video_format < 0 || s.video_format > 4)
        Msg("MpegEncoder: video_format must be in range 0...4");
    auto colour = [](int c) { return c < 1 || c > 7 || c == 3; };
    if (colour(s.color_primaries))
        Msg("MpegEncoder: color_primaries must be in range 1...2 or 4...7");
    if (colour(s.transfer_characteristics))
        Msg("MpegEncoder: transfer_characteristics must be in range 1...2 or 4...7");
    if (colour(s.matrix_coefficients))
        Msg("MpegEncoder: matrix_coefficients must be in range 1...2 or 4...7");
    if (s.display_horizontal_size < 0 || s.display_horizontal_size > 16383)
        Msg("MpegEncoder: display_horizontal_size must be in range 0...16383");
    if (s.display_vertical_size < 0 || s.display_vertical_size > 16383)
        Msg("MpegEncoder: display_vertical_size must be in range 0...16383");
    if (s.dc_prec < 0 || s.dc_prec > 3)
        Msg("MpegEncoder: intra_dc_precision must be in range 0...3");
    auto checkCodes = [&](int fh, int fv, int sx, int sy) {
        if (fh < 1 || fh > 9)
            Msg("MpegEncoder: f_code must be between 1 and 9");
        if (fv < 1 || fv > 9)
            Msg("MpegEncoder: f_code must be between 1 and 9");
        if (s.mpeg1 && fh > 7)
            Msg("MpegEncoder: f_code must be le less than 8");
        if (s.mpeg1 && fv > 7)
            Msg("MpegEncoder: f_code must be le less than 8");
        if (sx < 1 || sy < 1)
            Msg("MpegEncoder: search window must be positive");
    };
    for (size_t k = 0; k < s.motion_data.size(); ++k) {
        const MotionData &d = s.motion_data[k];
        checkCodes(d.forw_hor_f_code, d.forw_vert_f_code, d.sxf, d.syf);
        if (k > 0)
            checkCodes(d.back_hor_f_code, d.back_vert_f_code, d.sxb, d.syb);
    }
}

void MpegEncoder::CheckProfileLevel()
{
    const MpegEncoderState &s = m_s;
    struct LevelLimits
    {
        int hf, vf, width, height;
        double samples;
        int mbits, vbv;
    };
    static const LevelLimits kLimits[4] = {{9, 5, 1920, 1152, 62668800, 80, 597},
                                           {9, 5, 1440, 1152, 47001600, 60, 448},
                                           {8, 5, 720, 576, 10368000, 15, 112},
                                           {7, 4, 352, 288, 3041280, 4, 29}};
    // Rows: profiles High, Spatial, SNR, Main, Simple; columns: levels High, High 1440, Main, Low.
    static const bool kDefined[5][4] = {{true, true, true, false},
                                        {false, true, false, false},
                                        {false, false, true, true},
                                        {true, true, true, true},
                                        {false, false, true, false}};
    if (s.profile < 0 || s.profile > 15)
        Msg("MpegEncoder: profile must be between 0 and 15");
    if (s.level < 0 || s.level > 15)
        Msg("MpegEncoder: level must be between 0 and 15");
    if (s.profile >= 8) {
        Msg("MpegEncoder: profile uses a reserved value, conformance checks skipped");
        return;
    }
    const bool profileOk = s.profile >= 1 && s.profile <= 5;
    const bool levelOk = s.level >= 4 && s.level <= 10 && s.level % 2 == 0;
    if (!profileOk)
        Msg("MpegEncoder: undefined Profile");
    if (s.profile == 2 || s.profile == 3)
        Msg("MpegEncoder: This encoder currently generates no scalable bitstreams");
    if (!levelOk)
        Msg("MpegEncoder: undefined Level");
    if (!profileOk || !levelOk)
        return; // no row of the tables applies
    const int li = (s.level - 4) / 2;
    if (!kDefined[s.profile - 1][li])
        Msg("MpegEncoder: undefined profile@level combination");
    if (s.profile == 5 && s.M != 1)
        Msg("MpegEncoder: Simple Profile does not allow B pictures");
    if (s.profile != 1 && s.chroma_format != 1)
        Msg("MpegEncoder: chroma format must be 4:2:0 in specified Profile");
    if (s.profile == 1 && s.chroma_format == 3)
        Msg("MpegEncoder: chroma format must be 4:2:0 or 4:2:2 in High Profile");
    if (s.profile >= 4) {
        if (s.frame_rate_code <= 2 && s.repeatfirst)
            Msg("MpegEncoder: repeat_first_first must be zero");
        if (s.frame_rate_code <= 6 && s.prog_seq && s.repeatfirst)
            Msg("MpegEncoder: repeat_first_first must be zero");
    }
    if (s.profile != 1 && s.dc_prec == 3)
        Msg("MpegEncoder: 11 bit DC precision only allowed in High Profile");
    if (s.frame_rate_code > 5 && s.level >= 8)
        Msg("MpegEncoder: Picture rate greater than permitted in specified Level");
    const LevelLimits &L = kLimits[li];
    for (size_t k = 0; k < s.motion_data.size(); ++k) {
        const MotionData &d = s.motion_data[k];
        if (d.forw_hor_f_code > L.hf)
            Msg("MpegEncoder: forward horizontal f_code greater than permitted in specified Level");
        if (d.forw_vert_f_code > L.vf)
            Msg("MpegEncoder: forward vertical f_code greater than permitted in specified Level");
        if (k > 0) {
            if (d.back_hor_f_code > L.hf)
                Msg("MpegEncoder: backward horizontal f_code greater than permitted in specified Level");
            if (d.back_vert_f_code > L.vf)
                Msg("MpegEncoder: backward vertical f_code greater than permitted in specified Level");
        }
    }
    if (s.horizontal_size > L.width)
        Msg("MpegEncoder: Horizontal size is greater than permitted in specified Level");
    if (s.vertical_size > L.height)
        Msg("MpegEncoder: Vertical size is greater than permitted in specified Level");
    if (static_cast<double>(s.horizontal_size) * s.vertical_size * s.frame_rate > L.samples)
        Msg("MpegEncoder: Sample rate is greater than permitted in specified Level");
    if (s.bit_rate > 1.0e6 * L.mbits)
        Msg("MpegEncoder: Bit rate is greater than permitted in specified Level");
    if (s.vbv_buffer_size > L.vbv)
        Msg("MpegEncoder: vbv_buffer_size exceeds High Level limit");
}

void MpegEncoder::InitQuantMatrices()
{
    m_s.load_iquant = m_s.load_niquant = 0;
    for (int i = 0; i < 64; ++i) {
        m_s.intra_q[i] = kDefaultIntra[i];
        m_s.inter_q[i] = 16;
    }
}

void MpegEncoder::AllocateStore(std::vector<uint8_t> store[3])
{
    // The source may hold rows below the coded size; the stores take whole source frames.
    const int rows = m_source ? std::max(m_source->Height(), m_s.vertical_size) : m_s.vertical_size;
    const size_t luma = static_cast<size_t>(m_s.horizontal_size) * rows;
    store[0].assign(luma, 0);
    store[1].assign(luma / 4, 128);
    store[2].assign(luma / 4, 128);
}

bool MpegEncoder::init()
{
    MpegEncoderState &s = m_s;
    if (!m_toMemory) {
        m_out = std::fopen(s.outputPath.c_str(), "wb");
        if (!m_out) {
            Msg(zn::Format("MpegEncoder-init: Cannot open for write: %s", s.outputPath.c_str()));
            return false;
        }
    }
    ResetBitWriter();

    if (!s.prog_seq && s.vertical_size < 32) {
        Msg("MpegEncoder: an interlaced sequence needs at least 32 rows");
        return false;
    }

    s.mb_width = s.horizontal_size / 16;
    s.mb_height = s.prog_seq ? s.vertical_size / 16 : 2 * (s.vertical_size / 32);
    s.mb_height2 = s.fieldpic ? s.mb_height / 2 : s.mb_height;
    s.width = 16 * s.mb_width;
    s.height = 16 * s.mb_height;
    s.chrom_width = s.width / 2;
    s.chrom_height = s.height / 2;
    s.height2 = s.fieldpic ? s.height / 2 : s.height;
    s.width2 = s.fieldpic ? 2 * s.width : s.width;
    s.chrom_width2 = s.fieldpic ? 2 * s.chrom_width : s.chrom_width;
    s.block_count = 6;
    if (s.mb_width < 1 || s.mb_height < 1 || s.motion_data.empty()) {
        Msg("MpegEncoder, Upon init: nothing to code at this picture size or GOP structure");
        return false;
    }
    try {
        for (auto &store : m_store)
            AllocateStore(store);
        m_mbinfo.assign(static_cast<size_t>(s.mb_width) * s.mb_height2, MacroblockRecord{});
        m_blocks.assign(static_cast<size_t>(s.mb_width) * s.mb_height2 * s.block_count * 64, 0);
    } catch (const std::bad_alloc &) {
        Msg("MpegEncoder, Upon init: malloc failed");
        return false;
    }
    for (int c = 0; c < 3; ++c) {
        m_newref[c] = m_store[0][c].data();
        m_oldref[c] = m_store[1][c].data();
        m_auxframe[c] = m_store[2][c].data();
        m_neworg[c] = m_store[3][c].data();
        m_oldorg[c] = m_store[4][c].data();
        m_auxorg[c] = m_store[5][c].data();
        m_predframe[c] = m_store[6][c].data();
    }
    return true;
}

void MpegEncoder::Close()
{
    if (m_out) {
        if (std::fclose(m_out) != 0)
            Msg("Could not close mpeg file");
        m_out = nullptr;
    }
    for (auto &store : m_store)
        for (auto &plane : store)
            std::vector<uint8_t>().swap(plane);
    std::vector<MacroblockRecord>().swap(m_mbinfo);
    std::vector<int16_t>().swap(m_blocks);
}
