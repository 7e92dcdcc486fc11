// A CABAC element bench shared by the element tests: a 2x2-macroblock picture on both sides, the
// encoder's (records, maps, context sets, one partition) and the decoder's (records, arrays, contexts),
// with the current macroblock 3 whose upper neighbour is 1 and left neighbour 2. Neighbourhoods are set
// on both sides alike; what the encoder's writers code, the decoder's readers then read.
#pragma once

#include "h264dec/cabac_read.h"
#include "h264dec/decoder_state.h"
#include "h264dec/macroblock.h"
#include "h264enc/cabac_write.h"
#include "h264enc/enc_state.h"

#include <vector>

namespace enctest {

// The decoder's picture-type code of an encoder type.
int DecoderPictureType(int enc_type);

struct CabacBench
{
    h264enc::EncoderImage img;
    h264enc::Slice slice;
    h264enc::SlicePartition part;
    H264DecoderState dec;

    // type: the encoder's picture type; model and qp of the contexts on both sides.
    CabacBench(int type, int model, int qp);

    h264enc::MacroblockRecord &EncMb(int i) { return img.mb_data[static_cast<size_t>(i)]; }
    DecoderMacroblock &DecMb(int i) { return (*dec.img.mb_data)[static_cast<size_t>(i)]; }

    // Neighbours present or missing, on both sides.
    void Neighbours(bool up, bool left);
    // Copies the fields the contexts read from encoder records 1, 2 and 3 to the decoder's.
    void SyncRecords();
    // Sets the reference index of 4x4 block (x, y) of the picture (0..7) in the list's map on both
    // sides: list 0 P, 1 B forward, 2 B backward.
    void SetRef(int list, int x, int y, int value);
    // The 4x4 block of the next element on both sides.
    void Block(int x, int y, int plane = 0);

    // Writes one element with the writer, returns its bits.
    int Write(h264enc::CabacWriteFn fn, int value, int second_value = 0, int context = 0,
              int category = h264enc::SE_MBTYPE);
    // Ends the encoder's code and starts the decoder on it.
    void Start();
    SyntaxSymbol Read(CabacReadFn fn, int value2 = 0, int context = 0);
    // Every context of the encoder's sets equals the decoder's (the row the decoder keeps beyond the
    // encoder's three macroblock-type rows aside).
    bool SameContexts() const;

    bool started = false;
    std::vector<uint8_t> bytes;
};

} // namespace enctest
