// CYuvFrame: reader of raw YUV sequences (".y" luminance only, ".yuv" with chroma) described by a
// small ".hdr" text file beside them. It reads one picture at a time, cropped to multiples of 16,
// turns 4:2:2 chroma (planar or packed UYVY) into 4:2:0 with a vertical half-band filter, and
// converts a picture into 24-bit bottom-up DIB pixels.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Chroma formats of the header's fourth value.
enum YuvChromaFormat { YUV_CHROMA_Y_ONLY = 0, YUV_CHROMA_422 = 1, YUV_CHROMA_420 = 2, YUV_CHROMA_UYVY = 3 };

// Sizes the reader accepts: a picture needs a full 16 x 16 macroblock, and no side may be so large
// that the planes could not reasonably be held in memory.
constexpr int kYuvMinSide = 16;
constexpr int kYuvMaxSide = 16384;
constexpr long long kYuvMaxPixels = 1LL << 26;

// The header's values, in file order; count is the number of value lines met (at most six).
struct YuvHeaderValues
{
    int rows = 0;
    int cols = 0;
    int progressive = 0;
    int chromaFormat = 0;
    int frames = 0;
    int extra = 0;
    int count = 0;
};

// Reads the value lines of a header from an open stream, starting from the given values (a line whose
// number cannot be read keeps the value it had). Stops after the sixth value line.
YuvHeaderValues ParseYuvHeader(std::FILE *f, YuvHeaderValues start);

// Header names to try for a sequence, in order: the path cut before the first ".yuv" (else ".y") of
// its file name, found without regard to case, plus ".hdr"; then the same with the file name
// lower-cased. The directory part is never changed.
std::vector<std::string> YuvHeaderCandidates(const std::string &sequencePath);

// Bytes of one stored frame (without the extra bytes), or -1 for an unknown chroma format.
long long YuvFrameBytes(int rows, int cols, int chromaFormat);

class CYuvFrame
{
public:
    CYuvFrame() = default;
    ~CYuvFrame() = default;
    CYuvFrame(const CYuvFrame &) = delete;
    CYuvFrame &operator=(const CYuvFrame &) = delete;

    // Reads the sequence's header. 0 on success; 1 after a message (the fields are then unchanged).
    int ReadHeader(const std::string &path);
    // Allocates the planes from rows and cols. False after a message when memory is short.
    bool AllocateYuvFrame();
    // Reads picture n (1-based) into the frame's planes; a number out of range is clamped after a
    // message. 0 on success; 1 after a message, planes unchanged.
    int ReadFrame(const std::string &path, int n);
    // Reads picture n into the frame's planes as 4:2:0, without the clamp. 0 or 1.
    int ReadPicYUV(const std::string &path, int n);
    // Clamps n as ReadFrame, then reads picture n into the caller's planes: Y of width16 x height16,
    // U and V of (width16 / 2) x (height16 / 2), rows unpadded. 0 or 1 (targets unchanged on failure).
    int ReadYUV(const std::string &path, int n, uint8_t *planes[3]);
    // Converts the frame's planes into the 24-bit bottom-up DIB at m_pData (width16 x height16).
    void ConvertYUVFrameDib();
    // 4:2:2 to 4:2:0: filters a chroma plane of height16 rows (stride width16 / 2) vertically 2:1
    // into a plane of height16 / 2 rows, with the progressive or the interlaced (per-field) filter.
    void DecimateChromaV(const uint8_t *in, uint8_t *out) const;

    int Width16() const { return m_width16; }
    int Height16() const { return m_height16; }
    int Progressive() const { return m_hdr.progressive; }
    int HeaderRead() const { return m_bHeaderRead; }
    int Frames() const { return m_hdr.frames; }
    int Cols() const { return m_hdr.cols; }
    int Rows() const { return m_hdr.rows; }
    int Extra() const { return m_hdr.extra; }
    int ChromaFormat() const { return m_hdr.chromaFormat; }

    // The frame's own planes (null before AllocateYuvFrame): Y at stride width16, U and V at stride
    // width16 / 2.
    uint8_t *Y() { return m_y.empty() ? nullptr : m_y.data(); }
    uint8_t *U() { return m_u.empty() ? nullptr : m_u.data(); }
    uint8_t *V() { return m_v.empty() ? nullptr : m_v.data(); }

    // Target of ConvertYUVFrameDib: 24-bit pixels of width16 x height16, set by the caller.
    uint8_t *m_pData = nullptr;

private:
    void ClampPictureNumber(int &n) const;
    bool PlanesFit() const;
    int ReadPicture(const std::string &path, int n, uint8_t *y, uint8_t *u, uint8_t *v) const;
    // Reads the header unless one is known; false after the messages.
    bool EnsureHeader(const std::string &path);

    int m_width16 = 0;
    int m_height16 = 0;
    YuvHeaderValues m_hdr; // the values of the last header accepted
    int m_bHeaderRead = 0;
    std::vector<uint8_t> m_y, m_u, m_v;
};
