// Test helpers: scratch folders, running oracle tools, reading corpora.
#include "support/test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

namespace zntest {

ScratchDir::ScratchDir()
{
    std::string pattern = (fs::temp_directory_path() / "zantho-test-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        std::abort();
    m_path = std::string(buf.data()) + "/";
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

bool HaveTool(const std::string &tool)
{
    return Run("command -v " + ShellQuote(tool) + " >/dev/null 2>&1") == 0;
}

bool RunningUnderCi()
{
    const char *ci = std::getenv("CI");
    return ci && *ci && std::string(ci) != "0" && std::string(ci) != "false";
}

std::string ShellQuote(const std::string &s)
{
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

int Run(const std::string &command, std::string *out)
{
    FILE *p = popen(command.c_str(), "r");
    if (!p)
        return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        text.append(buf, n);
    int status = pclose(p);
    if (out)
        *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<unsigned char> ReadFileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string &path, const std::vector<unsigned char> &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<std::string> CorpusFiles(const std::string &kind)
{
    std::vector<std::string> files;
    const char *root = std::getenv("ZANTHO_CORPUS");
    if (!root || !*root)
        return files;
    fs::path dir = fs::path(root) / kind;
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        return files;
    for (const auto &e : fs::directory_iterator(dir, ec))
        if (e.is_regular_file())
            files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

uint64_t Fnv1a(const void *data, size_t size, uint64_t hash)
{
    const auto *p = static_cast<const unsigned char *>(data);
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ p[i]) * 1099511628211ull;
    return hash;
}

std::string PhotoPath(const std::string &name, const std::string &ext)
{
    std::string path = std::string(ZN_BUILD_DIR) + "/photos/" + name + "." + ext;
    std::error_code ec;
    return fs::is_regular_file(path, ec) ? path : std::string();
}

} // namespace zntest

// Sanitizer builds: impossible allocations fail as they do in the program (a null pointer), so their
// messages can be tested; scripts/test sets the same through ASAN_OPTIONS.
extern "C" const char *__asan_default_options()
{
    return "allocator_may_return_null=1";
}
