// Runtime services: per-run memory, box-pair messages with their wrapping, and errors that end the
// run instead of the program.
#include "jpeg2000/command_line.h"
#include "jpeg2000/local_services.h"

#include "platform/errors.h"
#include "platform/log.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

namespace local_services_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

namespace {
// The line boxes only: every second box is the fixed header, which is checked once here.
std::vector<std::string> Lines(const zn::MessageRecorder &rec)
{
    std::vector<std::string> lines;
    auto texts = rec.Texts();
    for (size_t i = 0; i < texts.size(); i += 2) {
        EXPECT_EQ(texts[i], kInternalErrorHeader);
        if (i + 1 < texts.size())
            lines.push_back(texts[i + 1]);
    }
    EXPECT_EQ(texts.size() % 2, 0u);
    return lines;
}
} // namespace

TEST(J2kMessages, WrappingFollowsTheWordAndLineRules)
{
    struct Case
    {
        int width;
        const char *text;
        std::vector<std::string> lines;
    } cases[] = {
        {10, "abc abcdefghijklm", {"abc", "abcdefghij", "klm"}},
        {10, "rate 7 %", {"rate 7"}},           // a percent sign without a conversion letter drops
        {10, "one\n\ntwo", {"one", "", "two"}}, // two newlines: an empty line between
        {10, "100%% sure", {"100% sure"}},
        {20, "a  b\t c", {"a b c"}},
        {5, "abcdefghijkl", {"abcde", "fghij", "kl"}},
        {20, "x\n   y", {"x", "y"}}, // blanks after a newline are skipped
        {20, "", {""}},
    };
    for (const auto &c : cases) {
        zn::MessageRecorder rec;
        local_printf(0, c.width, c.text, 0);
        EXPECT_EQ(Lines(rec), c.lines) << c.text;
    }
}

TEST(J2kMessages, ConversionsAreSubstitutedIntoTheWordStream)
{
    zn::MessageRecorder rec;
    local_printf(0, 76, "Warning: Marker code %0x in tile %d was not accessed! %s %5.2f%%", 0xff64, 3, "x y",
                 2.5);
    EXPECT_EQ(Lines(rec),
              std::vector<std::string>{"Warning: Marker code ff64 in tile 3 was not accessed! x y 2.50%"});
}

TEST(J2kMessages, AWarningShowsOncePerRunAndRepeatsGoToTheLog)
{
    std::vector<std::string> logged;
    auto previous = zn::SetLogSink([&](zn::LogLevel, const std::string &t) { logged.push_back(t); });
    zn::MessageRecorder rec;
    {
        J2kRun run;
        for (int code : {0xff60, 0xff61, 0xff62})
            local_printf(0, 76, "Warning: Marker code %0x in global header was not accessed!", code);
    }
    EXPECT_EQ(rec.Count(), 2u);
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_NE(logged[1].find("ff62"), std::string::npos);
    {
        J2kRun next; // a new run shows it again
        local_printf(0, 76, "Warning: Marker code %0x in global header was not accessed!", 0xff60);
    }
    EXPECT_EQ(rec.Count(), 4u);
    zn::SetLogSink(previous);
}

TEST(J2kMessages, LocalErrorShowsErrorThenTheMessageAndAbortsTheRun)
{
    zn::MessageRecorder rec;
    try {
        local_error("Unable to open input file, \"%s\"!", "/no/such/file.j2k");
        FAIL();
    } catch (const zn::RunAborted &e) {
        EXPECT_EQ(e.Code(), zn::kMessageShown);
        EXPECT_NE(std::string(e.what()).find("/no/such/file.j2k"), std::string::npos);
    }
    auto lines = Lines(rec);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "ERROR");
    EXPECT_EQ(lines[1], "Unable to open input file, \"/no/such/file.j2k\"!");
    for (const auto &l : lines)
        EXPECT_LE(l.size(), 70u);
}

TEST(J2kMemory, BlocksAreZeroedResizedAndFreedWithTheirRun)
{
    J2kRun run;
    auto *a = static_cast<unsigned char *>(local_malloc("TEST", 16));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(a[i], 0);
    a[0] = 7;
    auto *b = static_cast<unsigned char *>(local_realloc(a, 4096));
    EXPECT_EQ(b[0], 7);
    for (int i = 16; i < 4096; ++i)
        ASSERT_EQ(b[i], 0);
    void *c = local_malloc("TEST", 3);
    EXPECT_EQ(run.LiveBlocks(), 2u);
    local_free(c);
    EXPECT_EQ(run.LiveBlocks(), 1u);
    // b stays with the run, which frees it: the sanitizer build checks that nothing leaks.
}

TEST(J2kMemory, AFailedAllocationShowsItsBoxAndAbortsTheRun)
{
    zn::MessageRecorder rec;
    J2kRun run;
    EXPECT_THROW(local_malloc("TEST", SIZE_MAX - 4), zn::RunAborted);
    ASSERT_EQ(rec.Count(), 1u);
    EXPECT_EQ(rec.Texts()[0], "local_malloc - Failed to allocate memory");
    void *small = local_malloc("TEST", 8);
    EXPECT_THROW(local_realloc(small, SIZE_MAX - 1), zn::RunAborted);
}

} // namespace local_services_test
