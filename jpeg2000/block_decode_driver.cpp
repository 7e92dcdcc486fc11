// The block decoding driver and the delivery of a decoded block. A segment may span several
// layers' contributions; a pass can only be decoded once every byte up to its segment's end, or up
// to what arrived, is known, and past what arrived the MQ decoder reads 1-bits, which is what the
// encoder's truncation lengths assume.
#include "jpeg2000/block_decode_driver.h"

#include "jpeg2000/coding_tables.h"

#include <algorithm>
#include <bit>

namespace zn::j2k {

block_decoder_work::block_decoder_work(int nominal_height, int nominal_width, const coder_modes &m,
                                       bool plain, int bits)
    : modes(m), confidence_bits(bits), m_nominal_height(nominal_height), m_nominal_width(nominal_width),
      m_plain(plain)
{
    int stripes = (nominal_height + 3) / 4;
    samples.assign(size_t(stripes) * size_t(stripe_pitch(nominal_width)), 0);
    contexts.assign(size_t(context_words(nominal_height, nominal_width)), 0);
    record.samples = samples.data();
    record.contexts = contexts.data() + context_origin(nominal_width);
    if (!plain) {
        flags.assign(size_t(flag_words(nominal_height, nominal_width)), 0);
        record.flags = flags.data() + flag_origin(nominal_width);
        record.flag_pitch = flag_pitch(nominal_width);
    }
}

void compute_segment_ends(dec_block &b)
{
    const int n = std::min(b.included, b.capacity);
    int32_t base = 0, running = 0;
    for (int i = 0; i < n; ++i) {
        dec_pass_record &r = b.records[i];
        if (i == 0 || r.layer != b.records[i - 1].layer) {
            base = running;
            running += r.contribution;
        }
        if (r.terminated)
            r.segment_end = base + r.segment_end;
    }
    int32_t end = b.total_bytes;
    for (int i = b.capacity - 1; i >= 0; --i) {
        dec_pass_record &r = b.records[i];
        if (i < n && r.terminated)
            end = std::min(r.segment_end, b.total_bytes);
        r.segment_end = end;
    }
    b.ends_computed = true;
}

bool decode_block_passes(block_decoder_work &work, const decoder_pass_function passes[3], int orientation,
                         dec_block &block, int K)
{
    block_decoding_record &r = work.record;
    const int first_plane = kHighestPlane - block.zero_planes;
    int groups = 30, count = block.to_decode;
    if (K >= 1)
        groups = 31 - K;
    else if (count > 87)
        count = 88;
    count = std::min(count, 3 * groups - 2);

    r.geometry = make_stripe_geometry(block.height, block.width, work.nominal_width());
    std::fill(work.samples.begin(), work.samples.end(), 0);
    r.causal = work.modes.causal ? 1 : 0;
    r.lazy_depth = work.modes.lazy ? 3 : 31;
    r.significance_table = significance_table_for(orientation);
    const bool check = work.modes.predictable && work.confidence_bits > 0;
    mq_decoder &d = r.decoder;
    mq_decoder_start(d, kNumContexts, r.context_states, block.chain, block.total_bytes, check ? 1 : 0);
    mq_load_contexts(r.context_states, initial_context_states, kNumContexts);
    clear_block_contexts(r.contexts, r.geometry);
    if (r.flags)
        clear_block_flags(r);
    r.first_coded_plane = -1;

    const int first_pass = 3 * block.zero_planes;
    if (first_pass < count && first_pass < block.capacity)
        mq_set_segment_end(d, block.records[first_pass].segment_end);
    bool ok = true;
    for (int g = 0; g < groups && ok; ++g) {
        r.plane = kHighestPlane - g;
        if (r.plane > first_plane)
            continue;
        if (r.first_coded_plane < 0)
            r.first_coded_plane = r.plane;
        for (int j = 0; j < 3; ++j) {
            const int n = 3 * g + j;
            if (n >= count) {
                g = groups;
                break;
            }
            if (work.modes.reset)
                mq_load_contexts(r.context_states, initial_context_states, kNumContexts);
            passes[j](r);
            int total = 0;
            if (j == 0 && work.modes.segmark) {
                mq_decode_loop mq(d);
                int v = 0;
                for (int k = 0; k < 4; ++k)
                    v = (v << 1) | mq.decode(kUniformContext);
                if (work.confidence_bits > 0)
                    total += v == 10 ? 4 : -1000;
            }
            if (block.records[n].terminated) {
                total += mq_finish_segment(d);
                if (n + 1 < block.capacity)
                    mq_set_segment_end(d, block.records[n + 1].segment_end);
            }
            if (total < 0) {
                block.to_decode = n;
                ok = false;
                break;
            }
            work.confidence[n] = total;
        }
    }
    mq_decoder_raw_mode(d);
    return ok;
}

void swap_to_value_order(dec_block &block)
{
    if constexpr (std::endian::native == std::endian::little) {
        int words = (block.total_bytes + 3) / 4;
        for (code_byte_block *b = block.chain; b && words > 0; b = b->next)
            for (int w = 0; w < 8 && words > 0; ++w, --words)
                b->words[w] = __builtin_bswap32(b->words[w]);
    }
}

uint8_t *code_bytes_room(codeword_heap &heap, dec_block &b, int *room)
{
    if (!b.chain) {
        b.chain = b.chain_last = heap.get_block();
        b.last_fill = 0;
    } else if (b.last_fill >= 32) {
        code_byte_block *fresh = heap.get_block();
        b.chain_last->next = fresh;
        b.chain_last = fresh;
        b.last_fill = 0;
    }
    *room = 32 - b.last_fill;
    return reinterpret_cast<uint8_t *>(b.chain_last->words) + b.last_fill;
}

void append_code_bytes(codeword_heap &heap, dec_block &b, const uint8_t *bytes, int n)
{
    while (n > 0) {
        int room = 0;
        uint8_t *at = code_bytes_room(heap, b, &room);
        int take = std::min(room, n);
        std::copy(bytes, bytes + take, at);
        bytes += take;
        n -= take;
        commit_code_bytes(b, take);
    }
}

namespace {
void Deliver(const block_decoder_work &work, const dec_block &block, int32_t *out, int out_pitch)
{
    const stripe_geometry g = make_stripe_geometry(block.height, block.width, work.nominal_width());
    for (int y = 0; y < block.height; ++y) {
        const int32_t *in = work.samples.data() + (y >> 2) * g.pitch + (y & 3);
        int32_t *row = out + size_t(y) * size_t(out_pitch);
        for (int x = 0; x < block.width; ++x)
            row[x] = in[4 * x];
    }
}

void Fill(const dec_block &block, int32_t *out, int out_pitch, int32_t value)
{
    for (int y = 0; y < block.height; ++y)
        std::fill(out + size_t(y) * size_t(out_pitch), out + size_t(y) * size_t(out_pitch) + block.width,
                  value);
}

void ApplyRoi(const dec_block &block, const block_roi_mask &roi, int32_t *out, int out_pitch)
{
    const int s = roi.shift;
    for (int y = 0; y < block.height; ++y) {
        int32_t *row = out + size_t(y) * size_t(out_pitch);
        for (int x = 0; x < block.width; ++x) {
            uint32_t v = static_cast<uint32_t>(row[x]);
            uint32_t sign = v & 0x80000000u, magnitude = v & kMagnitudeMask;
            int lift = 0;
            if (roi.max_shift) {
                if (s <= 30 && magnitude < (1u << (31 - s)))
                    lift = s;
            } else {
                int level = roi.base + (roi.rows && roi.rows[y] ? roi.rows[y][x] : 0);
                if (level < s)
                    lift = s - level;
            }
            if (lift > 0)
                row[x] = static_cast<int32_t>(sign | ((magnitude << lift) & kMagnitudeMask));
        }
    }
}
} // namespace

void decode_code_block(block_decoder_work &work, const decoder_pass_function passes[3], int orientation,
                       int K, dec_block &block, const block_roi_mask *roi, int32_t *out, int out_pitch,
                       codeword_heap &heap, int repeats)
{
    if (!block.ends_computed)
        compute_segment_ends(block);
    const int s = roi ? roi->shift : 0;
    const int Kr = K - s;
    if (block.to_decode > 3 * block.zero_planes) {
        swap_to_value_order(block);
        const int wanted = block.to_decode;
        for (int i = 0; i < std::max(1, repeats); ++i) {
            block.to_decode = wanted;
            if (!decode_block_passes(work, passes, orientation, block, Kr)) {
                // Keep the passes that the last confirmed terminations vouch for.
                int sum = 0, keep = 0;
                for (int n = block.to_decode - 1; n >= 0; --n) {
                    sum += work.confidence[n];
                    if (sum >= work.confidence_bits) {
                        keep = n + 1;
                        break;
                    }
                }
                block.to_decode = keep;
                decode_block_passes(work, passes, orientation, block, Kr);
            }
        }
        Deliver(work, block, out, out_pitch);
        if (roi && s != 0)
            ApplyRoi(block, *roi, out, out_pitch);
        const bool complete = block.to_decode == block.capacity ||
                              (block.to_decode == block.capacity - 1 && block.capacity > 0 &&
                               block.records[block.capacity - 1].contribution == 0);
        if (complete && K >= 1)
            for (int y = 0; y < block.height; ++y)
                for (int x = 0; x < block.width; ++x)
                    out[size_t(y) * size_t(out_pitch) + size_t(x)] |= int32_t(1u << (K - 1));
    } else {
        Fill(block, out, out_pitch, block.zero_planes != 0 || K < 1 ? 0 : int32_t(1u << (K - 1)));
    }
    for (code_byte_block *b = block.chain; b;) {
        code_byte_block *next = b->next;
        heap.return_block(b);
        b = next;
    }
    block.chain = block.chain_last = nullptr;
    block.last_fill = 0;
}

} // namespace zn::j2k
