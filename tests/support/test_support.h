// Helpers shared by the tests: scratch folders, oracle tools, outside corpora.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zntest {

// A fresh folder under the system temp dir, removed with everything in it at destruction.
class ScratchDir
{
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::string &Path() const { return m_path; } // ends with '/'
    std::string File(const std::string &name) const { return m_path + name; }

private:
    std::string m_path;
};

// True when the tool is on PATH. Under CI a missing oracle tool is a failure, elsewhere a skip: use
// ZN_REQUIRE_TOOL in a test body.
bool HaveTool(const std::string &tool);
bool RunningUnderCi();

// Runs a shell command; returns its exit status. Output goes to *out when given.
int Run(const std::string &command, std::string *out = nullptr);
std::string ShellQuote(const std::string &s);

std::vector<unsigned char> ReadFileBytes(const std::string &path);
// FNV-1a over raw bytes: a checksum that pins a stream, a picture or the bits of a float array.
uint64_t Fnv1a(const void *data, size_t size, uint64_t hash = 14695981039346656037ull);
bool WriteFileBytes(const std::string &path, const std::vector<unsigned char> &bytes);

// Files in $ZANTHO_CORPUS/<kind>/ (sorted), or none when the variable is unset.
std::vector<std::string> CorpusFiles(const std::string &kind);

// Debian's sample photographs ("camera", "coins", "moon"; ext "bmp" for the 8-bit grey BMP, "png" for
// the original), which scripts/test puts into <build>/photos with scripts/photos. Empty when the
// file is not there: use ZN_REQUIRE_PHOTO in a test body.
std::string PhotoPath(const std::string &name, const std::string &ext = "bmp");

} // namespace zntest

// ZN_REQUIRE_PHOTO(name) or ZN_REQUIRE_PHOTO(name, ext), as PhotoPath takes them.
#define ZN_REQUIRE_PHOTO(...)                                                                                \
    do {                                                                                                     \
        if (zntest::PhotoPath(__VA_ARGS__).empty()) {                                                        \
            if (zntest::RunningUnderCi())                                                                    \
                FAIL() << "sample photograph missing under CI (scripts/photos): " << #__VA_ARGS__;           \
            else                                                                                             \
                GTEST_SKIP() << "sample photograph missing (run scripts/photos build/photos): "              \
                             << #__VA_ARGS__;                                                                \
        }                                                                                                    \
    } while (0)

#define ZN_REQUIRE_TOOL(tool)                                                                                \
    do {                                                                                                     \
        if (!zntest::HaveTool(tool)) {                                                                       \
            if (zntest::RunningUnderCi())                                                                    \
                FAIL() << "oracle tool missing under CI: " << (tool);                                        \
            else                                                                                             \
                GTEST_SKIP() << "oracle tool missing: " << (tool);                                           \
        }                                                                                                    \
    } while (0)
