// The places of the encoder's push pipeline and the decoder's pull pipeline, as narrow interfaces:
// component mix -> wavelet analysis -> quantiser -> block coder, and block decoder -> dequantiser ->
// wavelet synthesis -> component demix. Each stage knows only the interface of the next one, so a
// test double can stand in any place and the block coder can be built apart from the transform.
#pragma once

#include "jpeg2000/codec_object.h"
#include "jpeg2000/wavelet_transform.h"

#include <cstdint>

namespace zn::j2k {

class command_line;
class forward_info;
class reverse_info;
class stream_in;
class stream_out;

// The block coder in the encoder: rows of quantised band samples in, as 32-bit sign-magnitude words
// (bit 31 the sign, the magnitude with the band's K fraction bits at the bottom), rows of one band
// top to bottom. The quantisers and the visual masking ask it for each band's code-block size.
class block_line_sink
{
public:
    virtual ~block_line_sink() = default;
    // A width of 0 does nothing. The words may be modified.
    virtual void push_block_line(uint32_t *words, int component, int level, int band, int width) = 0;
    // The current tile is complete; the next one starts.
    virtual int next_tile() = 0;
    // Effective code-block height and width of the band in the current tile.
    virtual void get_band_block_size(int component, int level, int band, int *height, int *width) = 0;
};

// The block decoder in the decoder: the same words, pulled row by row.
class block_line_source
{
public:
    virtual ~block_line_source() = default;
    virtual void pull_block_line(uint32_t *words, int component, int level, int band, int width) = 0;
    virtual int next_tile() = 0;
    virtual void get_band_block_size(int component, int level, int band, int *height, int *width) = 0;
};

// The quantiser's place: band rows from the wavelet analysis, words to the block coder.
class quantizer : public band_row_sink
{
public:
    virtual void initialize(int num_components, forward_info *info, block_line_sink *coder,
                            stream_out *out) = 0;
    virtual usage_table get_usage() = 0;
    virtual int next_tile() = 0;
    virtual void terminate() = 0;
};

// The dequantiser's place: words from the block decoder, band rows to the wavelet synthesis.
class dequantizer : public band_row_source
{
public:
    virtual void initialize(int num_components, reverse_info *info, block_line_source *decoder, stream_in *in,
                            command_line *args) = 0;
    virtual usage_table get_usage() = 0;
    virtual int next_tile() = 0;
    virtual void terminate() = 0;
};

// The wavelet analysis' place, fed by the component mix one row of one component at a time.
class line_sink
{
public:
    virtual ~line_sink() = default;
    virtual void push_line(const int32_t *row, int component, int width) = 0;
    virtual int next_tile() = 0;
};

// The wavelet synthesis' place, drained by the component demix.
class line_source
{
public:
    virtual ~line_source() = default;
    virtual void pull_line(int32_t *row, int component, int width) = 0;
    virtual int next_tile() = 0;
};

} // namespace zn::j2k
