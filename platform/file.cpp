// Writing a whole text in one go, with the close checked.
#include "platform/file.h"

namespace zn {

bool WriteWholeFile(const std::string &path, const std::string &text, const char *mode)
{
    FilePtr file(std::fopen(path.c_str(), mode));
    if (!file)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
    return std::fclose(file.release()) == 0 && written;
}

} // namespace zn
