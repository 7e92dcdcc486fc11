// Temporary files, created safely (mkstemp) in a chosen directory with a given prefix.
#pragma once

#include <cstdio>
#include <string>

namespace zn {

struct TempFile
{
    std::string path; // empty when creation failed
    std::FILE *file = nullptr;
};

// Creates and opens (read/write, binary) a new file "<dir><prefix>XXXXXX". The caller closes and
// removes it.
TempFile CreateTempFile(const std::string &dir, const std::string &prefix);

} // namespace zn
