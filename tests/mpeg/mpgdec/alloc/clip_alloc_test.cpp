// The decoder's clip table comes from an allocation that can fail: the run ends with its message and
// nothing is decoded, and the next run works. This program replaces the non-throwing array allocation
// (which only the table uses) so that a test can make it fail.
#include "mpeg/mpgdec/decode_stream.h"
#include "mpeg/mpgdec/field_stream.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <new>

namespace {
bool g_failNextArray = false;
}

// As the library's own: the throwing form, its failure turned into a null pointer; or a failure on
// demand.
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept
{
    if (g_failNextArray) {
        g_failNextArray = false;
        return nullptr;
    }
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

namespace clip_alloc_test { // one namespace per test file: a folder compiles as one source

TEST(MpegDecoderAllocation, AClipTableThatCannotBeAllocatedEndsTheRunWithItsMessage)
{
    const std::vector<uint8_t> stream = zntest::FieldCodedStream(
        32, 32, 2, [](int f, int field, int c, int x, int y) { return 60 + f + field + c + x + y; });
    zn::MessageRecorder rec;
    g_failNextArray = true;
    const zntest::DecodedStream failed = zntest::DecodeMpegBytes(stream);
    EXPECT_FALSE(g_failNextArray);
    EXPECT_TRUE(failed.opened);
    EXPECT_FALSE(failed.error.empty());
    EXPECT_TRUE(failed.frames.empty());
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{"mpgdec_initdecoder - malloc failed\n"});

    const zntest::DecodedStream again = zntest::DecodeMpegBytes(stream);
    EXPECT_EQ(again.error, "");
    EXPECT_EQ(again.frames.size(), 2u);
    EXPECT_EQ(rec.Count(), 1u);
}

} // namespace clip_alloc_test
