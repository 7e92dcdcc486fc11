// Test-side PGM/PPM files: the independent tools read and write them, our codec works on memory
// images.
#pragma once

#include "jpeg2000/memory_image.h"
#include "support/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace j2ktest {

// Reads a binary PGM (one component) or PPM (three components) of 8 bits; false on anything else.
inline bool ReadPnm(const std::string &path, zn::j2k::memory_image &image)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    // Header fields, skipping blanks and comment lines.
    auto field = [f]() -> std::string {
        std::string token;
        int ch;
        while ((ch = std::fgetc(f)) != EOF) {
            if (ch == '#') {
                while ((ch = std::fgetc(f)) != EOF && ch != '\n') {
                }
                continue;
            }
            if (ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r') {
                if (!token.empty())
                    break;
                continue;
            }
            token += char(ch);
        }
        return token;
    };
    const std::string magic = field();
    const int width = std::atoi(field().c_str()), height = std::atoi(field().c_str()),
              top = std::atoi(field().c_str());
    bool ok = top == 255 && width > 0 && height > 0 && (magic == "P5" || magic == "P6");
    const int components = ok && magic == std::string("P6") ? 3 : 1;
    std::vector<unsigned char> bytes(size_t(width) * size_t(height) * size_t(components));
    ok = ok && std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
    std::fclose(f);
    if (!ok)
        return false;
    image = zn::j2k::memory_image{};
    for (int c = 0; c < components; ++c) {
        image.add_component(height, width);
        for (size_t i = 0; i < size_t(width) * size_t(height); ++i)
            image.planes[size_t(c)][i] = bytes[i * size_t(components) + size_t(c)];
    }
    return true;
}

inline bool WritePnm(const std::string &path, const zn::j2k::memory_image &image)
{
    const int components = image.components();
    if (components != 1 && components != 3)
        return false;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::fprintf(f, "%s\n%d %d\n255\n", components == 1 ? "P5" : "P6", image.widths[0], image.heights[0]);
    std::vector<unsigned char> bytes(size_t(image.widths[0]) * size_t(image.heights[0]) * size_t(components));
    for (int c = 0; c < components; ++c)
        for (size_t i = 0; i < image.planes[size_t(c)].size(); ++i)
            bytes[i * size_t(components) + size_t(c)] =
                static_cast<unsigned char>(image.planes[size_t(c)][i]);
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// A sample photograph (the PNG of zntest::PhotoPath) turned grey by ImageMagick; a picture without
// components when the photograph is missing.
inline zn::j2k::memory_image GreyPhoto(const std::string &name)
{
    zn::j2k::memory_image image;
    const std::string png = zntest::PhotoPath(name, "png");
    if (png.empty())
        return image;
    zntest::ScratchDir dir;
    zntest::Run("convert " + zntest::ShellQuote(png) + " -colorspace Gray -depth 8 " +
                zntest::ShellQuote(dir.File(name + ".pgm")));
    ReadPnm(dir.File(name + ".pgm"), image);
    return image;
}

} // namespace j2ktest
