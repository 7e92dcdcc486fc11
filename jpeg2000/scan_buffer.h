// The reduced-memory scan buffer ("-Cscan_buffer_bytes", "-Cscan_buffer_elements"): the code-stream
// is written while the image still arrives, a few precinct rows (or tiles) at a time, each buffer of
// elements getting layers formed over its own packets and its share of the byte budget.
#pragma once

#include "jpeg2000/ebcot_encoder_records.h"

#include <utility>
#include <vector>

namespace zn::j2k {

class ebcot_encoder;

struct scan_element
{
    int64_t estimate = 0;                     // summed area of its layer-0 packets' blocks
    std::vector<std::pair<int, int>> packets; // (tile, entry of the tile's sequence)
};

struct scan_buffer_state
{
    std::vector<scan_element> elements;
    int buffered = 1;         // buffer size in elements
    int64_t buffer_bytes = 0; // and in bytes
    int count = 0;            // elements completed so far
    int written = 0;          // first element not yet written
    int64_t debt = 0;
    bool header_written = false;
    double bits_per_unit = 0; // budget bits per unit of estimate
    std::vector<bool> tile_started;
};

// Reads and checks the options; sets the buffer up when one is asked for.
void scan_buffer_setup(ebcot_encoder &e);
bool scan_buffer_active(const ebcot_encoder &e);
// After a row of code-blocks of a band has been coded.
void scan_buffer_after_block_row(ebcot_encoder &e, enc_band &band);
// Forms layers over the buffered elements up to `last` and writes what the allowance lets go.
void scan_buffer_output(ebcot_encoder &e, scan_buffer_state &s, int last);
// At the end: writes what is still buffered.
void scan_buffer_finish(ebcot_encoder &e);

} // namespace zn::j2k
