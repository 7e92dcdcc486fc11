// NAL units: emulation prevention (no start code may appear inside a payload, so a 0x03 is slipped in
// after two zero bytes), the CABAC zero words that pad a slice to its minimum length, and the packing
// of a raw payload behind its header byte.
#pragma once

#include "h264dec/h264_shared.h"
#include "h264enc/bit_writer.h"

#include <cstdint>
#include <vector>

namespace h264enc {

// A zero-filled unit whose buffer holds `capacity` bytes; the buffer grows when a payload needs more.
NaluPtr AllocNALU(int capacity);

// The escape buffer the raw payload is copied into while it is escaped back into its own buffer: room
// for the worst case is taken when a run starts and given back when it ends (it grows if a payload
// needs more).
void init_escape_buffer(int bytes);
void free_escape_buffer();

// Escapes buffer[begin, end) in place and appends 00 00 03 zero words until at least min_bytes bytes
// follow begin; returns the new end. The buffer grows as needed. Each zero word adds 16 to
// *stuffing_bits when that is given.
int escape_rbsp(std::vector<uint8_t> &buffer, int begin, int end, int min_bytes,
                int *stuffing_bits = nullptr);
// The same walk in its plainest form, into a new vector: the reference of escape_rbsp.
std::vector<uint8_t> escape_rbsp_reference(const uint8_t *rbsp, int size);

// Header byte (nal_unit_type + 32 x nal_ref_idc), then the escaped RBSP; start code 4 bytes when
// long_start_code is set, else 3. Returns the unit's length (header byte included).
int pack_rbsp_into_nalu(const uint8_t *rbsp, NALU *nalu, int rbsp_size, int nal_unit_type, int nal_ref_idc,
                        int min_bytes, int long_start_code, int *stuffing_bits = nullptr);

// The header byte from the unit's fields.
inline uint8_t NaluHeaderByte(const NALU &n)
{
    return static_cast<uint8_t>(n.forbidden_bit * 128 + n.nal_ref_idc * 32 + n.nal_unit_type);
}

} // namespace h264enc
