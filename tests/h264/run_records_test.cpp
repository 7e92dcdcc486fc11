// The records every run makes before its first picture: the slice record with its three partitions
// and context sets, and what becomes of a run whose records cannot be allocated. Fixed-size records
// are made to fail by this program's own allocation functions: armed with a size, the next allocation
// of exactly that size fails once.
#include "h264dec/decoder_state.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <functional>
#include <new>

namespace run_records_test {

std::atomic<size_t> g_failSize{0};

void *Allocate(size_t size)
{
    size_t armed = g_failSize.load(std::memory_order_relaxed);
    if (armed != 0 && armed == size && g_failSize.compare_exchange_strong(armed, 0))
        return nullptr;
    return std::malloc(size ? size : 1);
}

void *AllocateOrThrow(size_t size)
{
    if (void *p = Allocate(size))
        return p;
    throw std::bad_alloc();
}

} // namespace run_records_test

void *operator new(size_t size)
{
    return run_records_test::AllocateOrThrow(size);
}
void *operator new[](size_t size)
{
    return run_records_test::AllocateOrThrow(size);
}
void *operator new(size_t size, const std::nothrow_t &) noexcept
{
    return run_records_test::Allocate(size);
}
void *operator new[](size_t size, const std::nothrow_t &) noexcept
{
    return run_records_test::Allocate(size);
}
void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete[](void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, size_t) noexcept
{
    std::free(p);
}
void operator delete[](void *p, size_t) noexcept
{
    std::free(p);
}
void operator delete(void *p, const std::nothrow_t &) noexcept
{
    std::free(p);
}
void operator delete[](void *p, const std::nothrow_t &) noexcept
{
    std::free(p);
}

namespace run_records_test {

namespace {

TEST(RunRecords, TheSliceRecordHoldsThreePartitionsCountingIntoTheRun)
{
    H264DecoderState dec;
    EXPECT_EQ(dec.img.current_slice, &dec.slice);
    EXPECT_EQ(dec.slice.max_part_nr, 3);
    ASSERT_EQ(dec.slice.partitions.size(), 3u);
    for (const DataPartition &dp : dec.slice.partitions) {
        ASSERT_NE(dp.bitstream, nullptr);
        EXPECT_EQ(dp.bitstream->counters, &dec.counters);
    }
    EXPECT_NE(dec.slice.motion_contexts, nullptr);
    EXPECT_NE(dec.slice.texture_contexts, nullptr);
    for (int i : {0, 1, 17, 255})
        EXPECT_EQ(dec.img.quad[i], i * i);

    std::vector<DataPartition> parts = AllocPartition(dec, 2, 100);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_GE(parts[1].bitstream->storage.size(), 100u);
    dec_release_partitions(parts, 2);
    EXPECT_TRUE(parts.empty());
}

// Each allocation of a run's records that fails ends the run with its own text and code 100; the
// boundary of the run shows nothing more.
TEST(RunRecords, AllocationsThatFailEndTheRunWithTheirText)
{
    struct Case
    {
        const char *text;
        std::function<void()> call;
    };
    const Case cases[] = {
        {"Memory allocation for Slice datastruct in NAL-mode 0 failed",
         [] {
             g_failSize = sizeof(DecoderSlice);
             H264DecoderState dec;
         }},
        {"AllocPartition: Memory allocation for Data Partition failed",
         [] {
             H264DecoderState dec;
             AllocPartition(dec, INT_MAX, 0);
         }},
        {"AllocPartition: Memory allocation for Data Partition failed",
         [] {
             H264DecoderState dec;
             AllocPartition(dec, -1, 0);
         }},
        {"AllocPartition: Memory allocation for Bitstream failed",
         [] {
             H264DecoderState dec;
             g_failSize = sizeof(Bitstream);
             AllocPartition(dec, 1, 0);
         }},
        {"AllocPartition: Memory allocation for streamBuffer failed",
         [] {
             H264DecoderState dec;
             AllocPartition(dec, 3, INT_MAX);
         }},
    };
    for (const Case &c : cases) {
        zn::MessageRecorder boxes;
        try {
            c.call();
            ADD_FAILURE() << c.text << ": nothing failed";
        } catch (const H264FatalError &e) {
            EXPECT_STREQ(e.what(), c.text);
            EXPECT_EQ(e.ExitCode(), 100);
            EXPECT_EQ(e.Code(), zn::kMessageShown);
        }
        g_failSize = 0;
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{c.text});
    }
}

} // namespace

} // namespace run_records_test
