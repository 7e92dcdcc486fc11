// The argument object: parsing, choosing among repeated and tile-specific options, and the report
// of arguments nobody asked for.
#include "jpeg2000/command_line.h"
#include "jpeg2000/local_services.h"

#include "platform/errors.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

namespace command_line_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

namespace {
struct Parsed
{
    std::vector<const char *> argv;
    std::unique_ptr<command_line> cl = create_command_line();
    explicit Parsed(std::vector<const char *> words) : argv(std::move(words))
    {
        cl->parse(static_cast<int>(argv.size()), argv.data());
    }
};
} // namespace

TEST(J2kCommandLine, ProgramNameAloneTerminatesSilently)
{
    zn::MessageRecorder rec;
    Parsed p({"prog"});
    EXPECT_EQ(p.cl->find("-Flev", -1), -1);
    EXPECT_NO_THROW(p.cl->terminate(1));
    EXPECT_EQ(rec.Count(), 0u);
}

TEST(J2kCommandLine, TileInstanceAndGlobalInstance)
{
    zn::MessageRecorder rec;
    Parsed p({"prog", "-Flev+2", "3", "-Flev", "5"});
    const char *const *params = nullptr;
    EXPECT_EQ(p.cl->find("-Flev", -1, &params), 1);
    EXPECT_STREQ(params[0], "5");
    EXPECT_EQ(p.cl->find("-Flev", 2, &params), 1);
    EXPECT_STREQ(params[0], "3");
    EXPECT_EQ(p.cl->find("-Flev", 1, &params), 1); // no own instance: the global one
    EXPECT_STREQ(params[0], "5");
    EXPECT_EQ(p.cl->tile_has_arguments(2), 1);
    EXPECT_EQ(p.cl->tile_has_arguments(1), 0);
    EXPECT_NO_THROW(p.cl->terminate(1)); // both marked used
    EXPECT_EQ(rec.Count(), 0u);
}

TEST(J2kCommandLine, ARepeatReadOnlyGloballyIsReportedAsUnused)
{
    zn::MessageRecorder rec;
    Parsed p({"prog", "-Qstep", "0.1", "-Qstep", "0.2", "-Cer"});
    const char *const *params = nullptr;
    EXPECT_EQ(p.cl->find("-Qstep", -1, &params), 1);
    EXPECT_STREQ(params[0], "0.2");
    EXPECT_THROW(p.cl->terminate(1), zn::RunAborted);
    auto texts = rec.Texts();
    std::vector<std::string> lines;
    for (size_t i = 1; i < texts.size(); i += 2)
        lines.push_back(texts[i]);
    // Newest first: "-Cer" was given last.
    auto cer = std::find(lines.begin(), lines.end(), "\"-Cer\"");
    auto qstep = std::find(lines.begin(), lines.end(), "\"-Qstep\"");
    ASSERT_NE(cer, lines.end());
    ASSERT_NE(qstep, lines.end());
    EXPECT_LT(cer, qstep);
    EXPECT_EQ(lines[0], "Error encountered while parsing command line arguments! The following");
}

TEST(J2kCommandLine, NegativeNumbersAreParametersAndFindNextTileEnumeratesTiles)
{
    Parsed p({"prog", "-Bresync+7", "N", "-Bresync+3", "-x", "-Bresync+3", "Y", "-1", "-Bresync"});
    EXPECT_EQ(p.cl->find("-x", -1), 0);
    std::vector<std::pair<int, int>> seen;
    int tile = -1;
    for (int n = p.cl->find_next_tile("-Bresync", 0, &tile); n >= 0;
         n = p.cl->find_next_tile("-Bresync", tile + 1, &tile))
        seen.push_back({tile, n});
    // Tile 3 twice: the later one (two parameters, "Y" "-1") wins.
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{3, 2}, {7, 1}}));
    EXPECT_EQ(p.cl->find("-Bresync", -1), 0);
}

TEST(J2kCommandLine, MalformedWordsEndTheRunWithTheirMessage)
{
    struct Case
    {
        std::vector<const char *> argv;
        const char *message_start;
    } cases[] = {
        {{"prog", "-Flev+", "3"}, "Malformed tile-specifier"},
        {{"prog", "-Flev+x", "3"}, "Malformed tile-specifier"},
        {{"prog", "-Flev+-2", "3"}, "Malformed tile-specifier"},
        {{"prog", "-Flev+99999999999", "3"}, "Malformed tile-specifier"},
        {{"prog", "-Flev+123456789012345678901234"}, "Argument has an invalid or excessively long"},
        {{"prog", "-5", "-Flev"}, "Illegal command-line argument"},
        {{"prog", "Flev"}, "Illegal command-line argument"},
    };
    for (const auto &c : cases) {
        zn::MessageRecorder rec;
        auto cl = create_command_line();
        try {
            cl->parse(static_cast<int>(c.argv.size()), c.argv.data());
            ADD_FAILURE() << c.argv[1];
        } catch (const zn::RunAborted &e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.message_start, 0), 0u) << e.what();
        }
        EXPECT_TRUE(rec.Contains("ERROR"));
    }
    Parsed ok({"prog", "-Flev+12abc", "1"}); // trailing characters after the number are ignored
    EXPECT_EQ(ok.cl->find("-Flev", 12), 1);
}

} // namespace command_line_test
