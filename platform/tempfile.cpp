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

} // namespace zn
