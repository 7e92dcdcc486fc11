// The arithmetic decoder. The interval [0, range) is split at range - rLPS: values below belong to the
// most probable symbol. rLPS comes from a table by probability state and range quarter, so no
// multiplication is needed; after each bin the range is doubled back into 256..510, pulling in one
// stream bit per doubling.
#include "h264dec/cabac_engine.h"

#include "h264dec/dec_memory.h"

#include <algorithm>
#include <new>

namespace {

inline uint32_t NextBit(CabacDecoder *dec)
{
    if (--dec->bits_left < 0) {
        const int pos = *dec->stream_pos;
        // Past the slice's bytes the stream reads as zeros: a damaged slice decodes to garbage that
        // the element checks catch, never to a read outside the buffer.
        dec->current_byte = pos >= 0 && pos < dec->stream_length ? dec->stream[pos] : 0u;
        *dec->stream_pos = pos + 1;
        dec->bits_left = 7;
    }
    return (dec->current_byte >> dec->bits_left) & 1u;
}

inline void Renormalise(CabacDecoder *dec)
{
    while (dec->range < 256) {
        dec->range <<= 1;
        dec->value = (dec->value << 1) | NextBit(dec);
    }
}

template <class Set, class Init> void InitSet(Set *set, const Init &init, int qp, int skipFrom, int skipCount)
{
    // Both records list their groups in the same order with the same shapes, so they can be walked
    // as flat arrays in step.
    static_assert(sizeof(Set) / sizeof(CabacContext) == sizeof(Init) / sizeof(CabacInitPair));
    auto *ctx = reinterpret_cast<CabacContext *>(set);
    const auto *pair = reinterpret_cast<const CabacInitPair *>(&init);
    const int n = static_cast<int>(sizeof(Set) / sizeof(CabacContext));
    for (int i = 0; i < n; ++i)
        if (i < skipFrom || i >= skipFrom + skipCount)
            cabac_init_context(&ctx[i], qp, pair[i]);
}

} // namespace

void cabac_start_decoding(CabacDecoder *dec, const uint8_t *buffer, int length, int first_byte, int *position)
{
    dec->stream = buffer;
    dec->stream_length = length;
    dec->stream_pos = position;
    *position = first_byte;
    dec->bits_left = 0;
    dec->current_byte = 0;
    dec->value = 0;
    for (int i = 0; i < 9; ++i)
        dec->value = (dec->value << 1) | NextBit(dec);
    dec->range = 510;
}

int cabac_bits_read(const CabacDecoder *dec)
{
    return 8 * *dec->stream_pos - dec->bits_left - 16;
}

int cabac_decode_symbol(CabacDecoder *dec, CabacContext *ctx)
{
    const uint32_t lps = kRangeTabLPS[ctx->state][(dec->range >> 6) & 3];
    dec->range -= lps;
    int bin;
    if (dec->value < dec->range) {
        bin = ctx->mps;
        ctx->state = kTransIdxMPS[ctx->state];
    } else {
        dec->value -= dec->range;
        dec->range = lps;
        bin = 1 - ctx->mps;
        if (ctx->state == 0)
            ctx->mps = static_cast<uint8_t>(1 - ctx->mps);
        ctx->state = kTransIdxLPS[ctx->state];
    }
    Renormalise(dec);
    return bin;
}

int cabac_decode_bypass(CabacDecoder *dec)
{
    dec->value = (dec->value << 1) | NextBit(dec);
    if (dec->value < dec->range)
        return 0;
    dec->value -= dec->range;
    return 1;
}

int cabac_decode_final(CabacDecoder *dec)
{
    dec->range -= 2;
    if (dec->value >= dec->range)
        return 1;
    Renormalise(dec);
    return 0;
}

void cabac_init_context(CabacContext *ctx, int qp, CabacInitPair pair)
{
    // The quantiser tilts the start state: contexts of fine quantisers begin expecting more detail.
    const int s = std::clamp(((pair.m * qp) >> 4) + pair.n, 1, 126);
    if (s >= 64) {
        ctx->state = static_cast<uint16_t>(s - 64);
        ctx->mps = 1;
    } else {
        ctx->state = static_cast<uint16_t>(63 - s);
        ctx->mps = 0;
    }
}

void cabac_init_motion_contexts(MotionInfo *mi, bool islice, int model, int qp)
{
    // Row 3 of the macroblock-type group is neither initialised nor used.
    InitSet(mi, islice ? CabacMotionInitI() : CabacMotionInitModel(model), qp, 3 * 11, 11);
}

void cabac_init_texture_contexts(TextureInfo *ti, bool islice, int model, int qp)
{
    InitSet(ti, islice ? CabacTextureInitI() : CabacTextureInitModel(model), qp, 0, 0);
}

MotionInfo *dec_create_contexts_MotionInfo()
{
    auto *set = new (std::nothrow) MotionInfo();
    if (!set)
        dec_out_of_memory_exit("create_contexts_MotionInfo: deco_ctx");
    return set;
}

TextureInfo *dec_create_contexts_TextureInfo()
{
    auto *set = new (std::nothrow) TextureInfo();
    if (!set)
        dec_out_of_memory_exit("create_contexts_TextureInfo: deco_ctx");
    return set;
}

void release_cabac_contexts(MotionInfo *set)
{
    delete set;
}

void release_cabac_contexts(TextureInfo *set)
{
    delete set;
}
