// The reduced-memory scan buffer.
#include "jpeg2000/scan_buffer.h"

#include "jpeg2000/ebcot_encoder.h"

namespace zn::j2k {

void scan_buffer_setup(ebcot_encoder &) {}
bool scan_buffer_active(const ebcot_encoder &)
{
    return false;
}
void scan_buffer_after_block_row(ebcot_encoder &, enc_band &) {}
void scan_buffer_finish(ebcot_encoder &) {}

} // namespace zn::j2k
