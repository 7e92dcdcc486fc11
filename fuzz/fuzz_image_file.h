// Shared by the image-file fuzz targets: the readers take a path, so each input goes through one
// temporary file that lives as long as the fuzzing process.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

inline const std::string &FuzzInputPath(const char *suffix)
{
    static const std::string path = [suffix] {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zn-fuzz-XXXXXX" + suffix;
        int fd = mkstemps(pattern.data(), static_cast<int>(std::string(suffix).size()));
        if (fd >= 0)
            close(fd);
        std::atexit([] { std::remove(FuzzInputPath("").c_str()); });
        return pattern;
    }();
    return path;
}

inline bool WriteFuzzInput(const std::string &path, const uint8_t *data, size_t size)
{
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}
