// The document opener for MPEG streams: checks the start code, decodes until the first frame is
// output (a field-coded start runs on to its first complete frame) and converts it to colour.
#include "mpeg/mpgdec/mpeg_open.h"

#include "image/cdib.h"
#include "mpeg/mpgdec/mpeg_decoder.h"
#include "platform/messages.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstdio>

int PrepareDibforMpegFile(CDib *dib, const std::string &path)
{
    dib->m_path = path;
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        if (errno == ENOENT)
            zn::ShowMessage("Sorry, MPEG File not Found");
        else if (errno == EACCES)
            zn::ShowMessage("Sorry, Access Denied to MPEG file");
        return -1;
    }
    dib->m_title = zn::FileName(path);
    unsigned char head[4] = {};
    size_t got = std::fread(head, 1, 4, f);
    std::fclose(f);
    bool system = got == 4 && head[2] == 0x01 && head[3] == 0xBA;
    if (got < 4 || head[2] != 0x01 || (head[3] != 0xB3 && head[3] != 0xBA)) {
        dib->m_bValid = 0;
        zn::ShowMessage("Selected file is not an MPEG file");
        return -1;
    }

    zn::MpegFileInput input(path);
    zn::CMpegDecoder dec;
    dec.system_stream = system ? 1 : 0;
    dec.dib_sink = dib;
    try {
        dec.mpgdec_initbits(&input);
        if (!dec.gethdr()) {
            zn::ShowMessage("MpegDecoder - This is not a valid Mpeg file");
            return -1;
        }
        dec.mpgdec_initdecoder();
        if (!dib->Create24(dec.coded_width, dec.coded_height)) {
            zn::ShowMessage(
                "PrepareDibforMpegFile - Target memory space to small. This error should never occur");
            return -1;
        }
        dib->m_title = zn::TitleBeforeFirstDot(path);
        auto bookkeeping = [&] {
            if (!dec.second_field)
                ++dec.frame_count;
            if (dec.picture_coding_type == 1)
                dec.ref_picture_type = 1;
            else if (dec.picture_coding_type == 2)
                dec.ref_picture_type = 2;
        };
        dec.mpgdec_getpicture(0);
        bookkeeping();
        while (!dec.frames_output) {
            if (!dec.gethdr()) {
                if (dec.frame_count)
                    dec.mpgdec_lastframe(dec.frame_count);
                break;
            }
            dec.mpgdec_getpicture(dec.frame_count);
            bookkeeping();
        }
    } catch (const zn::RunAborted &) {
        return -1; // its message has been shown
    }
    if (!dec.frames_output) {
        zn::ShowMessage("MpegDecoder - This is not a valid Mpeg file");
        return -1;
    }
    if (!dec.vbr)
        dib->SetBitRate(static_cast<int>(dec.bit_rate_value * 0.4));
    dec.mpgdec_freedecoder();
    dib->m_bValid = 1;
    return dib->m_nBlockSize;
}
