// Fuzzes the raw-sequence ".hdr" reader and one picture read. Input: byte 0 picks the picture number,
// then the header text up to the first NUL byte, then the sequence bytes.
#include "image/yuv_frame.h"
#include "platform/messages.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string g_dir;

void WriteFile(const std::string &path, const uint8_t *data, size_t size)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char *>(data), size);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char tmpl[] = "/tmp/zn_fuzz_hdr_XXXXXX";
    if (mkdtemp(tmpl))
        g_dir = std::string(tmpl) + "/";
    zn::SetMessageHandler([](const zn::MessageRequest &) { return zn::MsgAnswer::Ok; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (g_dir.empty() || size < 1)
        return 0;
    const int picture = static_cast<int8_t>(data[0]);
    const uint8_t *text = data + 1;
    const size_t rest = size - 1;
    const uint8_t *nul = static_cast<const uint8_t *>(std::memchr(text, 0, rest));
    const size_t textSize = nul ? static_cast<size_t>(nul - text) : rest;
    const std::string seq = g_dir + "Seq.YUV";
    WriteFile(g_dir + "Seq.hdr", text, textSize);
    if (nul)
        WriteFile(seq, nul + 1, rest - textSize - 1);
    else
        WriteFile(seq, nullptr, 0);

    CYuvFrame frame;
    if (frame.ReadHeader(seq) != 0)
        return 0;
    // Large pictures are valid but only cost time here: the reading path is the same for small ones.
    if (static_cast<long long>(frame.Rows()) * frame.Cols() > (1 << 16))
        return 0;
    if (!frame.AllocateYuvFrame() || frame.ReadFrame(seq, picture) != 0)
        return 0;
    std::string dib(static_cast<size_t>(frame.Width16()) * frame.Height16() * 3, '\0');
    frame.m_pData = reinterpret_cast<uint8_t *>(dib.data());
    frame.ConvertYUVFrameDib();
    return 0;
}
