// The platform services that engines rely on: messages, random numbers, temp files and paths.
#include "platform/keypoll.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "platform/random.h"
#include "platform/tempfile.h"
#include "support/test_support.h"

#include <clocale>
#include <gtest/gtest.h>
#include <unistd.h>

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
