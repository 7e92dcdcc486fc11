// The invocation environment: the glue between a caller and the codec's objects. It feeds an image
// to the encoder pipeline tile by tile in rows, shifted and scaled into the codec's fixed-point form,
// and drains the decoder pipeline back into whole image rows. Per-component row caches let tiles go
// in raster order while the image is read and written strictly from the top row down.
#pragma once

#include "jpeg2000/coding_info.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace zn::j2k {

class command_line;
class stream_in;

// Where image rows come from and go to (a document, or an image in memory).
class image_line_reader
{
public:
    virtual ~image_line_reader() = default;
    // The next row of the component, top row first.
    virtual void get_line(int component, int32_t *line, int width) = 0;
};

class image_line_writer
{
public:
    virtual ~image_line_writer() = default;
    virtual void put_line(int component, const int32_t *line, int width) = 0;
};

// The first stage of the encoder pipeline (component mixing) and the last of the decoder's.
class component_line_sink
{
public:
    virtual ~component_line_sink() = default;
    virtual void push_line(const int32_t *line, int component, int width) = 0;
    virtual void next_tile() = 0;
};

class component_line_source
{
public:
    virtual ~component_line_source() = default;
    virtual void pull_line(int32_t *line, int component, int width) = 0;
    virtual void next_tile() = 0;
};

// What a row loop keeps of one component while it works through the tiles: the geometry of the
// current tile and a cache of full-width rows, so that tiles go in raster order while the reader and
// the writer work strictly from the top row down. Row indices count from the first row of the
// current tile row (rows kept from the tile row above are negative).
struct component_row_state
{
    int32_t height = 0, width = 0;
    int32_t tile_height = 0, tile_width = 0;
    int32_t left = 0, right = 0, top = 0, bottom = 0; // overlaps of the current tile, 0 or 1
    int32_t held = 0;                                 // rows in the cache
    int32_t first = 0;                                // index of the first held row
    std::vector<std::vector<int32_t>> rows;           // held rows first, then spare buffers
    int32_t column_offset = 0;
    int32_t next = 0, last = -1; // rows of the current tile still to process
    float rate = 1.0f, phase = 0.0f;
    int32_t K = 0;                     // fraction bits of the tile-component
    int32_t offset = 0;                // level offset of unsigned samples
    std::vector<int32_t> overlap_rows; // decoder: per tile column, rows the tile above left
    int32_t overlap_columns = 0;       // decoder: right overlap of the tile to the left
};

// The row caches: enc_row_cache gives row r, reading rows from the reader until it is held;
// enc_drop_rows drops every held row up to `last`. dec_row_cache gives row r, adding cleared rows
// until it is held; dec_emit_rows hands every held row up to `last` to the writer and drops it.
const std::vector<int32_t> &enc_row_cache(component_row_state &s, int component, int32_t r,
                                          image_line_reader &reader);
void enc_drop_rows(component_row_state &s, int32_t last);
std::vector<int32_t> &dec_row_cache(component_row_state &s, int32_t r);
void dec_emit_rows(component_row_state &s, int component, int32_t last, image_line_writer &writer);

// The component mix and demix objects in those places.
class component_mix;
class component_demix;
std::unique_ptr<component_line_sink> as_line_sink(component_mix &mix);
std::unique_ptr<component_line_source> as_line_source(component_demix &demix);

// A rectangle at `levels` fewer levels of resolution: edges divided by 2^levels, rounding up.
canvas_rect reduce_tile_rect(const canvas_rect &r, int levels);

// Rows and columns of each component of the image the decoder will deliver with `discard` levels
// dropped (dims: four integers per component, rows first). Returns the number of tiles.
int reduced_image_dims(coding_info &info, int components, int discard, int *dims);

// Feeds the whole image to the encoder pipeline; starts on the tile `info` stands on (tile 0).
void encode_lines(coding_info &info, image_line_reader &reader, component_line_sink &mix, int components);
// Drains the decoder pipeline into the writer.
void decode_lines(coding_info &info, image_line_writer &writer, component_line_source &demix, int components,
                  int discard);

// The checks the constructor factories make on the argument vector: "-iter" only with
// "-Cno_trunc", "-Qtcq" without parameters. Returns whether the trellis-coded quantiser is asked for.
bool check_encoder_arguments(command_line *args);
// The decoder's dequantiser for the code-stream's quantisation type: false for the dead-zone
// dequantiser, true for the trellis-coded one. Unknown types end the run.
bool dequantizer_is_tcq(stream_in &in);

} // namespace zn::j2k
