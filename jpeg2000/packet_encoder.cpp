// Packet heads and bodies. The head's first bit is always 1: a packet is never signalled empty, so
// its length never depends on whether a block happens to contribute. A block that brings several
// codeword segments in one packet gets a length-indicator increment before each of them.
#include "jpeg2000/packet_encoder.h"

#include "jpeg2000/local_services.h"
#include "jpeg2000/stream_out.h"

#include <algorithm>

namespace zn::j2k {

namespace {
struct BodyPiece
{
    const enc_block *block;
    int32_t start, end;
};
} // namespace

int band_threshold(int T, double w)
{
    if (w == 0)
        return kNothingThreshold;
    if (T <= 0)
        return T;
    int e = T >> 9, f = T & 511;
    while (w > 1) {
        w /= 2;
        --e;
    }
    double d = (f + 512) / w;
    while (d >= 1024) {
        d /= 2;
        ++e;
    }
    if (e < 0)
        return 1;
    if (e > 63)
        return kNothingThreshold;
    return 512 * e + std::min(511, static_cast<int>(d - 512));
}

void put_pass_count(packet_bits &bits, int m)
{
    if (m == 1) {
        bits.put_bit(0);
    } else if (m == 2) {
        bits.put_bits(0x2, 2);
    } else if (m <= 5) {
        bits.put_bits(0x3, 2);
        bits.put_bits(uint32_t(m - 3), 2);
    } else if (m <= 36) {
        bits.put_bits(0xF, 4);
        bits.put_bits(uint32_t(m - 6), 5);
    } else {
        bits.put_bits(0x1FF, 9);
        bits.put_bits(uint32_t(m - 37), 7);
    }
}

void save_tier2_state(enc_precinct &P)
{
    for (enc_precinct_band &pb : P.bands) {
        pb.saved_inclusion.copy_state_from(pb.inclusion);
        pb.saved_zero_planes.copy_state_from(pb.zero_planes);
        for (int i = 0; i < pb.blocks(); ++i) {
            enc_block &b = pb.block(i);
            b.saved_included = b.included;
            b.saved_lblock = b.lblock;
        }
    }
}

void restore_tier2_state(enc_precinct &P)
{
    for (enc_precinct_band &pb : P.bands) {
        pb.inclusion.copy_state_from(pb.saved_inclusion);
        pb.zero_planes.copy_state_from(pb.saved_zero_planes);
        for (int i = 0; i < pb.blocks(); ++i) {
            enc_block &b = pb.block(i);
            b.included = b.saved_included;
            b.lblock = b.saved_lblock;
        }
    }
}

int code_packet(enc_precinct &P, int T, stream_out &out, bool simulate, int l, packet_bits &bits)
{
    thread_local std::vector<BodyPiece> pieces;
    thread_local std::vector<int32_t> before;
    pieces.clear();
    bits.reset();
    bits.put_bit(1);
    int32_t body = 0, blocks = 0;
    for (enc_precinct_band &pb : P.bands) {
        const int count = pb.blocks();
        blocks += count;
        if (count == 0)
            continue;
        const int Tb = pb.band->visual_weight >= 0 ? band_threshold(T, pb.band->visual_weight) : T;
        if (l == 0) {
            tag_tree_reset(pb.inclusion);
            tag_tree_reset(pb.zero_planes);
        }
        before.assign(size_t(count), 0);
        for (int i = 0; i < count; ++i) {
            enc_block &b = pb.block(i);
            if (l == 0) {
                b.lblock = 3;
                b.included = 0;
                tag_tree_set(pb.zero_planes, i, b.code.zero_planes);
            }
            int c = b.included;
            const int p = c;
            const pass_record *r = b.code.records;
            for (int n = p; n < b.code.passes; ++n) {
                if (r[n].slope >= 1) {
                    if (r[n].slope < Tb)
                        break;
                    c = n + 1;
                }
            }
            if (c > 0 && p == 0)
                tag_tree_set(pb.inclusion, i, l);
            before[size_t(i)] = p;
            b.included = c;
        }
        for (int i = 0; i < count; ++i) {
            enc_block &b = pb.block(i);
            const int p = before[size_t(i)], c = b.included, n = c - p;
            if (p > 0)
                bits.put_bit(n > 0 ? 1 : 0);
            else
                tag_tree_encode(pb.inclusion, i, l + 1, bits);
            if (n <= 0)
                continue;
            const pass_record *r = b.code.records;
            int first = p, start = p > 0 ? r[p - 1].length : 0;
            if (p == 0) {
                for (int t = 1; !tag_tree_encode(pb.zero_planes, i, t, bits); ++t) {
                }
                first = 3 * b.code.zero_planes;
            }
            put_pass_count(bits, c - first);
            int32_t segment_start = start;
            for (int k = first; k < c;) {
                int end = k;
                while (end < c - 1 && !r[end].terminated)
                    ++end;
                const int passes = end - k + 1;
                const int32_t length = r[end].length - segment_start;
                int width = b.lblock + floor_log2(passes);
                while (length >= (int64_t(1) << width)) {
                    bits.put_bit(1);
                    ++b.lblock;
                    ++width;
                }
                bits.put_bit(0);
                if (width >= 17)
                    local_error(
                        "Too many code bytes in a single bit-stream layer for one or more blocks!  Use "
                        "smaller code blocks or more layers (SNR progressive)!");
                bits.put_bits(uint32_t(length), width);
                segment_start = r[end].length;
                k = end + 1;
            }
            const int32_t end = r[c - 1].length;
            if (end > start)
                pieces.push_back({&b, start, end});
            body += end - start;
        }
    }
    const int head = bits.flush();
    out.start_packet(l, head, body, blocks, simulate ? 1 : 0);
    if (head > 0)
        out.put_head_bytes(bits.data(), head);
    if (!simulate)
        for (const BodyPiece &piece : pieces)
            for (int32_t at = piece.start; at < piece.end;) {
                int available = 0;
                const uint8_t *bytes = block_code_bytes(
                    piece.block->code.start_block, piece.block->code.start_word, at, nullptr, &available);
                const int take = std::min<int32_t>(available, piece.end - at);
                out.put_body_bytes(bytes, take);
                at += take;
            }
    return out.end_packet();
}

} // namespace zn::j2k
