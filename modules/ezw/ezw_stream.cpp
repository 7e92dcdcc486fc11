// The EZW coder on the module's stream file: the stream is built in memory and written in one go,
// and read back whole before decoding, so the coder itself never touches the file.
#include "modules/ezw/ezw_coder.h"

#include "platform/errors.h"
#include "platform/tempfile.h"

#include <vector>

std::string EzwEncodeImage(std::FILE *file, const ZnImage &input, ZnImage *display, float rate, int levels,
                           EzwWorkspace *work)
{
    EzwEncodeResult r = EzwEncodeBytes(input, display, rate, levels, nullptr, work);
    if (!zn::WriteFromStart(file, r.stream))
        throw zn::RunAborted("The EZW stream could not be written to its temporary file.");
    return r.text;
}

EzwDecodeResult EzwDecodeImage(std::FILE *file, ZnImage *output, ZnImage *display, float rate,
                               EzwWorkspace *work)
{
    std::vector<uint8_t> bytes;
    if (!zn::ReadFromStart(file, &bytes))
        throw zn::RunAborted("The EZW stream could not be read from its temporary file.");
    return EzwDecodeBytes(bytes, output, display, rate, nullptr, 8192L * 8192L, work);
}
