// CYuvFileWriter: the video decoders' output as a raw planar 4:2:0 sequence. Frames are appended as
// they are decoded; the ".hdr" header is written when the writer is destroyed, so a run stopped
// half-way still leaves a header that counts the frames on disk.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class CYuvFileWriter
{
public:
    explicit CYuvFileWriter(const std::string &path);
    // Closes the file and writes its header beside it.
    virtual ~CYuvFileWriter();
    CYuvFileWriter(const CYuvFileWriter &) = delete;
    CYuvFileWriter &operator=(const CYuvFileWriter &) = delete;

    bool IsOpen() const { return m_file != nullptr; }
    // Appends one frame: Y nrow x ncol, then U and V (nrow / 2) x (ncol / 2), rows unpadded. Returns
    // the frame count, or 1 after a message when the size differs from the first frame's.
    int SaveYUVFrame(int nrow, int ncol, uint8_t *planes[3]);

    // Header path: the output path cut before the last dot of its file name, plus ".hdr".
    static std::string HeaderPathFor(const std::string &outputPath);

    // Set by the H.264 decoder after construction; names that module in the header.
    uint8_t m_bH264 = 0;

private:
    void WriteHeader();

    int m_ncol = 0;
    int m_nrow = 0;
    int m_nFrames = 0;
    std::string m_path;
    std::FILE *m_file = nullptr;
    bool m_writeFailed = false; // reported once; later frames are dropped without another message
};
