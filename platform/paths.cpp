// Path helpers on std::string; no fixed-size buffers.
#include "platform/paths.h"

#include <sys/stat.h>

namespace zn {

std::string ToLower(const std::string &s)
{
    // ASCII only: extensions are ASCII, and the result must not depend on the process locale.
    std::string out = s;
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool ContainsNoCase(const std::string &path, const std::string &lowerNeedle)
{
    return ToLower(path).find(lowerNeedle) != std::string::npos;
}

bool EndsWithNoCase(const std::string &path, const std::string &lowerSuffix)
{
    std::string l = ToLower(path);
    return l.size() >= lowerSuffix.size() &&
           l.compare(l.size() - lowerSuffix.size(), std::string::npos, lowerSuffix) == 0;
}

std::string FileName(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string TitleBeforeFirstDot(const std::string &path)
{
    std::string name = FileName(path);
    size_t dot = name.find('.');
    if (dot != std::string::npos && dot != 0)
        name.resize(dot);
    return name;
}

std::string WithTrailingSlash(const std::string &dir)
{
    if (dir.empty())
        return dir;
    std::string out = dir;
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    if (out != "/")
        out += '/';
    return out;
}

bool FileExists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

long long FileSize(const std::string &path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<long long>(st.st_size);
}

} // namespace zn
