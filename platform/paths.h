// Path helpers. '/' is the separator. Paths are never lower-cased for opening: only a copy is,
// to test an extension.
#pragma once

#include <string>

namespace zn {

std::string ToLower(const std::string &s);
// True when the lower-cased copy of path contains needle (given in lower case).
bool ContainsNoCase(const std::string &path, const std::string &lowerNeedle);
// True when the lower-cased copy of path ends with lowerSuffix.
bool EndsWithNoCase(const std::string &path, const std::string &lowerSuffix);
// The file name without its folder.
std::string FileName(const std::string &path);
// The folder of a path, with its trailing '/' ("" when there is none).
std::string DirName(const std::string &path);
// The file name cut before its first dot, unless that dot is the first character.
std::string TitleBeforeFirstDot(const std::string &path);
// dir with exactly one trailing '/' ("" stays "").
std::string WithTrailingSlash(const std::string &dir);
bool FileExists(const std::string &path);
// Size of a regular file, or -1.
long long FileSize(const std::string &path);

} // namespace zn
