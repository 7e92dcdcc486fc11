// The platform services that engines rely on: messages, random numbers, temp files and paths.
#include "platform/keypoll.h"
#include "platform/large_memory.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "platform/random.h"
#include "platform/tempfile.h"
#include "support/test_support.h"

#include <clocale>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

namespace platform_test { // one namespace per test file: a folder compiles as one source

using namespace zn;

TEST(Messages, RecorderKeepsTextsAndAnswersFromScript)
{
    MessageRecorder rec;
    rec.Script({MsgAnswer::No});
    EXPECT_EQ(ShowMessage("Continue?", MsgButtons::YesNo), MsgAnswer::No);
    // Script exhausted: the first button answers.
    EXPECT_EQ(ShowMessage("Again?", MsgButtons::YesNoCancel), MsgAnswer::Yes);
    EXPECT_EQ(ShowMessage("Done"), MsgAnswer::Ok);
    EXPECT_EQ(rec.Texts(), (std::vector<std::string>{"Continue?", "Again?", "Done"}));
}

TEST(Messages, NestedRecordersRestoreTheOuterOne)
{
    MessageRecorder outer;
    {
        MessageRecorder inner;
        ShowMessage("inner");
        EXPECT_EQ(inner.Count(), 1u);
    }
    ShowMessage("outer");
    EXPECT_EQ(outer.Texts(), std::vector<std::string>{"outer"});
}

TEST(Messages, FormatHasNoFixedBuffer)
{
    std::string longPath(5000, 'a');
    std::string s = Format("Cannot open file %s", longPath.c_str());
    EXPECT_EQ(s.size(), 17 + longPath.size());
}

// Messages, reports and tables are read back by programs: the number format must not follow the
// user's locale, and formatting must not switch the process locale either.
TEST(Messages, FormatUsesTheDecimalPointUnderAGermanLocale)
{
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
        if (zntest::RunningUnderCi())
            FAIL() << "locale de_DE.UTF-8 missing (scripts/deps makes it)";
        GTEST_SKIP() << "locale de_DE.UTF-8 missing";
    }
    const std::string s = Format("%.2f %g", 2.5, 0.125);
    const std::string processPoint = std::localeconv()->decimal_point;
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(s, "2.50 0.125");
    EXPECT_EQ(processPoint, ",");
}

TEST(Random, RangeAndReproducibility)
{
    SeedRand(12345);
    std::vector<int> first;
    int lo = 1 << 30, hi = -1;
    for (int i = 0; i < 100000; ++i) {
        int v = Rand();
        lo = std::min(lo, v);
        hi = std::max(hi, v);
        if (i < 10)
            first.push_back(v);
    }
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, kRandMax);
    SeedRand(12345);
    for (int v : first)
        EXPECT_EQ(Rand(), v);
}

TEST(Random, PinnedSeedMakesClockSeedingReproducible)
{
    PinRandSeed(7);
    SeedRandFromClock();
    int a = Rand();
    SeedRandFromClock();
    EXPECT_EQ(Rand(), a);
    UnpinRandSeed();
}

TEST(TempFiles, CreatedWithPrefixInFolder)
{
    zntest::ScratchDir dir;
    TempFile t1 = CreateTempFile(dir.Path(), "sph");
    TempFile t2 = CreateTempFile(dir.Path(), "sph");
    ASSERT_TRUE(t1.file && t2.file);
    EXPECT_NE(t1.path, t2.path);
    EXPECT_EQ(t1.path.rfind(dir.Path() + "sph", 0), 0u);
    std::fclose(t1.file);
    std::fclose(t2.file);
    TempFile bad = CreateTempFile(dir.Path() + "missing/", "ezw");
    EXPECT_EQ(bad.file, nullptr);
    EXPECT_TRUE(bad.path.empty());
}

TEST(Paths, Table)
{
    EXPECT_TRUE(ContainsNoCase("/data/Clip.YUV", ".yuv"));
    EXPECT_TRUE(EndsWithNoCase("/data/Plot.EPS", ".eps"));
    EXPECT_FALSE(EndsWithNoCase("eps", ".eps"));
    EXPECT_EQ(FileName("/a/b/c.tif"), "c.tif");
    EXPECT_EQ(FileName("c.tif"), "c.tif");
    EXPECT_EQ(DirName("/a/b/c.tif"), "/a/b/");
    EXPECT_EQ(TitleBeforeFirstDot("/x.y/photo.small.bmp"), "photo");
    EXPECT_EQ(TitleBeforeFirstDot("/x/.hidden.bmp"), ".hidden.bmp");
    EXPECT_EQ(WithTrailingSlash("/home/u"), "/home/u/");
    EXPECT_EQ(WithTrailingSlash("/home/u//"), "/home/u/");
    EXPECT_EQ(WithTrailingSlash("/"), "/");
    EXPECT_EQ(WithTrailingSlash(""), "");
}

// The large-page hint changes no byte: blocks of every size and alignment around the threshold and
// the 2 MB page keep what was written before and after it, zeros included.
TEST(LargeMemory, HintKeepsEveryByte)
{
    AdviseLargeBlock(nullptr, kLargeBlockBytes * 2); // nothing to advise
    const std::size_t MB = std::size_t{1} << 20;
    for (std::size_t bytes : {std::size_t{1}, kLargeBlockBytes - 1, kLargeBlockBytes, 5 * MB + 4093, 9 * MB})
        for (std::size_t skew : {std::size_t{0}, std::size_t{8}, std::size_t{4096 + 3}}) {
            SCOPED_TRACE(testing::Message() << bytes << " bytes at offset " << skew);
            auto *block = static_cast<unsigned char *>(std::calloc(bytes + skew, 1));
            ASSERT_NE(block, nullptr);
            block[skew] = 7;
            AdviseLargeBlock(block + skew, bytes);
            EXPECT_EQ(block[skew], 7);
            EXPECT_EQ(block[skew + bytes - 1], bytes == 1 ? 7 : 0);
            for (std::size_t k = 1; k < bytes; k += 4093)
                block[skew + k] = static_cast<unsigned char>(k);
            for (std::size_t k = 1; k < bytes; k += 4093)
                ASSERT_EQ(block[skew + k], static_cast<unsigned char>(k));
            std::free(block);
        }
    std::vector<double, LargeBlockAllocator<double>> plane(kLargeBlockBytes / sizeof(double) + 3, 0.5);
    EXPECT_EQ(plane.front(), 0.5);
    EXPECT_EQ(plane.back(), 0.5);
}

TEST(KeyPoll, ForgettingCallsTheInstalledForgetter)
{
    ForgetKeyPresses(); // none installed: nothing happens
    int calls = 0;
    KeyForgetter old = SetKeyForgetter([&] { ++calls; });
    ForgetKeyPresses();
    EXPECT_EQ(calls, 1);
    SetKeyForgetter(old);
}

TEST(KeyPoll, ScriptedPoller)
{
    int calls = 0;
    KeyPoller old = SetKeyPoller([&] { return ++calls == 2; });
    EXPECT_FALSE(TakeKeyPress());
    EXPECT_TRUE(TakeKeyPress());
    SetKeyPoller(old);
}

} // namespace platform_test
