// The codeword heap, the block buffer pool and the block coder's tables.
#include "jpeg2000/block_buffer_pool.h"
#include "jpeg2000/codeword_heap.h"
#include "jpeg2000/coding_tables.h"
#include "jpeg2000/local_services.h"

#include <gtest/gtest.h>

#include <cmath>

namespace coding_stores_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

namespace {
int FreeBlocks(const codeword_heap &heap)
{
    int n = 0;
    for (const heap_chunk *c = heap.chunks(); c; c = c->next)
        n += c->free_count;
    return n;
}
} // namespace

TEST(J2kHeap, The65thBlockComesFromASecondChunkAtTheHead)
{
    J2kRun run;
    codeword_heap heap;
    std::vector<code_byte_block *> blocks;
    for (int i = 0; i < 64; ++i)
        blocks.push_back(heap.get_block());
    const heap_chunk *first = heap.chunks();
    EXPECT_EQ(first->free_count, 0);
    code_byte_block *b65 = heap.get_block();
    EXPECT_NE(heap.chunks(), first);
    EXPECT_EQ(heap.chunks()->next, first);
    EXPECT_EQ(b65->owner, heap.chunks());
    EXPECT_EQ(b65->next, nullptr);
    heap.return_block(blocks[10]);
    EXPECT_EQ(blocks[10]->owner, nullptr);
    // The head chunk is scanned first: the next block comes from it, not from the freed older slot.
    EXPECT_EQ(heap.get_block()->owner, heap.chunks());
    EXPECT_EQ(first->free_count, 1);
}

TEST(J2kHeap, ASharedBlockReturnsOnlyWhenBothCodesAreReleased)
{
    J2kRun run;
    codeword_heap heap;
    code_byte_block *a = heap.get_block(), *b = heap.get_block(), *c = heap.get_block();
    a->next = b;
    b->next = c;
    int free_before = FreeBlocks(heap);
    // Code 1: words 0..2 of a. Code 2: from word 3 of a to word 5 of c.
    heap.release_tail(a, 3, c, 5); // code 2 released first
    EXPECT_NE(a->owner, nullptr);  // a still holds code 1
    EXPECT_EQ(b->owner, nullptr);  // strictly between: returned outright
    EXPECT_NE(c->owner, nullptr);  // words 5..7 of c not released
    for (int w = 0; w < 8; ++w)
        EXPECT_EQ(a->released[w], w >= 3 ? 1 : 0);
    heap.release_tail(a, 0, a, 3); // code 1: a range inside one block
    EXPECT_EQ(a->owner, nullptr);
    for (int w = 0; w < 8; ++w)
        EXPECT_EQ(a->released[w], 0); // cleared for the next user
    EXPECT_EQ(FreeBlocks(heap), free_before + 2);
}

TEST(J2kPool, GetAfterPutReturnsTheSameBufferAndThe17thGrowsTheArray)
{
    J2kRun run;
    block_buffer_pool pool(4, 8);
    int32_t *b = pool.get();
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(b[i], 0);
    b[5] = 99;
    pool.put(b);
    int32_t *again = pool.get();
    EXPECT_EQ(again, b);
    EXPECT_EQ(again[5], 99); // old contents kept
    std::vector<int32_t *> held{again};
    for (int i = 1; i < 16; ++i)
        held.push_back(pool.get());
    EXPECT_EQ(pool.capacity(), 16);
    held.push_back(pool.get());
    EXPECT_EQ(pool.created(), 17);
    EXPECT_EQ(pool.capacity(), 33);
    for (int32_t *p : held)
        pool.put(p);
    EXPECT_EQ(pool.held(), 17);
}

TEST(J2kTables, ContextLabelsFollowTheNeighbourhoodRules)
{
    build_coding_tables();
    struct Case
    {
        const uint8_t *table;
        int index, label;
    } cases[] = {
        {significance_table_a, 0x18, 8}, // left and right
        {significance_table_c, 0xA5, 8}, // four diagonals
        {significance_table_a, 0x21, 2}, // two diagonals
        {significance_table_a, 0x00, 0}, {significance_table_a, 0x01, 1}, {significance_table_a, 0x02, 3},
        {significance_table_a, 0x42, 4}, {significance_table_a, 0x08, 5}, {significance_table_a, 0x09, 6},
        {significance_table_a, 0x0A, 7}, {significance_table_b, 0x02, 5}, {significance_table_b, 0x42, 8},
        {significance_table_b, 0x08, 3}, {significance_table_b, 0x18, 4}, {significance_table_c, 0x01, 3},
        {significance_table_c, 0x03, 4}, {significance_table_c, 0x1B, 5}, {significance_table_c, 0x05, 6},
        {significance_table_c, 0x0D, 7}, {significance_table_c, 0x18, 2}, {significance_table_c, 0x08, 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.table[c.index], c.label) << std::hex << c.index;
    EXPECT_EQ(significance_table_for(3), significance_table_c);
    EXPECT_EQ(significance_table_for(1), significance_table_b);
    EXPECT_EQ(significance_table_for(2), significance_table_a);
    EXPECT_EQ(significance_table_for(0), significance_table_a);
}

TEST(J2kTables, SignContextsAndFlips)
{
    build_coding_tables();
    struct Case
    {
        int index, context, flip;
    } cases[] = {
        {4, 16, 0}, {8, 16, 1}, {2, 14, 1}, {0, 13, 0},  {1, 14, 0},
        {5, 17, 0}, {9, 15, 1}, {6, 15, 0}, {10, 17, 1},
    };
    for (const auto &c : cases) {
        uint32_t e = uint32_t(sign_context_table[c.index]);
        EXPECT_EQ(13 + int(e & 0x1F), c.context) << c.index;
        EXPECT_EQ(int(e >> 31), c.flip) << c.index;
    }
}

TEST(J2kTables, InitialStatesAndDistortionRows)
{
    build_coding_tables();
    EXPECT_EQ(initial_context_states[0], 2 * 3);
    EXPECT_EQ(initial_context_states[1], 2 * 4);
    for (int k = 2; k < 18; ++k)
        EXPECT_EQ(initial_context_states[k], 0);
    EXPECT_EQ(initial_context_states[18], 2 * 46);
    struct Row
    {
        int i;
        int16_t sl, se, rl, re;
    } rows[] = {{0, -18432, 0, 6144, 8192},
                {32, -6144, 2048, 2048, 2048},
                {64, 6144, 8192, -2048, 0},
                {96, 18432, 18432, 2048, 2048},
                {127, 30336, 32258, 6016, 7938}};
    for (const auto &r : rows) {
        EXPECT_EQ(distortion_significance_lossy[r.i], r.sl) << r.i;
        EXPECT_EQ(distortion_significance_exact[r.i], r.se) << r.i;
        EXPECT_EQ(distortion_refinement_lossy[r.i], r.rl) << r.i;
        EXPECT_EQ(distortion_refinement_exact[r.i], r.re) << r.i;
    }
}

} // namespace coding_stores_test
