// The table generator writes the same bytes on every run, and the build's tables directory is such a
// run: a second run into a fresh folder must reproduce it file for file.
#include "support/test_support.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace tables_generator_test { // one namespace per test file: a folder compiles as one source

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Names(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(TableGenerator, RerunReproducesTheBuildTablesByteForByte)
{
    const std::string build = ZN_BUILD_DIR;
    const std::string tables = build + "/tables/";
    zntest::ScratchDir out;
    ASSERT_EQ(zntest::Run(zntest::ShellQuote(build + "/tools/tablegen/zn_tablegen") + " " +
                          zntest::ShellQuote(out.Path() + "t")),
              0);
    std::vector<std::string> names = Names(tables);
    ASSERT_EQ(Names(out.Path() + "t"), names);
    for (const char *expected :
         {"qmf02.fcs", "qmf08a.fcs", "qmf12a.fcs", "qmf16b.fcs", "qmf24c.fcs", "qmf32e.fcs",
          "mlqpw_gg050_flc.sqp", "mlqpw_gg075_huff.sqp", "mlqpw_gg200_0063.sqt"})
        EXPECT_TRUE(std::binary_search(names.begin(), names.end(), expected)) << expected;
    for (const std::string &name : names)
        ASSERT_EQ(zntest::ReadFileBytes(out.Path() + "t/" + name), zntest::ReadFileBytes(tables + name))
            << name;
}

} // namespace tables_generator_test
