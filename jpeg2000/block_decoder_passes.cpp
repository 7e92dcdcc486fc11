// Decoder coding passes, plain and speed-up. Both are one template: the speed-up set also keeps the
// group flag words up to date and uses them to pass over quiet groups, which are the bulk of the
// cleanup passes of the high planes. Skipping uses the MQ decoder's shortcut, so it decides exactly
// what eight single decisions would.
#include "jpeg2000/block_decoder_passes.h"

#include "jpeg2000/coding_tables.h"

#include <algorithm>
#include <optional>

namespace zn::j2k {

namespace {

template <bool Fast>
inline void Significant(block_decoding_record &r, uint16_t *column, int32_t *x, int q, int s, int c, int p,
                        int negative)
{
    const uint32_t middle = p > 0 ? 3u << (p - 1) : 1u;
    x[q] = static_cast<int32_t>((negative ? 0x80000000u : 0u) | middle);
    column[q] |= kCtxSignificant;
    update_neighbours(column + q, q, r.geometry.pitch, negative != 0, r.causal != 0);
    if constexpr (Fast) {
        const int g0 = (c - 1) >> 3, g1 = (c + 1) >> 3;
        int32_t *row = r.flags + s * r.flag_pitch;
        row[g0] = row[g1] = 1;
        if (q == 0 && !r.causal)
            row[g0 - r.flag_pitch] = row[g1 - r.flag_pitch] = 1;
        if (q == 3)
            row[g0 + r.flag_pitch] = row[g1 + r.flag_pitch] = 1;
    }
}

inline int DecodeSign(mq_decode_loop &mq, uint16_t w)
{
    int32_t sc = sign_context_table[(w >> 11) & 0xF];
    return mq.decode(kSignContext + (sc & 0xF)) ^ static_cast<int>(static_cast<uint32_t>(sc) >> 31);
}

inline mq_decoder &ActiveDecoder(block_decoding_record &r)
{
    if (!r.decoder.mq_active)
        mq_decoder_begin(r.decoder);
    return r.decoder;
}

template <bool Fast>
inline void CleanupColumn(block_decoding_record &r, mq_decode_loop &mq, int s, int c, int p)
{
    const int base = s * r.geometry.pitch + 4 * c;
    uint16_t *cw = r.contexts + base;
    int32_t *x = r.samples + base;
    int q = 0;
    if (column_words(cw) == 0) {
        if (!mq.decode(kRunContext))
            return;
        q = mq.decode(kUniformContext) << 1;
        q |= mq.decode(kUniformContext);
        Significant<Fast>(r, cw, x, q, s, c, p, DecodeSign(mq, cw[q]));
        ++q;
    }
    for (; q < 4; ++q) {
        const uint16_t w = cw[q];
        if (w & (kCtxSignificant | kCtxVisited | kCtxOutside))
            continue;
        if (mq.decode(kSignificanceContext + r.significance_table[w & kCtxNeighbours]))
            Significant<Fast>(r, cw, x, q, s, c, p, DecodeSign(mq, w));
    }
    for (q = 0; q < 4; ++q)
        cw[q] = static_cast<uint16_t>(cw[q] & ~kCtxVisited);
}

template <bool Fast> void DecodeCleanup(block_decoding_record &r)
{
    const stripe_geometry &g = r.geometry;
    const int p = r.plane;
    mq_decode_loop mq(ActiveDecoder(r));
    for (int s = 0; s < g.stripes; ++s) {
        if constexpr (Fast) {
            const int32_t *flags = r.flags + s * r.flag_pitch;
            for (int group = 0; group < g.groups; ++group) {
                if (flags[group] == 0 && mq.skip_zeros(kRunContext, 8))
                    continue;
                const int end = std::min(8 * group + 8, static_cast<int>(g.width));
                for (int c = 8 * group; c < end; ++c)
                    CleanupColumn<Fast>(r, mq, s, c, p);
            }
        } else {
            for (int c = 0; c < g.width; ++c)
                CleanupColumn<Fast>(r, mq, s, c, p);
        }
    }
}

// Runs `column` over every column of the block that may have work; the speed-up set passes over
// groups whose flag says all their context words are zero.
template <bool Fast, class Column> inline void ForColumns(block_decoding_record &r, Column column)
{
    const stripe_geometry &g = r.geometry;
    for (int s = 0; s < g.stripes; ++s) {
        const int32_t *flags = Fast ? r.flags + s * r.flag_pitch : nullptr;
        for (int group = 0; group < g.groups; ++group) {
            if constexpr (Fast)
                if (flags[group] == 0)
                    continue;
            const int end = std::min(8 * group + 8, static_cast<int>(g.width));
            for (int c = 8 * group; c < end; ++c)
                column(s, c);
        }
    }
}

// The significance and refinement passes, arithmetic-coded or raw: the same samples in the same
// order, only the way each bit arrives differs.
template <bool Fast, bool Raw> void SignificancePass(block_decoding_record &r)
{
    const int p = r.plane - 1;
    mq_decoder &d = r.decoder;
    std::optional<mq_decode_loop> mq;
    if constexpr (!Raw)
        mq.emplace(ActiveDecoder(r));
    ForColumns<Fast>(r, [&](int s, int c) {
        const int base = s * r.geometry.pitch + 4 * c;
        uint16_t *cw = r.contexts + base;
        if (!(column_words(cw) & kLowBytes))
            return;
        int32_t *x = r.samples + base;
        for (int q = 0; q < 4; ++q) {
            const uint16_t w = cw[q];
            if (!(w & kCtxNeighbours) || (w & (kCtxSignificant | kCtxVisited | kCtxOutside)))
                continue;
            cw[q] = static_cast<uint16_t>(w | kCtxVisited);
            if constexpr (Raw) {
                if (mq_decode_raw(d))
                    Significant<Fast>(r, cw, x, q, s, c, p, mq_decode_raw(d));
            } else {
                if (mq->decode(kSignificanceContext + r.significance_table[w & kCtxNeighbours]))
                    Significant<Fast>(r, cw, x, q, s, c, p, DecodeSign(*mq, w));
            }
        }
    });
}

// The refined magnitude: bit p becomes the decoded bit and the midpoint moves one plane down.
inline int32_t Refine(int32_t x, int p, int bit)
{
    uint32_t v = static_cast<uint32_t>(x);
    v ^= static_cast<uint32_t>(1 - bit) << p;
    v |= p > 0 ? 1u << (p - 1) : 0u;
    return static_cast<int32_t>(v);
}

template <bool Fast, bool Raw> void RefinementPass(block_decoding_record &r)
{
    const int p = r.plane - 1;
    mq_decoder &d = r.decoder;
    std::optional<mq_decode_loop> mq;
    if constexpr (!Raw)
        mq.emplace(ActiveDecoder(r));
    ForColumns<Fast>(r, [&](int s, int c) {
        const int base = s * r.geometry.pitch + 4 * c;
        const uint16_t *cw = r.contexts + base;
        if (!(column_words(cw) & kSignificantBits))
            return;
        int32_t *x = r.samples + base;
        for (int q = 0; q < 4; ++q) {
            const uint16_t w = cw[q];
            if ((w & (kCtxSignificant | kCtxVisited)) != kCtxSignificant)
                continue;
            if constexpr (Raw) {
                x[q] = Refine(x[q], p, mq_decode_raw(d));
            } else {
                const uint32_t above = (static_cast<uint32_t>(x[q]) & kMagnitudeMask) >> p;
                const int context = above > 3                   ? kRefinementContext + 2
                                    : (w & kCtxNeighbours) != 0 ? kRefinementContext + 1
                                                                : kRefinementContext;
                x[q] = Refine(x[q], p, mq->decode(context));
            }
        }
    });
}

template <bool Fast> void DecodeSignificance(block_decoding_record &r)
{
    if (raw_passes_due(r))
        SignificancePass<Fast, true>(r);
    else
        SignificancePass<Fast, false>(r);
}

template <bool Fast> void DecodeRefinement(block_decoding_record &r)
{
    if (raw_passes_due(r))
        RefinementPass<Fast, true>(r);
    else
        RefinementPass<Fast, false>(r);
}
} // namespace

void clear_block_flags(block_decoding_record &r)
{
    const stripe_geometry &g = r.geometry;
    int32_t *start = r.flags - r.flag_pitch - 1;
    std::fill(start, start + (g.stripes + 2) * r.flag_pitch, 0);
    for (int s = 0; s < g.stripes; ++s)
        for (int group = 0; group < g.groups; ++group)
            if (8 * group + 8 > g.width || 4 * s + 4 > g.height)
                r.flags[s * r.flag_pitch + group] = 1;
}

void install_decoder_passes(decoder_pass_function passes[3], bool plain)
{
    if (plain) {
        passes[0] = DecodeCleanup<false>;
        passes[1] = DecodeSignificance<false>;
        passes[2] = DecodeRefinement<false>;
    } else {
        passes[0] = DecodeCleanup<true>;
        passes[1] = DecodeSignificance<true>;
        passes[2] = DecodeRefinement<true>;
    }
}

} // namespace zn::j2k
