// The picture every still-image module benchmark codes: 512x512 grey with gradients, edges and
// texture, made once.
#pragma once

#include "image/cdib.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

inline const CDib &BenchImage()
{
    static const std::unique_ptr<CDib> dib = [] {
        auto d = std::make_unique<CDib>();
        d->Create24(512, 512);
        for (int y = 0; y < 512; ++y) {
            uint8_t *row = d->StoredRow(511 - y);
            for (int x = 0; x < 512; ++x) {
                const int v = (x / 4 + y / 3 + ((x / 64 + y / 64) % 2) * 70 + (x * 7 + y * 13) % 17) % 256;
                row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = static_cast<uint8_t>(v);
            }
        }
        d->m_title = "bench";
        return d;
    }();
    return *dib;
}

// A folder of the benchmark's own for the stream files a module writes (ends with '/'); removed at
// exit.
inline const std::string &BenchUserDir()
{
    static const std::string dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "zantho-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make the benchmark's scratch folder " + pattern);
        static struct Remover
        {
            std::string path;
            ~Remover() { std::filesystem::remove_all(path); }
        } remover{pattern};
        return pattern + "/";
    }();
    return dir;
}
