// The binary arithmetic coder of CABAC: one bin at a time, the interval [low, low + range) is split by
// the probability of the bin's context (a table lookup, no multiplication) and shrinks to the part of
// the bin coded; whenever the range falls below a quarter of the register it is doubled and one code
// bit is decided. The decoder's engine reads exactly what this writes; its state tables serve here.
#pragma once

#include <cstdint>
#include <vector>

namespace h264enc {

// One adaptive probability model: the state of the less probable symbol (0..62 while adapting), which
// symbol is the more probable, and how many bins it coded while usage counting was on (the adaptive
// model choice weighs contexts by it).
struct CabacEncContext
{
    uint16_t state = 0;
    uint8_t MPS = 0;
    uint32_t usage = 0;
};

// The coder of one data partition. Code bits are produced a whole byte at a time: `low` keeps the
// 10-bit interval base and, above it, the `queued` code bits not yet gathered into a byte (a carry
// out of the base may still change them). A finished byte waits in `pending` while a later carry can
// still reach it, with the run of 0xFF bytes behind it (a carry turns them into 0x00); bytes go into
// the buffer only when no carry can change them, so the buffer never has to be rewritten and a saved
// copy of this record is a complete coding state.
struct CabacEncEnv
{
    uint64_t low = 0;
    uint32_t range = 510;
    int queued = -1;  // code bits above the base; starts at -1: the first code bit is never stored
    int pending = -1; // the byte a carry may still reach; -1 before the first byte
    int ff_run = 0;   // 0xFF bytes after pending
    std::vector<uint8_t> *code_buffer = nullptr;
    int *byte_counter = nullptr;      // the partition's byte position, advanced as bytes are stored
    int start_byte_count = 0;         // byte position at the start; after the flush the bytes written since
    int bins = 0;                     // bins coded since the start
    int min_bytes = 0;                // after the flush: the slice payload's minimum length in bytes
    const int *count_usage = nullptr; // the run's usage-counting flag (null: never count)
};

// Starts coding at the partition's current byte position.
void cabac_enc_start(CabacEncEnv *env, std::vector<uint8_t> *code_buffer, int *byte_counter);
// Bits the partition holds so far, counting code bits not yet stored as written: a difference of
// two calls is the length of what was coded in between. Right after the start it is 8 x the start
// position - 1 (the first code bit is never stored).
int cabac_enc_bits_written(const CabacEncEnv *env);
// One bin with a context (any non-zero bin counts as 1); the context adapts.
void cabac_enc_symbol(CabacEncEnv *env, int bin, CabacEncContext *ctx);
// One equiprobable bin.
void cabac_enc_bypass(CabacEncEnv *env, int bin);
// The end-of-slice bin.
void cabac_enc_final(CabacEncEnv *env, int bin);
// Ends the code: the two last bits of the base, the stop bit and zero bits to the byte boundary, all
// stored. The zero bits are added to *stuffing_bits when given. min_bytes becomes
// (bins - mb_span + 31) >> 5, where mb_span is the current macroblock number minus the slice's first.
void cabac_enc_finish(CabacEncEnv *env, int mb_span, int *stuffing_bits);
// A context from its (m, n) pair at quantiser qp: pre = ((m x qp) >> 4) + n clipped to 1..126 (the
// shift rounds towards minus infinity), state and MPS from pre; the usage count is cleared.
void cabac_ctx_init(CabacEncContext *ctx, int m, int n, int qp);

// ---------------------------------------------------------------------------------------------
// The same coder in its plainest form: one code bit at a time, with outstanding bits waiting for a
// carry decision, exactly as the procedure is usually written down. It is the reference the coder
// above is tested against (same bytes, same bit counts at every step).

struct CabacEncEnvReference
{
    uint32_t low = 0;        // below 1024 after each renormalisation step
    uint32_t range = 510;    // 256..510 after renormalisation
    uint32_t bit_buffer = 0; // bits of the next output byte, newest in bit 0
    int bits_to_go = 9;      // free bit places before the next byte is stored
    uint32_t outstanding = 0;
    std::vector<uint8_t> *code_buffer = nullptr;
    int *byte_counter = nullptr;
    int bin_counter = 0;
    int bin_eights = 0; // whole groups of 8 bins folded out of bin_counter; after the flush, min bytes
    int start_byte_count = 0;
    const int *count_usage = nullptr;
};

void cabac_enc_start_reference(CabacEncEnvReference *env, std::vector<uint8_t> *code_buffer,
                               int *byte_counter);
int cabac_enc_bits_written_reference(const CabacEncEnvReference *env);
void cabac_enc_symbol_reference(CabacEncEnvReference *env, int bin, CabacEncContext *ctx);
void cabac_enc_bypass_reference(CabacEncEnvReference *env, int bin);
void cabac_enc_final_reference(CabacEncEnvReference *env, int bin);
void cabac_enc_finish_reference(CabacEncEnvReference *env, int mb_span, int *stuffing_bits);

} // namespace h264enc
