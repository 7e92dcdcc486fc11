// The ".hdr" text header of a raw YUV sequence: where it lives, its line grammar and the checks
// its values must pass before any picture is read. Lines starting "/*" are comments; every other
// line holds one decimal value: rows, cols, progressive flag, chroma format, frames, extra bytes.
#include "image/yuv_frame.h"

#include "platform/file.h"
#include "platform/messages.h"
#include "platform/paths.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <sys/stat.h>

namespace {

// Reads one line (any length) after skipping a run of line ends; false at end of file.
bool NextLine(std::FILE *f, std::string &line)
{
    line.clear();
    int ch;
    do
        ch = std::getc(f);
    while (ch == '\n' || ch == '\r');
    if (ch == EOF)
        return false;
    while (ch != EOF && ch != '\n' && ch != '\r') {
        line.push_back(static_cast<char>(ch));
        ch = std::getc(f);
    }
    return true;
}

// A decimal integer at the start of the line after blanks, as scanf's "%d" takes it; values beyond
// int saturate so that the range checks refuse them.
bool LeadingInt(const std::string &line, int &value)
{
    size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\v' || line[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < line.size() && (line[i] == '+' || line[i] == '-'))
        negative = line[i++] == '-';
    if (i >= line.size() || !std::isdigit(static_cast<unsigned char>(line[i])))
        return false;
    long long v = 0;
    for (; i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])); ++i)
        if (v <= INT_MAX)
            v = v * 10 + (line[i] - '0');
    if (negative)
        v = -v;
    value = v > INT_MAX ? INT_MAX : (v < INT_MIN ? INT_MIN : static_cast<int>(v));
    return true;
}

bool FileExists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

YuvHeaderValues ParseYuvHeader(std::FILE *f, YuvHeaderValues v)
{
    v.count = 0;
    int *const slots[6] = {&v.rows, &v.cols, &v.progressive, &v.chromaFormat, &v.frames, &v.extra};
    std::string line;
    while (v.count < 6 && NextLine(f, line)) {
        if (line.compare(0, 2, "/*") == 0)
            continue;
        int value;
        if (LeadingInt(line, value))
            *slots[v.count] = value;
        ++v.count;
    }
    return v;
}

std::vector<std::string> YuvHeaderCandidates(const std::string &sequencePath)
{
    // Only the file name is searched: a directory called "clips.yuv" must not cut the path.
    const size_t slash = sequencePath.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string dir = sequencePath.substr(0, nameStart);
    const std::string name = sequencePath.substr(nameStart);
    const std::string lower = zn::ToLower(name);
    size_t cut = lower.find(".yuv");
    if (cut == std::string::npos)
        cut = lower.find(".y");
    const std::string stem = name.substr(0, cut);
    std::vector<std::string> candidates{dir + stem + ".hdr"};
    const std::string lowerStem = zn::ToLower(stem);
    if (lowerStem != stem)
        candidates.push_back(dir + lowerStem + ".hdr");
    return candidates;
}

long long YuvFrameBytes(int rows, int cols, int chromaFormat)
{
    const long long luma = static_cast<long long>(rows) * cols;
    switch (chromaFormat) {
    case YUV_CHROMA_Y_ONLY:
        return luma;
    case YUV_CHROMA_422:
        return luma + 2LL * rows * (cols / 2);
    case YUV_CHROMA_420:
        return luma + 2LL * (rows / 2) * (cols / 2);
    case YUV_CHROMA_UYVY:
        return 2 * luma;
    default:
        return -1;
    }
}

int CYuvFrame::ReadHeader(const std::string &path)
{
    zn::FilePtr file;
    for (const std::string &name : YuvHeaderCandidates(path)) {
        if (!FileExists(name))
            continue;
        file.reset(std::fopen(name.c_str(), "rb"));
        if (file)
            break;
    }
    if (!file) {
        zn::ShowMessage("Header file for image sequence cannot be opened");
        return 1;
    }

    YuvHeaderValues start = m_hdr;
    start.extra = 0; // unless a sixth value line gives it
    const YuvHeaderValues v = ParseYuvHeader(file.get(), start);

    if (v.rows < 0 || v.cols < 0) {
        zn::ShowMessage("Image dimensions are negative in header file");
        return 1;
    }
    if (v.count < 5) {
        zn::ShowMessage("Header file is not complete");
        return 1;
    }
    // A picture is read in whole 16 x 16 blocks; with fewer rows or columns there is nothing to show.
    if (v.rows < kYuvMinSide || v.cols < kYuvMinSide) {
        zn::ShowMessage(zn::Format("Image dimensions in header file are too small (%d rows, %d cols):\n"
                                   "a picture needs at least 16 rows and 16 cols",
                                   v.rows, v.cols));
        return 1;
    }
    if (v.rows > kYuvMaxSide || v.cols > kYuvMaxSide ||
        static_cast<long long>(v.rows) * v.cols > kYuvMaxPixels) {
        zn::ShowMessage(
            zn::Format("Image dimensions in header file are too large (%d rows, %d cols)", v.rows, v.cols));
        return 1;
    }
    if (v.frames <= 0) {
        zn::ShowMessage(zn::Format("Number of frames in header file is not positive (%d)", v.frames));
        return 1;
    }
    if (v.extra < 0) {
        zn::ShowMessage(zn::Format("Extra bytes per frame are negative in header file (%d)", v.extra));
        return 1;
    }

    m_hdr = v;
    m_bHeaderRead = 1;
    m_width16 = m_hdr.cols & ~15;
    m_height16 = m_hdr.rows & ~15;
    return 0;
}
