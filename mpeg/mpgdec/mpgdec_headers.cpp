// Headers: sequence, group of pictures and picture headers, and the MPEG-2 extensions that follow
// them. A header value stays in force until a later header of the same kind replaces it; MPEG-1
// streams carry no extensions, so the values MPEG-2 takes from them are fixed at initialisation.
#include "mpeg/mpgdec/mpeg_decoder.h"

#include "platform/log.h"
#include "platform/messages.h"

namespace zn {

const uint8_t kMpegZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Interlaced pictures have more vertical detail: the alternate scan reaches down the columns sooner.
const uint8_t kMpegAlternateScan[64] = {0,  8,  16, 24, 1, 9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49,
                                        41, 33, 26, 18, 3, 11, 4,  12, 19, 27, 34, 42, 50, 58, 35, 43,
                                        51, 59, 20, 28, 5, 13, 6,  14, 21, 29, 36, 44, 52, 60, 37, 45,
                                        53, 61, 22, 30, 7, 15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63};

// Coarser steps for the higher frequencies, where the eye forgives more.
const uint8_t kMpegDefaultIntraMatrix[64] = {8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37,
                                             19, 22, 26, 27, 29, 34, 34, 38, 22, 22, 26, 27, 29, 34, 37, 40,
                                             22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32, 35, 40, 48, 58,
                                             26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};

const uint8_t kMpegNonLinearScale[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10, 12, 14, 16, 18, 20,  22,
                                         24, 28, 32, 36, 40, 44, 48, 52, 56, 64, 72, 80, 88, 96, 104, 112};

MpegLayer::MpegLayer()
{
    for (int i = 0; i < 64; ++i) {
        intra_quantizer_matrix[i] = chroma_intra_quantizer_matrix[i] = kMpegDefaultIntraMatrix[i];
        non_intra_quantizer_matrix[i] = chroma_non_intra_quantizer_matrix[i] = 16;
    }
}

int CMpegDecoder::gethdr()
{
    current_layer = &base_layer;
    for (;;) {
        mpgdec_next_start_code();
        uint32_t code = mpgdec_getbits32();
        switch (code) {
        case 0x00000100:
            ReadPictureHeader();
            return 1;
        case 0x000001B3:
            ReadSequenceHeader();
            break;
        case 0x000001B7:
            return 0;
        case 0x000001B8:
            ReadGopHeader();
            gop_seen = 1;
            break;
        default:
            break;
        }
    }
}

void CMpegDecoder::ReadMatrix(int *matrix)
{
    for (int i = 0; i < 64; ++i)
        matrix[kMpegZigZag[i]] = static_cast<int>(mpgdec_getbits(8));
}

void CMpegDecoder::ReadSequenceHeader()
{
    MpegLayer &ld = *current_layer;
    horizontal_size = static_cast<int>(mpgdec_getbits(12));
    vertical_size = static_cast<int>(mpgdec_getbits(12));
    aspect_ratio_information = static_cast<int>(mpgdec_getbits(4));
    frame_rate_code = static_cast<int>(mpgdec_getbits(4));
    bit_rate_value = static_cast<int>(mpgdec_getbits(18));
    vbr = bit_rate_value == 0x3FFFF ? 1 : 0;
    mpgdec_flushbits(1);
    vbv_buffer_size = static_cast<int>(mpgdec_getbits(10));
    constrained_parameters_flag = static_cast<int>(mpgdec_getbit());
    if (mpgdec_getbit())
        ReadMatrix(ld.intra_quantizer_matrix);
    else
        for (int i = 0; i < 64; ++i)
            ld.intra_quantizer_matrix[i] = kMpegDefaultIntraMatrix[i];
    if (mpgdec_getbit())
        ReadMatrix(ld.non_intra_quantizer_matrix);
    else
        for (int i = 0; i < 64; ++i)
            ld.non_intra_quantizer_matrix[i] = 16;
    for (int i = 0; i < 64; ++i) {
        ld.chroma_intra_quantizer_matrix[i] = ld.intra_quantizer_matrix[i];
        ld.chroma_non_intra_quantizer_matrix[i] = ld.non_intra_quantizer_matrix[i];
    }
    ReadExtensionAndUserData();
}

void CMpegDecoder::ReadGopHeader()
{
    mpgdec_flushbits(1 + 5 + 6 + 1 + 6 + 6 + 1 + 1);
    ReadExtensionAndUserData();
}

void CMpegDecoder::ReadPictureHeader()
{
    MpegLayer &ld = *current_layer;
    ld.pict_scal = 0;
    temporal_reference = static_cast<int>(mpgdec_getbits(10));
    picture_coding_type = static_cast<int>(mpgdec_getbits(3));
    mpgdec_flushbits(16); // vbv_delay
    if (picture_coding_type == 2 || picture_coding_type == 3) {
        full_pel_forward_vector = static_cast<int>(mpgdec_getbit());
        int code = static_cast<int>(mpgdec_getbits(3));
        forward_r_size = code - 1;
        if (!ld.mpeg2)
            f_code[0][0] = f_code[0][1] = code - 1;
    }
    if (picture_coding_type == 3) {
        full_pel_backward_vector = static_cast<int>(mpgdec_getbit());
        int code = static_cast<int>(mpgdec_getbits(3));
        backward_r_size = code - 1;
        if (!ld.mpeg2)
            f_code[1][0] = f_code[1][1] = code - 1;
    }
    int guard = 0;
    while (mpgdec_getbit() && ++guard < 1 << 20)
        mpgdec_flushbits(8);
    ReadExtensionAndUserData();
}

void CMpegDecoder::ReadExtensionAndUserData()
{
    for (;;) {
        mpgdec_next_start_code();
        uint32_t code = mpgdec_showbits(32);
        if (code == 0x000001B5) {
            mpgdec_flushbits(32);
            int id = static_cast<int>(mpgdec_getbits(4));
            switch (id) {
            case 1:
                ReadSequenceExtension();
                break;
            case 2:
                ReadSequenceDisplayExtension();
                break;
            case 3:
                ReadQuantMatrixExtension();
                break;
            case 5:
                ReadSequenceScalableExtension();
                break;
            case 7:
                ReadPictureDisplayExtension();
                break;
            case 8:
                ReadPictureCodingExtension();
                break;
            case 9:
                ReadPictureSpatialScalableExtension();
                break;
            case 10:
                MessageOnce("MpegDecoder - Temporal scalability not supported\n");
                break;
            default:
                LogF(LogLevel::Error, "reserved extension start code ID %d\n", id);
                break;
            }
        } else if (code == 0x000001B2) {
            mpgdec_flushbits(32);
        } else {
            return;
        }
    }
}

void CMpegDecoder::ReadSequenceExtension()
{
    MpegLayer &ld = *current_layer;
    ld.mpeg2 = 1;
    ld.scalable_mode = 0;
    mpgdec_flushbits(8); // profile_and_level_indication
    progressive_sequence = static_cast<int>(mpgdec_getbit());
    chroma_format = static_cast<int>(mpgdec_getbits(2));
    int hext = static_cast<int>(mpgdec_getbits(2));
    int vext = static_cast<int>(mpgdec_getbits(2));
    mpgdec_flushbits(12 + 1 + 8); // bit_rate_extension, marker, vbv_buffer_size_extension
    low_delay = static_cast<int>(mpgdec_getbit());
    mpgdec_flushbits(2 + 5); // frame_rate_extension_n, _d
    horizontal_size = (horizontal_size & 0xFFF) | (hext << 12);
    vertical_size = (vertical_size & 0xFFF) | (vext << 12);
}

void CMpegDecoder::ReadSequenceDisplayExtension()
{
    mpgdec_flushbits(3);
    if (mpgdec_getbit()) {
        mpgdec_flushbits(16);
        matrix_coefficients = static_cast<int>(mpgdec_getbits(8));
    }
    mpgdec_flushbits(14 + 1 + 14);
}

void CMpegDecoder::ReadQuantMatrixExtension()
{
    MpegLayer &ld = *current_layer;
    if (mpgdec_getbit()) {
        ReadMatrix(ld.intra_quantizer_matrix);
        for (int i = 0; i < 64; ++i)
            ld.chroma_intra_quantizer_matrix[i] = ld.intra_quantizer_matrix[i];
    }
    if (mpgdec_getbit()) {
        ReadMatrix(ld.non_intra_quantizer_matrix);
        for (int i = 0; i < 64; ++i)
            ld.chroma_non_intra_quantizer_matrix[i] = ld.non_intra_quantizer_matrix[i];
    }
    if (mpgdec_getbit())
        ReadMatrix(ld.chroma_intra_quantizer_matrix);
    if (mpgdec_getbit())
        ReadMatrix(ld.chroma_non_intra_quantizer_matrix);
}

void CMpegDecoder::ReadSequenceScalableExtension()
{
    MpegLayer &ld = *current_layer;
    ld.scalable_mode = static_cast<int>(mpgdec_getbits(2)) + 1;
    mpgdec_flushbits(4); // layer_id
    if (ld.scalable_mode == 2) {
        mpgdec_flushbits(14 + 1 + 14);
        mpgdec_flushbits(5 + 5 + 5 + 5);
    } else if (ld.scalable_mode == 4) {
        MessageOnce("MpegDecoder - Temporal scalability not implemented\n");
    }
}

void CMpegDecoder::ReadPictureDisplayExtension()
{
    int n = 2;
    if (progressive_sequence || picture_structure != 3)
        n = 1;
    else if (repeat_first_field)
        n = 3;
    for (int i = 0; i < n; ++i)
        mpgdec_flushbits(16 + 1 + 16 + 1);
}

void CMpegDecoder::ReadPictureCodingExtension()
{
    MpegLayer &ld = *current_layer;
    f_code[0][0] = static_cast<int>(mpgdec_getbits(4)) - 1;
    f_code[0][1] = static_cast<int>(mpgdec_getbits(4)) - 1;
    f_code[1][0] = static_cast<int>(mpgdec_getbits(4)) - 1;
    f_code[1][1] = static_cast<int>(mpgdec_getbits(4)) - 1;
    intra_dc_precision = static_cast<int>(mpgdec_getbits(2));
    picture_structure = static_cast<int>(mpgdec_getbits(2));
    top_field_first = static_cast<int>(mpgdec_getbit());
    frame_pred_frame_dct = static_cast<int>(mpgdec_getbit());
    concealment_motion_vectors = static_cast<int>(mpgdec_getbit());
    ld.q_scale_type = static_cast<int>(mpgdec_getbit());
    intra_vlc_format = static_cast<int>(mpgdec_getbit());
    ld.alternate_scan = static_cast<int>(mpgdec_getbit());
    repeat_first_field = static_cast<int>(mpgdec_getbit());
    mpgdec_flushbits(1); // chroma_420_type
    progressive_frame = static_cast<int>(mpgdec_getbit());
    if (mpgdec_getbit())
        mpgdec_flushbits(1 + 3 + 1 + 7 + 8);
}

void CMpegDecoder::ReadPictureSpatialScalableExtension()
{
    MpegLayer &ld = *current_layer;
    ld.pict_scal = 1;
    mpgdec_flushbits(10 + 1 + 15 + 1 + 15);
    mpgdec_flushbits(2 + 1 + 1);
}

} // namespace zn
