// Records of the MPEG-1/2 encoder: the parameters a dialog passes, the sequence and picture state,
// the rate-control state and one record per macroblock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MpegEncoderParams
{
    std::string outputPath;
    int mpeg1 = 1;
    int M = 3;
    int N = 12;
    int maxMotion = 15;
    float bitRate = 1150000.f;
    int progressive = 1;
    int topFieldFirst = 1;
    int fieldPictures = 0;
    int frameDctI = 0;
    int frameDctP = 0;
    int frameDctB = 0;
};

// Motion data of one picture distance: f_codes and search widths, forward then backward.
struct MotionData
{
    int forw_hor_f_code = 0, forw_vert_f_code = 0, sxf = 0, syf = 0;
    int back_hor_f_code = 0, back_vert_f_code = 0, sxb = 0, syb = 0;
};

enum { I_TYPE = 1, P_TYPE = 2, B_TYPE = 3 };
enum { TOP_FIELD = 1, BOTTOM_FIELD = 2, FRAME_PICTURE = 3 };
enum { MB_INTRA = 1, MB_PATTERN = 2, MB_BACKWARD = 4, MB_FORWARD = 8, MB_QUANT = 16 };
enum { MC_FIELD = 1, MC_FRAME = 2, MC_16X8 = 2, MC_DMV = 3 };

struct MpegEncoderState
{
    std::string outputPath;
    int N = 12, M = 3, maxMotion = 15;
    int nframes = 0, frame0 = 1, tc0 = 0;
    int mpeg1 = 1, fieldpic = 0;
    int horizontal_size = 0, vertical_size = 0;
    int aspectratio = 2, frame_rate_code = 3;
    double frame_rate = 25.0, bit_rate = 0.0;
    int vbv_buffer_size = 20, constrparms = 0;
    int load_iquant = 0, load_niquant = 0;
    uint8_t intra_q[64] = {}, inter_q[64] = {};
    int profile = 4, level = 8;
    int prog_seq = 1, chroma_format = 1, video_format = 1;
    int color_primaries = 5, transfer_characteristics = 5, matrix_coefficients = 5;
    int display_horizontal_size = 0, display_vertical_size = 0;
    int dc_prec = 0, topfirst = 0, repeatfirst = 0, prog_frame = 1;
    int frame_pred_dct_tab[3] = {0, 0, 0}, qscale_tab[3] = {0, 0, 0};
    int intravlc_tab[3] = {1, 0, 0}, altscan_tab[3] = {0, 0, 0};
    std::vector<MotionData> motion_data;

    // Geometry.
    int mb_width = 0, mb_height = 0, mb_height2 = 0, width = 0, height = 0;
    int chrom_width = 0, chrom_height = 0, width2 = 0, height2 = 0, chrom_width2 = 0, block_count = 6;

    // Current picture.
    int pict_type = I_TYPE, temp_ref = 0, pict_struct = FRAME_PICTURE;
    int forw_hor_f_code = 15, forw_vert_f_code = 15, back_hor_f_code = 15, back_vert_f_code = 15;
    int sxf = 0, syf = 0, sxb = 0, syb = 0;
    int frame_pred_dct = 1, q_scale_type = 0, intravlc = 0, altscan = 0;
    int secondfield = 0, vbv_delay = 0;
};

struct RateControlState
{
    int r = 0, Xi = 0, Xp = 0, Xb = 0, d0i = 0, d0p = 0, d0b = 0;
    int R = 0, Np = 0, Nb = 0, T = 0, d = 0, Q = 0, prev_mquant = 0;
    long long S = 0;
    double actsum = 0, avg_act = 0;
    float bitsPerPixel = 0.f;
    double decoding_time = 0, next_ip_delay = 0;
};

struct MacroblockRecord
{
    int mb_type = 0, motion_type = MC_FRAME, dct_type = 0, mquant = 0, cbp = 0, skipped = 0;
    int MV[2][2][2] = {}; // [first/second][forward/backward][horizontal/vertical], half-pel
    int mv_field_sel[2][2] = {};
    int dmvector[2] = {};
    double act = 0;
    int var = 0;
};

struct VlcCode
{
    uint16_t code;
    uint8_t len;
};
