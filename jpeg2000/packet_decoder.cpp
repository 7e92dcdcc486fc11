// Packet heads, bodies and layer dropping on the decoder's side. The head reader returns a status:
// a head that runs out of bytes, or says something impossible, ends at once and marks its precinct,
// which then reads no more bodies.
#include "jpeg2000/packet_decoder.h"

#include "platform/messages.h"

#include <algorithm>

namespace zn::j2k {

namespace {
// The number-of-passes code; -1 when the head ran out.
int ReadPassCount(packet_bit_reader &bits)
{
    int b = bits.get_bit();
    if (b <= 0)
        return b < 0 ? -1 : 1;
    if ((b = bits.get_bit()) <= 0)
        return b < 0 ? -1 : 2;
    int v = bits.get_bits(2);
    if (v < 0)
        return -1;
    if (v < 3)
        return 3 + v;
    if ((v = bits.get_bits(5)) < 0)
        return -1;
    if (v < 31)
        return 6 + v;
    if ((v = bits.get_bits(7)) < 0)
        return -1;
    return 37 + v;
}

void ReleaseChainFrom(codeword_heap &heap, dec_block &b, int32_t keep)
{
    if (keep <= 0) {
        for (code_byte_block *c = b.chain; c;) {
            code_byte_block *next = c->next;
            heap.return_block(c);
            c = next;
        }
        b.chain = b.chain_last = nullptr;
        b.total_bytes = b.last_fill = 0;
        return;
    }
    code_byte_block *last = b.chain;
    for (int32_t at = 32; at < keep && last; at += 32)
        last = last->next;
    if (!last)
        return;
    for (code_byte_block *c = last->next; c;) {
        code_byte_block *next = c->next;
        heap.return_block(c);
        c = next;
    }
    last->next = nullptr;
    b.chain_last = last;
    b.total_bytes = keep;
    b.last_fill = keep - 32 * ((keep - 1) / 32);
}
} // namespace

void set_pass_terminations(dec_pass_record *records, int zero_planes, int capacity, bool all, int planes)
{
    const int first = std::min(3 * zero_planes, capacity);
    for (int i = 0; i < first; ++i)
        records[i].terminated = 0;
    int c = 0;
    for (int i = first; i < capacity; ++i) {
        if (c == 3) {
            --planes;
            c = 0;
        }
        records[i].terminated = all || (planes <= 0 && (c == 0 || c == 2)) ? 1 : 0;
        ++c;
    }
}

bool read_packet_head(dec_precinct &P, const coder_modes &modes, int l, packet_bit_reader &bits)
{
    for (dec_precinct_band &pb : P.bands) {
        for (int i = 0; i < pb.blocks(); ++i) {
            dec_block &b = pb.block(i);
            const int i0 = b.included;
            bool contributes;
            if (i0 > 0) {
                int bit = bits.get_bit();
                if (bit < 0)
                    return false;
                contributes = bit == 1;
            } else {
                contributes = tag_tree_decode(pb.inclusion, i, l + 1, bits);
                if (bits.failed())
                    return false;
            }
            if (!contributes)
                continue;
            if (i0 == 0) {
                int g = 1;
                for (; !tag_tree_decode(pb.zero_planes, i, g, bits); ++g)
                    if (bits.failed() || 3 * g >= b.capacity)
                        return false;
                if (bits.failed())
                    return false;
                b.zero_planes = g - 1;
                if (3 * b.zero_planes >= b.capacity)
                    return false;
                set_pass_terminations(b.records, b.zero_planes, b.capacity, modes.terminate_all,
                                      modes.lazy ? 3 : 31);
            }
            const int n = ReadPassCount(bits);
            if (n < 0)
                return false;
            int f = n + (i0 == 0 ? 3 * b.zero_planes : 0);
            if (i0 + f > b.capacity)
                f = b.capacity - i0;
            if (f > 0) {
                const int start = i0 == 0 ? 3 * b.zero_planes : i0, end = i0 + f;
                int32_t sum = 0;
                for (int k = start; k < end;) {
                    int last = k;
                    while (last < end - 1 && !b.records[last].terminated)
                        ++last;
                    int bit;
                    while ((bit = bits.get_bit()) == 1)
                        if (++b.lblock > 32)
                            return false;
                    if (bit < 0)
                        return false;
                    const int width = b.lblock + floor_log2(last - k + 1);
                    if (width > 16)
                        return false;
                    int32_t length = bits.get_bits(width);
                    if (length < 0)
                        return false;
                    sum += length;
                    if (b.records[last].terminated)
                        b.records[last].segment_end = sum;
                    k = last + 1;
                }
                b.records[i0].contribution = sum;
                for (int k = i0; k < end; ++k) {
                    b.records[k].layer = l;
                    if (k > i0)
                        b.records[k].contribution = 0;
                }
            }
            b.new_passes = std::max(f, 0);
        }
    }
    return true;
}

void read_packet(dec_precinct &P, const coder_modes &modes, int l, packet_byte_source &source,
                 codeword_heap &heap)
{
    if (l == 0)
        for (dec_precinct_band &pb : P.bands) {
            tag_tree_reset(pb.inclusion);
            tag_tree_reset(pb.zero_planes);
            for (int i = 0; i < pb.blocks(); ++i) {
                dec_block &b = pb.block(i);
                b.to_decode = b.included = b.new_passes = b.usable_bytes = b.zero_planes = 0;
                b.lblock = 3;
            }
        }
    packet_bit_reader bits(source);
    const int first = bits.get_bit();
    if (first < 0 || (first == 1 && !read_packet_head(P, modes, l, bits)))
        P.no_more_data = true;
    if (P.no_more_data || first != 1) {
        for (dec_precinct_band &pb : P.bands)
            for (int i = 0; i < pb.blocks(); ++i)
                pb.block(i).new_passes = 0;
        return;
    }
    bool ran_out = false;
    for (dec_precinct_band &pb : P.bands)
        for (int i = 0; i < pb.blocks(); ++i) {
            dec_block &b = pb.block(i);
            const int n = b.new_passes;
            if (n <= 0)
                continue;
            const int32_t wanted = b.records[b.included].contribution;
            int32_t read = 0;
            while (!ran_out && read < wanted) {
                int room = 0;
                uint8_t *at = code_bytes_room(heap, b, &room);
                const int take = static_cast<int>(std::min<int32_t>(room, wanted - read));
                const int got = source.get_body_bytes(at, take);
                commit_code_bytes(b, std::max(got, 0));
                read += std::max(got, 0);
                if (got < take)
                    ran_out = true;
            }
            if (read == wanted && b.to_decode == b.included) {
                b.to_decode += n;
                b.usable_bytes += wanted;
            }
            b.included += n;
            b.new_passes = 0;
        }
}

void drop_precinct_layer(dec_precinct &P, int k, int32_t &bytes_used, int32_t limit, codeword_heap &heap)
{
    if (P.layers_read <= k)
        return;
    int32_t removed = 0;
    for (auto pb = P.bands.rbegin(); pb != P.bands.rend(); ++pb)
        for (int i = pb->blocks() - 1; i >= 0; --i) {
            dec_block &b = pb->block(i);
            if (b.to_decode <= 0 || b.records[b.to_decode - 1].layer < k)
                continue;
            if (removed >= bytes_used - limit) {
                bytes_used -= removed;
                return;
            }
            int first = b.to_decode - 1;
            while (first > 0 && b.records[first].contribution == 0)
                --first;
            const int32_t size = b.records[first].contribution;
            b.to_decode = first;
            b.usable_bytes = std::max(0, b.usable_bytes - size);
            ReleaseChainFrom(heap, b, b.usable_bytes);
            removed += size;
        }
    --P.layers_read;
    if (k < static_cast<int>(P.layer_bytes.size()))
        bytes_used -= P.layer_bytes[size_t(k)];
}

void drop_layers(dec_tile &tile, int32_t &bytes_used, int32_t limit, codeword_heap &heap)
{
    if (bytes_used <= limit)
        return;
    int layers = 0;
    for (dec_precinct *P : tile.precincts)
        layers = std::max(layers, P->layers_read);
    if (layers == 1)
        ShowMessage("Parsing stream: problem because it has only one layer (not SNR scalable)");
    for (int k = layers - 1; k >= 0 && bytes_used > limit; --k)
        for (auto it = tile.precincts.rbegin(); it != tile.precincts.rend() && bytes_used > limit; ++it)
            drop_precinct_layer(**it, k, bytes_used, limit, heap);
}

} // namespace zn::j2k
