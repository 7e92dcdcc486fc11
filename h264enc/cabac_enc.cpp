// The arithmetic coder. Renormalisation doubles the range until it is at least 256; each doubling
// decides one code bit. Here the doublings of one bin happen in one shift and the decided bits are
// taken out eight at a time; the reference coder below decides them one by one.
#include "h264enc/cabac_enc.h"

#include "h264dec/cabac_engine.h"

#include <algorithm>

namespace h264enc {

namespace {

// Stores one byte at the partition's byte position; the buffer grows, so nothing is written past it.
inline void StoreByte(std::vector<uint8_t> &buffer, int *byte_counter, uint8_t byte)
{
    const size_t at = static_cast<size_t>(*byte_counter);
    if (at >= buffer.size())
        buffer.resize(std::max<size_t>(64, 2 * buffer.size() + 1));
    buffer[at] = byte;
    ++*byte_counter;
}

// A byte of code bits with the carry out of it in bit 8. A carry adds one to the pending byte and
// turns the 0xFF bytes behind it into 0x00; a 0xFF byte itself waits, since a later carry would
// roll it over.
inline void PutByte(CabacEncEnv *env, uint32_t out)
{
    if (env->pending < 0) {
        // The first byte: its carry position is the unstored first code bit, which is always 0.
        env->pending = static_cast<int>(out & 0xFF);
        return;
    }
    if (out == 0xFF) {
        ++env->ff_run;
        return;
    }
    const uint32_t carry = out >> 8;
    std::vector<uint8_t> &buffer = *env->code_buffer;
    StoreByte(buffer, env->byte_counter, static_cast<uint8_t>(static_cast<uint32_t>(env->pending) + carry));
    for (; env->ff_run > 0; --env->ff_run)
        StoreByte(buffer, env->byte_counter, static_cast<uint8_t>(0xFF + carry));
    env->pending = static_cast<int>(out & 0xFF);
}

// Shifts the interval by `shift` doublings and gathers a byte when eight code bits have come up.
inline void Renormalise(CabacEncEnv *env, int shift)
{
    env->low <<= shift;
    env->queued += shift;
    if (env->queued >= 8) {
        const int at = env->queued + 2; // the lowest of the eight bits above the 10-bit base
        const uint32_t out = static_cast<uint32_t>(env->low >> at);
        env->low &= (uint64_t{1} << at) - 1;
        env->queued -= 8;
        PutByte(env, out);
    }
}

// Doublings that bring a range of 2..510 back to 256..510.
inline int ShiftFor(uint32_t range)
{
    return __builtin_clz(range) - 23;
}

} // namespace

void cabac_enc_start(CabacEncEnv *env, std::vector<uint8_t> *code_buffer, int *byte_counter)
{
    const int *usage = env->count_usage;
    *env = CabacEncEnv();
    env->count_usage = usage;
    env->code_buffer = code_buffer;
    env->byte_counter = byte_counter;
    env->start_byte_count = *byte_counter;
}

int cabac_enc_bits_written(const CabacEncEnv *env)
{
    // Every doubling decides one bit; the first one decided is never stored.
    const int produced = *env->byte_counter + (env->pending >= 0 ? 1 : 0) + env->ff_run;
    return 8 * produced + env->queued;
}

void cabac_enc_symbol(CabacEncEnv *env, int bin, CabacEncContext *ctx)
{
    const int state = ctx->state;
    const uint32_t lps = kRangeTabLPS[state][(env->range >> 6) & 3];
    if (env->count_usage && *env->count_usage)
        ++ctx->usage;
    env->range -= lps;
    ++env->bins;
    if ((bin != 0) == (ctx->MPS != 0)) {
        ctx->state = kTransIdxMPS[state];
        if (env->range >= 256)
            return;
        env->range <<= 1;
        Renormalise(env, 1);
        return;
    }
    env->low += env->range;
    env->range = lps;
    if (state == 0)
        ctx->MPS = static_cast<uint8_t>(1 - ctx->MPS);
    ctx->state = kTransIdxLPS[state];
    const int shift = ShiftFor(env->range);
    env->range <<= shift;
    Renormalise(env, shift);
}

void cabac_enc_bypass(CabacEncEnv *env, int bin)
{
    env->low <<= 1;
    if (bin)
        env->low += env->range;
    ++env->bins;
    ++env->queued;
    if (env->queued >= 8) {
        const int at = env->queued + 2;
        const uint32_t out = static_cast<uint32_t>(env->low >> at);
        env->low &= (uint64_t{1} << at) - 1;
        env->queued -= 8;
        PutByte(env, out);
    }
}

void cabac_enc_final(CabacEncEnv *env, int bin)
{
    env->range -= 2;
    ++env->bins;
    if (bin) {
        env->low += env->range;
        env->range = 2 << 7;
        Renormalise(env, 7);
    } else if (env->range < 256) {
        env->range <<= 1;
        Renormalise(env, 1);
    }
}

void cabac_enc_finish(CabacEncEnv *env, int mb_span, int *stuffing_bits)
{
    // The queued bits, bits 9 and 8 of the base and the stop bit; the carry sits one above them.
    uint64_t v = ((env->low >> 8) << 1) | 1u;
    int n = env->queued + 3;
    while (n >= 8) {
        const uint32_t out = static_cast<uint32_t>(v >> (n - 8));
        v &= (uint64_t{1} << (n - 8)) - 1;
        n -= 8;
        PutByte(env, out);
    }
    const int padding = n > 0 ? 8 - n : 0;
    if (n > 0)
        PutByte(env, static_cast<uint32_t>(v << padding));
    if (stuffing_bits)
        *stuffing_bits += padding;
    std::vector<uint8_t> &buffer = *env->code_buffer;
    if (env->pending >= 0)
        StoreByte(buffer, env->byte_counter, static_cast<uint8_t>(env->pending));
    for (; env->ff_run > 0; --env->ff_run)
        StoreByte(buffer, env->byte_counter, 0xFF);
    env->pending = -1;
    env->low = 0;
    env->queued = 0;
    env->start_byte_count = *env->byte_counter - env->start_byte_count;
    env->min_bytes = (env->bins - mb_span + 31) >> 5;
}

void cabac_ctx_init(CabacEncContext *ctx, int m, int n, int qp)
{
    // The same start state as the decoder's, which shares its arithmetic.
    CabacContext c;
    cabac_init_context(&c, qp, CabacInitPair{m, n});
    ctx->state = c.state;
    ctx->MPS = c.mps;
    ctx->usage = 0;
}

// ---------------------------------------------------------------------------------------------
// Reference coder

namespace {

void PutBitReference(CabacEncEnvReference *env, uint32_t b)
{
    auto put = [env](uint32_t bit) {
        env->bit_buffer = (env->bit_buffer << 1) | bit;
        if (--env->bits_to_go == 0) {
            StoreByte(*env->code_buffer, env->byte_counter, static_cast<uint8_t>(env->bit_buffer & 0xFF));
            env->bits_to_go = 8;
            while (env->bin_counter > 7) {
                env->bin_counter -= 8;
                ++env->bin_eights;
            }
        }
    };
    put(b);
    for (; env->outstanding > 0; --env->outstanding)
        put(1 - b);
}

void RenormaliseReference(CabacEncEnvReference *env)
{
    while (env->range < 256) {
        if (env->low >= 512) {
            PutBitReference(env, 1);
            env->low -= 512;
        } else if (env->low >= 256) {
            ++env->outstanding;
            env->low -= 256;
        } else {
            PutBitReference(env, 0);
        }
        env->range <<= 1;
        env->low <<= 1;
    }
}

} // namespace

void cabac_enc_start_reference(CabacEncEnvReference *env, std::vector<uint8_t> *code_buffer,
                               int *byte_counter)
{
    const int *usage = env->count_usage;
    *env = CabacEncEnvReference();
    env->count_usage = usage;
    env->code_buffer = code_buffer;
    env->byte_counter = byte_counter;
    env->start_byte_count = *byte_counter;
}

int cabac_enc_bits_written_reference(const CabacEncEnvReference *env)
{
    return 8 * *env->byte_counter + static_cast<int>(env->outstanding) + 8 - env->bits_to_go;
}

void cabac_enc_symbol_reference(CabacEncEnvReference *env, int bin, CabacEncContext *ctx)
{
    const uint32_t lps = kRangeTabLPS[ctx->state][(env->range >> 6) & 3];
    if (env->count_usage && *env->count_usage)
        ++ctx->usage;
    env->range -= lps;
    if ((bin != 0) == (ctx->MPS != 0)) {
        ctx->state = kTransIdxMPS[ctx->state];
    } else {
        env->low += env->range;
        env->range = lps;
        if (ctx->state == 0)
            ctx->MPS = static_cast<uint8_t>(1 - ctx->MPS);
        ctx->state = kTransIdxLPS[ctx->state];
    }
    RenormaliseReference(env);
    ++env->bin_counter;
}

void cabac_enc_bypass_reference(CabacEncEnvReference *env, int bin)
{
    env->low <<= 1;
    if (bin)
        env->low += env->range;
    if (env->low >= 1024) {
        PutBitReference(env, 1);
        env->low -= 1024;
    } else if (env->low >= 512) {
        ++env->outstanding;
        env->low -= 512;
    } else {
        PutBitReference(env, 0);
    }
    ++env->bin_counter;
}

void cabac_enc_final_reference(CabacEncEnvReference *env, int bin)
{
    env->range -= 2;
    if (bin) {
        env->low += env->range;
        env->range = 2;
        RenormaliseReference(env);
    } else if (env->range < 256) {
        RenormaliseReference(env);
    }
    ++env->bin_counter;
}

void cabac_enc_finish_reference(CabacEncEnvReference *env, int mb_span, int *stuffing_bits)
{
    PutBitReference(env, (env->low >> 9) & 1);
    PutBitReference(env, (env->low >> 8) & 1);
    PutBitReference(env, 1); // the stop bit
    const int padding = env->bits_to_go == 8 ? 0 : env->bits_to_go;
    if (stuffing_bits)
        *stuffing_bits += padding;
    for (int k = 0; k < padding; ++k)
        PutBitReference(env, 0);
    env->bin_eights = env->bin_counter + 8 * env->bin_eights;
    env->start_byte_count = *env->byte_counter - env->start_byte_count;
    env->bin_eights = (env->bin_eights - mb_span + 31) >> 5;
}

} // namespace h264enc
