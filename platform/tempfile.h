// Temporary files, created safely (mkstemp) in a chosen directory with a given prefix.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zn {

struct TempFile
{
    std::string path; // empty when creation failed
    std::FILE *file = nullptr;
};

// Creates and opens (read/write, binary) a new file "<dir><prefix>XXXXXX". The caller closes and
// removes it.
TempFile CreateTempFile(const std::string &dir, const std::string &prefix);

// A module's stream file, kept open between runs: written whole from its start, read whole from its
// start, and rewound after either. False on a failed write (or flush) or read.
bool WriteFromStart(std::FILE *file, const std::vector<uint8_t> &bytes);
bool ReadFromStart(std::FILE *file, std::vector<uint8_t> *bytes);
// Closes an open temporary file and removes it; *file and *path are cleared. No file, nothing done.
void CloseAndRemove(std::FILE **file, std::string *path);

// A temporary file that stays open while its owner keeps it and is closed and removed with it (or
// by Remove).
class OwnedTempFile
{
public:
    OwnedTempFile() = default;
    OwnedTempFile(const OwnedTempFile &) = delete;
    OwnedTempFile &operator=(const OwnedTempFile &) = delete;
    ~OwnedTempFile() { Remove(); }

    // Replaces any file held by a new one; false when it cannot be made.
    bool Create(const std::string &dir, const std::string &prefix)
    {
        Remove();
        m_file = CreateTempFile(dir, prefix);
        return m_file.file != nullptr;
    }
    void Remove()
    {
        if (m_file.file) {
            std::fclose(m_file.file);
            std::remove(m_file.path.c_str());
        }
        m_file = TempFile{};
    }
    // Gives the open file and its name to the caller, who closes and removes it from then on.
    TempFile Release()
    {
        TempFile t = m_file;
        m_file = TempFile{};
        return t;
    }
    std::FILE *File() const { return m_file.file; }
    const std::string &Path() const { return m_file.path; }

private:
    TempFile m_file;
};

} // namespace zn
