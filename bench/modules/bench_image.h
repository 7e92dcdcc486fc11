// The pictures the still-image module benchmarks code: 512x512 grey with gradients, edges and
// texture, and a 2048x2048 photograph mosaic, each made once.
#pragma once

#include "image/cdib.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

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

// A camera-sized picture: the sample photographs (scripts/photos) as sixteen 512x512 tiles, each
// turned or mirrored its own way, converted to grey by ImageMagick. Full-resolution detail, flat
// sky and dark background, and no tile repeated. Null when the photographs or ImageMagick are
// missing.
inline const CDib *BenchMosaic()
{
    static const std::unique_ptr<CDib> dib = []() -> std::unique_ptr<CDib> {
        const std::string photos = std::string(ZN_BUILD_DIR) + "/photos/";
        const auto tile = [&photos](const char *name, const char *turn) {
            return std::string(" '(' ") + photos + name + ".png -resize '512x512!' " + turn + " ')'";
        };
        const char *rows[4][4][2] = {
            {{"astronaut", ""}, {"camera", ""}, {"coins", ""}, {"moon", ""}},
            {{"moon", "-flop"}, {"astronaut", "-flip"}, {"camera", "-flop"}, {"coins", "-flip"}},
            {{"coins", "-rotate 90"}, {"moon", "-flip"}, {"astronaut", "-flop"}, {"camera", "-rotate 90"}},
            {{"camera", "-flip"}, {"coins", "-flop"}, {"moon", "-rotate 90"}, {"astronaut", "-rotate 270"}},
        };
        const std::string out = BenchUserDir() + "mosaic.pgm";
        std::string cmd = "convert";
        for (const auto &row : rows) {
            cmd += " '('";
            for (const auto &t : row)
                cmd += tile(t[0], t[1]);
            cmd += " +append ')'";
        }
        cmd += " -append -colorspace Gray -depth 8 " + out + " 2>/dev/null";
        if (std::system(cmd.c_str()) != 0) {
            std::fprintf(stderr, "no photograph mosaic: run scripts/photos %s/photos (needs ImageMagick)\n",
                         ZN_BUILD_DIR);
            return nullptr;
        }
        std::ifstream f(out, std::ios::binary);
        // The header's four fields, with the comment lines ImageMagick writes between them.
        std::string field[4];
        for (std::string &v : field)
            while (f >> v && v[0] == '#')
                f.ignore(1 << 16, '\n');
        f.get();
        const std::string magic = field[0];
        const int w = std::atoi(field[1].c_str()), h = std::atoi(field[2].c_str());
        const int maxval = std::atoi(field[3].c_str());
        std::vector<char> grey(static_cast<size_t>(w) * h);
        if (magic != "P5" || w != 2048 || h != 2048 || maxval != 255 || !f.read(grey.data(), grey.size()))
            return nullptr;
        auto d = std::make_unique<CDib>();
        d->Create24(w, h);
        for (int y = 0; y < h; ++y) {
            uint8_t *row = d->StoredRow(h - 1 - y);
            for (int x = 0; x < w; ++x)
                row[3 * x] = row[3 * x + 1] = row[3 * x + 2] =
                    static_cast<uint8_t>(grey[static_cast<size_t>(y) * w + x]);
        }
        d->m_title = "mosaic";
        return d;
    }();
    return dib.get();
}

// The picture of a benchmark of the given side: 512 the synthetic picture, 2048 the mosaic. Null,
// with the benchmark marked skipped, when the mosaic cannot be made.
inline const CDib *BenchPicture(benchmark::State &state, int64_t side)
{
    if (side != 2048)
        return &BenchImage();
    const CDib *mosaic = BenchMosaic();
    if (!mosaic)
        state.SkipWithError("no photograph mosaic (scripts/photos, ImageMagick)");
    return mosaic;
}
