// Emulation prevention and NAL packing. The escaped payload is at most half again as long as the raw
// one (one 0x03 per two zero bytes), so the buffer is sized once before the walk.
#include "h264enc/nal_unit.h"

#include "h264enc/enc_memory.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace h264enc {

namespace {

thread_local std::vector<uint8_t> escape_buffer;

} // namespace

void init_escape_buffer(int bytes)
{
    try {
        escape_buffer.reserve(static_cast<size_t>(std::max(bytes, 0)));
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("init_escape_buffer: escape buffer");
    }
}

void free_escape_buffer()
{
    escape_buffer.clear();
    escape_buffer.shrink_to_fit();
}

NaluPtr AllocNALU(int capacity)
{
    if (capacity < 1)
        capacity = 1;
    NaluPtr n;
    try {
        n.reset(new NALU);
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("AllocNALU: n");
    }
    try {
        n->buf.assign(static_cast<size_t>(capacity), 0);
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("AllocNALU: n->buf");
    }
    n->capacity = capacity;
    return n;
}

int escape_rbsp(std::vector<uint8_t> &buffer, int begin, int end, int min_bytes, int *stuffing_bits)
{
    const int size = end - begin;
    if (begin < 0 || size < 0 || end > static_cast<int>(buffer.size()))
        return end;
    // The raw bytes move to the escape buffer; the escaped ones are written back from begin on.
    std::vector<uint8_t> &scratch = escape_buffer;
    scratch.assign(buffer.begin() + begin, buffer.begin() + end);
    const long long worst = static_cast<long long>(begin) + size + size / 2 + 1;
    const long long padded = static_cast<long long>(begin) + min_bytes + 3;
    const long long need = worst > padded ? worst : padded;
    if (static_cast<long long>(buffer.size()) < need)
        buffer.resize(static_cast<size_t>(need));

    uint8_t *out = buffer.data() + begin;
    const uint8_t *in = scratch.data();
    int zeros = 0;
    for (int k = 0; k < size; ++k) {
        const uint8_t b = in[k];
        if (zeros == 2 && b <= 3) {
            *out++ = 3;
            zeros = 0;
        }
        *out++ = b;
        zeros = b == 0 ? zeros + 1 : 0;
    }
    int newEnd = static_cast<int>(out - buffer.data());
    while (newEnd < begin + min_bytes) {
        if (static_cast<int>(buffer.size()) < newEnd + 3)
            buffer.resize(static_cast<size_t>(newEnd) + 3);
        buffer[static_cast<size_t>(newEnd)] = 0;
        buffer[static_cast<size_t>(newEnd) + 1] = 0;
        buffer[static_cast<size_t>(newEnd) + 2] = 3;
        newEnd += 3;
        if (stuffing_bits)
            *stuffing_bits += 16;
    }
    return newEnd;
}

std::vector<uint8_t> escape_rbsp_reference(const uint8_t *rbsp, int size)
{
    std::vector<uint8_t> out;
    for (int k = 0; k < size; ++k) {
        const size_t n = out.size();
        if (n >= 2 && out[n - 1] == 0 && out[n - 2] == 0 && rbsp[k] <= 3)
            out.push_back(3);
        out.push_back(rbsp[k]);
    }
    return out;
}

int pack_rbsp_into_nalu(const uint8_t *rbsp, NALU *nalu, int rbsp_size, int nal_unit_type, int nal_ref_idc,
                        int min_bytes, int long_start_code, int *stuffing_bits)
{
    nalu->forbidden_bit = 0;
    nalu->nal_unit_type = nal_unit_type;
    nalu->nal_ref_idc = nal_ref_idc;
    nalu->prefix_length = long_start_code ? 4 : 3;
    if (static_cast<int>(nalu->buf.size()) < rbsp_size + 1)
        nalu->buf.resize(static_cast<size_t>(rbsp_size) + 1);
    nalu->buf[0] = NaluHeaderByte(*nalu);
    if (rbsp_size > 0)
        std::memcpy(nalu->buf.data() + 1, rbsp, static_cast<size_t>(rbsp_size));
    const int end = escape_rbsp(nalu->buf, 1, 1 + rbsp_size, min_bytes, stuffing_bits);
    nalu->len = end;
    nalu->capacity = static_cast<int>(nalu->buf.size());
    return nalu->len;
}

} // namespace h264enc
