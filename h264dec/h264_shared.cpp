// The routines both H.264 engines share: the fatal-error exit, the release of NAL units and picture
// parameter sets, and the slice group of a macroblock.
#include "h264dec/h264_shared.h"

#include "platform/log.h"
#include "platform/messages.h"

void h264_fatal_error(const std::string &text, int code)
{
    zn::Log(zn::LogLevel::Error, text);
    zn::ShowMessage(text, zn::MsgButtons::Ok, zn::MsgIcon::Error);
    throw H264FatalError(text, code);
}

void ReleaseNALU(NALU *n)
{
    delete n;
}

void ReleasePPS(PPS *pps)
{
    delete pps;
}

int slice_group_of_mb(const SliceGroupMap &map, int n)
{
    if (n < 0 || n >= static_cast<int>(map.MBAmap.size()))
        return 0;
    return map.MBAmap[n];
}
