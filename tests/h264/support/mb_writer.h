// Test-side writers of macroblock data: CAVLC residual blocks from the code tables (levels with this
// syntax's escape signs), and a walk that runs the decoder's macroblock layer over every slice of a
// stream, as picture control will, without reconstruction.
#pragma once

#include "h264/support/cabac_writer.h"
#include "h264/support/h264_stream_writer.h"
#include "h264dec/decoder_state.h"

#include <functional>
#include <memory>
#include <string>

#include <vector>

namespace h264test {

// One CAVLC block: coefficients in scan order (max_coeff of them, the first at the block's first
// scan position); nC selects the coeff_token table, -1 for chroma DC. Returns TotalCoeff.
int WriteCavlcBlock(BitWriter &w, const int *coeffs, int max_coeff, int nc);

struct SliceWalkOptions
{
    int max_mbs = 396; // larger pictures are skipped (keeps fuzzing fast)
};

struct SliceWalkResult
{
    int slices = 0;
    int macroblocks = 0;
};

// Every slice of the opened stream through the macroblock layer. Stops at the end of the stream or
// with the decoder's run error. The picture arrays stay in dec for inspection.
SliceWalkResult WalkSlices(H264DecoderState &dec, const SliceWalkOptions &options = {});

// Reads the slice unit at hand (already in the front end) through the macroblock layer.
int ReadSliceMacroblocks(H264DecoderState &dec);

// The bins of a CABAC slice, with the encoder's own copies of the two context sets.
struct CabacSliceData
{
    MotionInfo mi{};
    TextureInfo ti{};
    BitWriter data;
    CabacWriter enc{data};
    void Bin(CabacContext &c, int b) { enc.Symbol(c, b); }
    void Bits(CabacContext &c, int value, int n); // most significant first
    void Bypass(int b) { enc.Bypass(b); }
    void ExpGolomb(int value, int k);
    void EndOfSlice(int last)
    {
        enc.Final(last);
        flushed = flushed || last != 0;
    }
    bool flushed = false;
};

// A stream of one SPS, one PPS (written before the first slice) and slices.
struct StreamBuilder
{
    SPS sps;
    PPS pps;
    std::vector<uint8_t> stream;
    StreamBuilder(int width_mbs, int height_mbs, bool cabac = false);
    void CavlcSlice(const SliceHeaderFields &h, bool idr, const std::function<void(BitWriter &)> &body,
                    int nal_ref_idc = 1);
    // The header, zero bits to the byte boundary, then the bins; the body ends with EndOfSlice(1)
    // unless the slice ends at the picture's last macroblock (then the builder flushes).
    void CabacSlice(const SliceHeaderFields &h, bool idr, const std::function<void(CabacSliceData &)> &body,
                    int nal_ref_idc = 1);

    // The header (zero bits to the byte boundary for CABAC), the bytes as slice data, the trailing bits.
    void RawSlice(const SliceHeaderFields &h, bool idr, const uint8_t *data, size_t size,
                  int nal_ref_idc = 1);

private:
    void Sets();
    bool m_sets = false;
};

struct DecodedStream
{
    std::unique_ptr<H264DecoderState> dec = std::make_unique<H264DecoderState>();
    SliceWalkResult result;
    bool failed = false;
    std::string message;
    DecoderMacroblock &Mb(int i) { return (*dec->img.mb_data)[static_cast<size_t>(i)]; }
};

// A stream whose slice data is the bytes after the first: that byte chooses CAVLC or CABAC (bit 0),
// I, P or B (bits 1-2), frame, field or MBAFF (bits 3-4), the direct mode (bit 5) and the CABAC model
// (bits 6-7); three macroblocks by two, two references per list.
std::vector<uint8_t> SliceStreamFromBytes(const uint8_t *data, size_t size);

// Walks the stream through the macroblock layer; a run error is caught and kept.
DecodedStream DecodeStream(const std::vector<uint8_t> &stream, const SliceWalkOptions &options = {});

} // namespace h264test
