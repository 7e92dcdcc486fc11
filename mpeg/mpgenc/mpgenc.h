// The MPEG-1/2 video encoder: one object per encoding run. It reads frames from a source, predicts,
// transforms, quantises and codes them into a video elementary stream, and reconstructs every picture
// exactly as a decoder will, so that later pictures predict from what the decoder sees.
#pragma once

#include "mpeg/mpgenc/mpgenc_motion.h"
#include "mpeg/mpgenc/mpgenc_types.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// Where the frames come from: a raw YUV sequence (the document's), or memory in tests.
class MpegFrameSource
{
public:
    virtual ~MpegFrameSource() = default;
    virtual int Width() const = 0;  // coded width, a multiple of 16
    virtual int Height() const = 0; // coded height, a multiple of 16
    virtual int Frames() const = 0;
    virtual int Progressive() const { return 1; }
    // Reads frame n (1-based) into Y (Width x Height) and the two 4:2:0 chroma planes. False after a
    // message.
    virtual bool Read(int n, uint8_t *planes[3]) = 0;
};

// What the run tells its dialog after each coded picture.
struct MpegPictureReport
{
    int codedFrame = 0; // coded-frame counter, from 1
    int field = -1;     // -1 frame picture, 0 top field, 1 bottom field
    int frameNo = 0;    // display frame number, from 1
    char type = 'I';
    double mse[3] = {0, 0, 0};
    double snr[3] = {0, 0, 0};
    std::string statistics;
    float bitsPerPixel = 0.f;
};

class MpegEncoderSink
{
public:
    virtual ~MpegEncoderSink() = default;
    virtual void ShowDecodingInfo(const MpegPictureReport &report) = 0;
    // The reconstructed frame (Y, Cb, Cr planes of the coded size) of display frame frameNo.
    virtual void ShowCodedFrame(const uint8_t *const planes[3], int width, int height, int frameNo) = 0;
};

class MpegEncoder
{
public:
    MpegEncoder() = default;
    MpegEncoder(const MpegEncoder &) = delete;
    MpegEncoder &operator=(const MpegEncoder &) = delete;

    // Set-up and checks.
    void SetParameters(MpegEncoderParams params, MpegFrameSource *source);
    static int find_f_code(int sx);
    void CheckRanges();
    void CheckProfileLevel();
    void InitQuantMatrices();
    // Opens the output and allocates the stores; false after a message (the run must end).
    bool init();
    void Close();
    void SetSink(MpegEncoderSink *sink) { m_sink = sink; }

    // The coding loop.
    void EncodeSequence();

    // Bit writer and headers.
    void ResetBitWriter();
    void WriteBits(uint32_t value, int n);
    void AlignBits();
    long long BitCount() const { return 8LL * m_bytes + 8 - m_free; }
    void WriteSequenceHeader();
    void WriteSequenceExtension();
    void WriteSequenceDisplayExtension();
    void WriteGopHeader(int frame, int closed);
    void WritePictureHeader();
    void WritePictureCodingExtension();
    void WriteQuantMatrixExtension();
    void WriteSequenceEnd();
    int TimeCode(int n) const;
    // Bytes written so far by a memory-backed writer (tests); empty when writing to a file.
    const std::vector<uint8_t> &MemoryBytes() const { return m_memory; }
    void WriteToMemory() { m_toMemory = true; }

    // Rate control.
    void RcInitSequence();
    void RcInitGop(int np, int nb);
    void RcInitPicture(const uint8_t *luma);
    int RcStartMquant();
    int RcMquant(int k);
    void RcUpdatePicture();
    void VbvDelay();

    // Picture coding.
    void CodePicture(const uint8_t *luma);
    void WriteAddressIncrement(int a);
    void WriteMbType(int pictType, int mbType);
    void WriteMotionVectors(const MacroblockRecord &mb, int s, int fh, int fv);
    void WriteMotionVector(int d, int fcode);
    void WriteMotionCode(int code);
    void WriteDualPrimeVector(int value);
    void WriteCbp(int cbp);
    void WriteIntraBlock(const int16_t *blk, int cc);
    void WriteNonIntraBlock(const int16_t *blk);
    void WriteDcDiff(int value, bool luminance);
    void WriteFirstAC(int run, int level);
    void putAC(int run, int level, int vlcformat);

    // Prediction, transform, measures.
    void PredictPicture(uint8_t *const oldRef[3], uint8_t *const newRef[3], uint8_t *const pred[3]);
    void DctTypeEstimation(uint8_t *const pred[3], uint8_t *const cur[3]);
    void Transform(uint8_t *const pred[3], uint8_t *const cur[3]);
    void InverseTransform(uint8_t *const pred[3], uint8_t *const cur[3]);
    void CalcSnr(uint8_t *const org[3], uint8_t *const rec[3], double mse[3], double snr[3]) const;
    std::string Statistics() const;

    // Read access for tests and the dialog.
    const MpegEncoderState &State() const { return m_s; }
    MpegEncoderState &MutableState() { return m_s; }
    const RateControlState &Rate() const { return m_rc; }
    RateControlState &MutableRate() { return m_rc; }
    std::vector<MacroblockRecord> &Macroblocks() { return m_mbinfo; }
    int16_t *Blocks() { return m_blocks.data(); }
    uint8_t *ReconstructionPlane(int c) { return m_newref[c]; }

private:
    // Whether block b of the macroblock carries levels (intra blocks always do).
    bool IsCoded(const MacroblockRecord &mb, int b) const
    {
        return (mb.mb_type & MB_INTRA) || ((mb.cbp >> (m_s.block_count - 1 - b)) & 1);
    }
    void AllocateStore(std::vector<uint8_t> store[3]);
    void BecomeP();
    void PictureChain(int secondField, int ipflag, uint8_t *cur[3], uint8_t *rec[3], int fieldCode,
                      int codedFrame, int frameNo);
    void PutBlockCode(const VlcCode &c, int level);

    MpegEncoderState m_s;
    RateControlState m_rc;
    MpegFrameSource *m_source = nullptr;
    MpegEncoderSink *m_sink = nullptr;

    // Bit writer.
    std::FILE *m_out = nullptr;
    bool m_toMemory = false;
    std::vector<uint8_t> m_memory;
    uint32_t m_pending = 0;
    int m_free = 8;
    long long m_bytes = 0;
    bool m_writeFailed = false;

    // Frame stores (Y, Cb, Cr) and their current roles.
    std::vector<uint8_t> m_store[7][3];
    uint8_t *m_oldorg[3] = {}, *m_neworg[3] = {}, *m_oldref[3] = {}, *m_newref[3] = {};
    uint8_t *m_auxorg[3] = {}, *m_auxframe[3] = {}, *m_predframe[3] = {};
    std::vector<MacroblockRecord> m_mbinfo;
    std::vector<int16_t> m_blocks;

    // Picture coding state.
    int m_dcPred[3] = {0, 0, 0};
    int m_pmv[2][2][2] = {};
    MpegMotionEstimator m_estimator;
};
