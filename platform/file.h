// C stdio files owned by RAII: a FilePtr closes its file on every path out of a reader or writer.
// A writer that must know its data reached the disk closes explicitly (fclose reports a failed
// flush) rather than leaving it to the destructor.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace zn {

struct FileCloser
{
    void operator()(std::FILE *f) const
    {
        if (f)
            std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Writes all of text to path, opened with the given fopen mode ("w" replaces, "a+" appends).
// True only when every byte was written and the file closed without error.
bool WriteWholeFile(const std::string &path, const std::string &text, const char *mode);

} // namespace zn
