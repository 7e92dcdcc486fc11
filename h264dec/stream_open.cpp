// The stream opener checks that the file starts with a start code (only its last two bytes, 00 01, are
// looked at, so a four-byte code passes and a three-byte one does not), decodes the first picture and
// converts it to a 24-bit image. Whatever the decoder refuses ends this open only.
#include "h264dec/stream_open.h"

#include "h264dec/decoder_run.h"
#include "image/cdib.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstdio>
#include <vector>

int PrepareDibforH264File(CDib *dib, const std::string &path, const std::string &leakyBucketFile)
{
    dib->m_path = path;
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        if (errno == ENOENT)
            zn::ShowMessage("Sorry, H.264 File not Found");
        else if (errno == EACCES)
            zn::ShowMessage("Sorry, Access Denied to H.264 file");
        return -1;
    }
    dib->m_title = zn::FileName(path);
    unsigned char head[4] = {};
    const size_t got = std::fread(head, 1, 4, f);
    std::fclose(f);
    if (got < 4 || head[2] != 0x00 || head[3] != 0x01) {
        dib->m_bValid = 0;
        zn::ShowMessage("Selected file is not an H.264 file");
        return -1;
    }

    int height = 0, width = 0;
    std::vector<uint8_t> planes[3];
    try {
        if (!H264DecodeFirstFrame(path, leakyBucketFile, height, width, planes)) {
            dib->m_bValid = 0;
            zn::ShowMessage(zn::Format("The H.264 file %s holds no picture", path.c_str()));
            return -1;
        }
    } catch (const zn::RunAborted &) {
        dib->m_bValid = 0;
        return -1; // its message has been shown
    }
    if (!dib->Create24(width, height)) {
        zn::ShowMessage(
            "PrepareDibforH264File - Target memory space to small. This error should never occur");
        return -1;
    }
    dib->m_title = zn::TitleBeforeFirstDot(path);
    uint8_t *p[3] = {planes[0].data(), planes[1].data(), planes[2].data()};
    dib->ConvertYUV420Dib(p);
    dib->m_bValid = 1;
    return dib->m_nBlockSize;
}
