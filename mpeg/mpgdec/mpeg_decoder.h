// MPEG-1/2 video decoder: one object decodes one video stream (an elementary stream, or the video
// packets of an MPEG-1 system stream) picture by picture and hands each finished frame, in display
// order, to a sink. The stages live in their own files: stream input and bit window, headers,
// picture data with the coefficient readers, the inverse transform, prediction and frame output.
#pragma once

#include "platform/errors.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

class CDib;

namespace zn {

// A decoding run that cannot go on: its message has been shown (code kMessageShown).
class MpegDecodeError : public RunAborted
{
public:
    explicit MpegDecodeError(const std::string &message) : RunAborted(message, kMessageShown) {}
};

// Where the coded bytes come from. Read returns the number of bytes copied; 0 is the end.
class MpegInput
{
public:
    virtual ~MpegInput() = default;
    virtual size_t Read(uint8_t *dst, size_t n) = 0;
};

class MpegFileInput : public MpegInput
{
public:
    explicit MpegFileInput(const std::string &path);
    ~MpegFileInput() override;
    bool IsOpen() const { return m_file != nullptr; }
    size_t Read(uint8_t *dst, size_t n) override;

private:
    std::FILE *m_file = nullptr;
};

class MpegMemoryInput : public MpegInput
{
public:
    MpegMemoryInput(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}
    size_t Read(uint8_t *dst, size_t n) override;

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// One finished frame: three planes of the coded size (whole macroblocks).
struct MpegFrame
{
    const uint8_t *y = nullptr, *cb = nullptr, *cr = nullptr;
    int width = 0, height = 0;             // coded size
    int chromaWidth = 0, chromaHeight = 0; // coded chroma size
    int chromaFormat = 1;                  // 1 4:2:0, 2 4:2:2, 3 4:4:4
};

// Receives frames in display order: frame number, type text ("I", "P", "B", "I (last)", "P (last)")
// and kind (1 I, 2 P, 3 B).
using MpegFrameSink = std::function<void(const MpegFrame &, int frameNumber, const char *typeText, int kind)>;

struct MotionVector
{
    int x = 0, y = 0;
};

// One layer of a coded stream: where its bytes come from, its read buffer and bit window, the values
// its headers set for the layer rather than for the picture, and the coefficient blocks of the
// macroblock being read.
struct MpegLayer
{
    MpegLayer();
    MpegLayer(const MpegLayer &) = delete;
    MpegLayer &operator=(const MpegLayer &) = delete;

    // --- input: blocks of the file, and the bit window -----------------------------------------
    MpegInput *input = nullptr; // owned by the caller, alive until the run ends
    uint8_t buffer[2048];
    uint8_t *rdptr = buffer; // next unread byte of buffer
    int buffer_bytes = 0;    // bytes of the file in buffer
    bool input_ended = false;
    int64_t file_pos = 0;      // bytes taken from the input
    int64_t stream_pos = 0;    // bytes of the (padded) stream handed to the window
    int64_t packet_end = 0;    // system streams: where the current video payload ends (file offset)
    bool system_ended = false; // system streams: end code or end of file reached
    int end_phase = 0;         // position within the repeated end code
    uint64_t bits = 0;         // the window: its top bit is the next bit of the stream
    int incnt = 0;             // valid bits in the window

    // --- header values of the layer -------------------------------------------------------------
    int intra_quantizer_matrix[64], non_intra_quantizer_matrix[64];
    int chroma_intra_quantizer_matrix[64], chroma_non_intra_quantizer_matrix[64];
    int mpeg2 = 0;
    int scalable_mode = 0; // 0 none, 1 data partitioning, 2 spatial, 3 SNR, 4 temporal
    int q_scale_type = 0, alternate_scan = 0, pict_scal = 0, priority_breakpoint = 0;
    int quantizer_scale = 0, intra_slice = 0;

    alignas(16) short block[12][64] = {};
};

class CMpegDecoder
{
public:
    CMpegDecoder();
    ~CMpegDecoder();
    CMpegDecoder(const CMpegDecoder &) = delete;
    CMpegDecoder &operator=(const CMpegDecoder &) = delete;

    // --- owner's settings and counters -------------------------------------------------------
    int gop_seen = 0;
    int system_stream = 0;
    int frame_count = 0;
    int i_count = 0, p_count = 0, b_count = 0;
    int initialised = 0;
    int second_field = 0;
    int mv_overlay = 0;
    // Overlay vectors, one per macroblock, sized by the picture when the decoder is initialised.
    std::vector<MotionVector> mv_i, mv_p_a, mv_p_b, mv_b;
    int mv_p_select = 0;
    int picture_coding_type = 0, picture_structure = 3;
    int coded_width = 0, coded_height = 0;
    int bit_rate_value = 0, vbr = 0, vbv_buffer_size = 0, constrained_parameters_flag = 0;
    int frame_rate_code = 0;
    int full_pel_forward_vector = 0, full_pel_backward_vector = 0;
    int chroma_format = 1, mb_width = 0, mb_height = 0;
    int skip_b_frames = 0;
    int output_mode = 0; // 0 decoded frames, 1 prediction only, 2 coded difference
    int ref_picture_type = 1;
    // Where frames go: the display routine of the document's decoder dialog (tests and tools install
    // their own), or else an image being filled as a stream is opened as a document.
    MpegFrameSink doc_sink;
    CDib *dib_sink = nullptr;
    int frames_output = 0; // frames handed to a sink since the decoder was made
    // The layer the stream is read from, and the one the bit reader uses: a stream of one layer only.
    MpegLayer base_layer;
    MpegLayer *current_layer = &base_layer;

    // --- header values --------------------------------------------------------------------------
    int horizontal_size = 0, vertical_size = 0, aspect_ratio_information = 0;
    int progressive_sequence = 1, progressive_frame = 1, low_delay = 0;
    int matrix_coefficients = 5;
    int temporal_reference = 0;
    int f_code[2][2] = {{1, 1}, {1, 1}}; // stored minus 1: [forward/backward][horizontal/vertical]
    int forward_r_size = 0, backward_r_size = 0;
    int intra_dc_precision = 0, top_field_first = 0, frame_pred_frame_dct = 1;
    int concealment_motion_vectors = 0, intra_vlc_format = 0, repeat_first_field = 0;

    // --- routines -------------------------------------------------------------------------------
    // The current layer reads from `input` (owned by the caller, alive until the run ends).
    void mpgdec_initbits(MpegInput *input);
    int gethdr();
    void mpgdec_initdecoder();
    void mpgdec_freedecoder();
    void mpgdec_getpicture(int frame_number);
    void mpgdec_lastframe(int frame_number);

    // Bit access.
    uint32_t mpgdec_showbits(int n);
    void mpgdec_flushbits(int n);
    uint32_t mpgdec_getbits(int n);
    uint32_t mpgdec_getbit() { return mpgdec_getbits(1); }
    uint32_t mpgdec_getbits32();
    void mpgdec_next_start_code();

    // Shows a message once per run (per-picture and per-macroblock faults repeat otherwise).
    void MessageOnce(const std::string &text);
    // Bytes taken from the input so far (tests).
    int64_t BytesRead() const { return current_layer->file_pos; }

    // The integer inverse transform, in place (rows then columns).
    static void InverseDct(short *block);

private:
    friend struct MpegPictureDecoder;
    // input
    void mpgdec_fillbuffer();
    void FillWindow();
    int NextStreamByte();
    int SystemByte();
    int RawByte();
    void Mpgdec_NextPacket();
    void SkipSystemBytes(int n);
    // headers
    void ReadSequenceHeader();
    void ReadGopHeader();
    void ReadPictureHeader();
    void ReadExtensionAndUserData();
    void ReadSequenceExtension();
    void ReadSequenceDisplayExtension();
    void ReadQuantMatrixExtension();
    void ReadSequenceScalableExtension();
    void ReadPictureDisplayExtension();
    void ReadPictureCodingExtension();
    void ReadPictureSpatialScalableExtension();
    void ReadMatrix(int *matrix);
    // picture data (mpgdec_picture.cpp)
    void getpic();
    // prediction and output
    void mpgdec_storeframe(uint8_t *const planes[3], int frame_number, const char *type_text, int kind);
    bool StoresMatchHeaders() const;
    bool PictureDecodable();

public:
    // Frame stores (three planes each) and the plane pointers of the picture being decoded.
    std::vector<uint8_t> m_store[3][3]; // [store][component]
    uint8_t *forward_ref[3] = {}, *backward_ref[3] = {}, *aux_frame[3] = {}, *current_frame[3] = {};
    int chroma_width = 0, chroma_height = 0, block_count = 6;
    // Sample clip of the reconstruction: clip[i] = i held to 0..255 for i from -384 to 639, which
    // covers a transformed block (-256..255) added to a prediction sample or to grey 128.
    const uint8_t *clip = nullptr;

private:
    // decoder state
    int m_storeWidth = 0, m_storeHeight = 0, m_storeChroma = 0;
    bool m_mismatchOnlyBlockIsZero = false;
    std::unique_ptr<uint8_t[]> m_clipBlock; // the memory block `clip` points into
    std::set<std::string> m_shown;
};

// Natural positions of the zig-zag and alternate scans, the default intra matrix and the non-linear
// quantiser scale.
extern const uint8_t kMpegZigZag[64];
extern const uint8_t kMpegAlternateScan[64];
extern const uint8_t kMpegDefaultIntraMatrix[64];
extern const uint8_t kMpegNonLinearScale[32];

} // namespace zn
