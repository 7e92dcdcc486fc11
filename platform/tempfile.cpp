// mkstemp-based temporary files: no race between choosing a name and creating the file.
#include "platform/tempfile.h"

#include "platform/paths.h"

#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace zn {

TempFile CreateTempFile(const std::string &dir, const std::string &prefix)
{
    std::string pattern = WithTrailingSlash(dir.empty() ? std::string("/tmp") : dir) + prefix + "XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    int fd = mkstemp(buf.data());
    TempFile result;
    if (fd < 0)
        return result;
    result.file = fdopen(fd, "w+b");
    if (!result.file) {
        close(fd);
        unlink(buf.data());
        return result;
    }
    result.path = buf.data();
    return result;
}

bool WriteFromStart(std::FILE *file, const std::vector<uint8_t> &bytes)
{
    std::rewind(file);
    const bool ok =
        std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fflush(file) == 0;
    std::rewind(file);
    return ok;
}

bool ReadFromStart(std::FILE *file, std::vector<uint8_t> *bytes)
{
    bytes->clear();
    std::rewind(file);
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file)) > 0)
        bytes->insert(bytes->end(), buf, buf + n);
    const bool ok = std::ferror(file) == 0;
    std::clearerr(file);
    std::rewind(file);
    return ok;
}

void CloseAndRemove(std::FILE **file, std::string *path)
{
    if (*file) {
        std::fclose(*file);
        std::remove(path->c_str());
    }
    *file = nullptr;
    path->clear();
}

} // namespace zn
