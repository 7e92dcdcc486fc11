// Test sequences made on the spot.
#include "mpeg/support/sequences.h"

#include "image/cdib.h"
#include "support/test_support.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace zntest {

std::string MakePanSequence(const std::string &dir, const std::string &name, const std::string &photo,
                            const Pan &p)
{
    const std::string out = dir + name + ".y";
    char crop[256];
    std::snprintf(crop, sizeof crop, "crop=%d:%d:%d+%d*n:%d+%d*n,format=gray", p.width, p.height, p.x0, p.dx,
                  p.y0, p.dy);
    const std::string filters = p.filter.empty() ? crop : "format=gray," + p.filter + "," + crop;
    const std::string cmd = "ffmpeg -v error -y -loop 1 -i " + ShellQuote(photo) + " -vf '" + filters +
                            "' -frames:v " + std::to_string(p.frames) + " -f rawvideo " + ShellQuote(out) +
                            " 2>&1";
    if (Run(cmd) != 0)
        return "";
    if (!WriteYuvHeader(dir + name + ".hdr", p.height, p.width, 0, p.frames))
        return "";
    return out;
}

std::vector<std::vector<uint8_t>> ReadLumaFrames(const std::string &path, int width, int height)
{
    const std::vector<unsigned char> bytes = ReadFileBytes(path);
    const size_t size = static_cast<size_t>(width) * height;
    std::vector<std::vector<uint8_t>> frames;
    for (size_t at = 0; size > 0 && at + size <= bytes.size(); at += size)
        frames.emplace_back(bytes.begin() + static_cast<long>(at),
                            bytes.begin() + static_cast<long>(at + size));
    return frames;
}

bool WriteYuvHeader(const std::string &hdrPath, int rows, int cols, int chromaFormat, int frames)
{
    std::ofstream f(hdrPath);
    f << rows << "\n" << cols << "\n1\n" << chromaFormat << "\n" << frames << "\n0\n";
    return static_cast<bool>(f);
}

std::string MakeSeqSeries(const std::string &dir, const std::string &name, int width, int height, int frames,
                          int (*level)(int k, int x, int y))
{
    std::filesystem::create_directories(dir + name);
    for (int k = 1; k <= frames; ++k) {
        CDib dib;
        dib.Create24(width, height);
        for (int y = 0; y < height; ++y) {
            uint8_t *row = dib.StoredRow(height - 1 - y);
            for (int x = 0; x < width; ++x)
                row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = static_cast<uint8_t>(level(k, x, y));
        }
        const std::string path =
            k == 1 ? dir + name + ".seq" : dir + name + "/" + name + std::to_string(k) + ".bmp";
        if (!dib.SaveDibFile(path))
            return "";
    }
    return dir + name + ".seq";
}

} // namespace zntest
