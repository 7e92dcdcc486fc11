// The reduced-memory scan buffer ("-Cscan_buffer_bytes", "-Cscan_buffer_elements"): the code-stream
// is written while the image still arrives, a few precinct rows (or tiles) at a time, each buffer of
// elements getting layers formed over its own packets and its share of the byte budget.
#pragma once

#include "jpeg2000/ebcot_encoder_records.h"

namespace zn::j2k {

class ebcot_encoder;

struct scan_buffer_state
{
};

// Reads and checks the options; sets the buffer up when one is asked for.
void scan_buffer_setup(ebcot_encoder &e);
bool scan_buffer_active(const ebcot_encoder &e);
// After a row of code-blocks of a band has been coded.
void scan_buffer_after_block_row(ebcot_encoder &e, enc_band &band);
// At the end: writes what is still buffered.
void scan_buffer_finish(ebcot_encoder &e);

} // namespace zn::j2k
