// The EZW coder on the module's stream file: the stream is built in memory and written in one go,
// and read back whole before decoding, so the coder itself never touches the file.
#include "modules/ezw/ezw_coder.h"

#include "platform/errors.h"

#include <vector>

std::string EzwEncodeImage(std::FILE *file, const ZnImage &input, ZnImage *display, float rate, int levels)
{
    EzwEncodeResult r = EzwEncodeBytes(input, display, rate, levels);
    std::rewind(file);
    const bool ok =
        std::fwrite(r.stream.data(), 1, r.stream.size(), file) == r.stream.size() && std::fflush(file) == 0;
    std::rewind(file);
    if (!ok)
        throw zn::RunAborted("The EZW stream could not be written to its temporary file.");
    return r.text;
}

EzwDecodeResult EzwDecodeImage(std::FILE *file, ZnImage *output, ZnImage *display, float rate)
{
    std::rewind(file);
    std::vector<uint8_t> bytes;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    const bool failed = std::ferror(file) != 0;
    std::clearerr(file);
    std::rewind(file);
    if (failed)
        throw zn::RunAborted("The EZW stream could not be read from its temporary file.");
    return EzwDecodeBytes(bytes, output, display, rate);
}
