// Test helpers of the MPEG encoder.
#include "mpeg/mpgenc/encoder_support.h"

#include "mpeg/mpgenc/mpgenc_source.h"
#include "mpeg/support/strict_check.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <cmath>
#include <cstdio>

namespace zntest {

std::vector<Frame420> MakeColourPan(const std::string &dir, int width, int height, int frames, int dx, int dy,
                                    const std::string &photo, const std::string &extraFilter, int x0, int y0)
{
    const std::string png = PhotoPath(photo, "png");
    const std::string out = dir + "pan.yuv";
    char filters[512];
    std::snprintf(filters, sizeof filters,
                  "format=rgb24,colorchannelmixer=rr=1:gg=0.75:bb=0.45,scale=iw*2:ih*2,"
                  "crop=%d:%d:%d+%d*n:%d+%d*n%s,format=yuv420p",
                  width, height, x0, dx, y0, dy, extraFilter.c_str());
    const std::string cmd = "ffmpeg -v error -y -loop 1 -i " + ShellQuote(png) + " -vf '" + filters +
                            "' -frames:v " + std::to_string(frames) + " -f rawvideo " + ShellQuote(out) +
                            " 2>&1";
    std::vector<Frame420> result;
    if (png.empty() || Run(cmd) != 0)
        return result;
    const std::vector<unsigned char> bytes = ReadFileBytes(out);
    const size_t size = static_cast<size_t>(width) * height * 3 / 2;
    for (size_t at = 0; at + size <= bytes.size(); at += size)
        result.emplace_back(bytes.begin() + static_cast<long>(at),
                            bytes.begin() + static_cast<long>(at + size));
    return result;
}

namespace {

class KeepSink : public MpegEncoderSink
{
public:
    explicit KeepSink(EncodeResult &r) : m_r(r) {}
    void ShowDecodingInfo(const MpegPictureReport &report) override { m_r.reports.push_back(report); }
    void ShowCodedFrame(const uint8_t *const planes[3], int width, int height, int frameNo) override
    {
        const size_t y = static_cast<size_t>(width) * height;
        if (m_r.recon.size() < static_cast<size_t>(frameNo))
            m_r.recon.resize(static_cast<size_t>(frameNo));
        Frame420 &f = m_r.recon[static_cast<size_t>(frameNo - 1)];
        f.assign(planes[0], planes[0] + y);
        f.insert(f.end(), planes[1], planes[1] + y / 4);
        f.insert(f.end(), planes[2], planes[2] + y / 4);
    }

private:
    EncodeResult &m_r;
};

} // namespace

EncodeResult EncodeFrames(MpegEncoderParams params, int width, int height,
                          const std::vector<Frame420> &frames, const std::string &path, int progressive,
                          std::initializer_list<zn::MsgAnswer> answers)
{
    EncodeResult r;
    zn::MessageRecorder rec;
    rec.Script(answers);
    params.outputPath = path;
    MemoryFrameSource source(width, height, frames, progressive);
    KeepSink sink(r);
    MpegEncoder enc;
    enc.SetSink(&sink);
    enc.SetParameters(params, &source);
    enc.InitQuantMatrices();
    if (enc.init()) {
        enc.EncodeSequence();
        r.ok = true;
    }
    enc.Close();
    for (const auto &m : rec.Messages())
        r.messages.push_back(m.text);
    return r;
}

std::vector<Frame420> FfmpegDecode(const std::string &path, int width, int height)
{
    const std::string out = path + ".dec.yuv";
    std::vector<Frame420> result;
    if (Run("ffmpeg -v error -y -i " + ShellQuote(path) +
            " -fps_mode passthrough -f rawvideo -pix_fmt yuv420p " + ShellQuote(out) + " 2>&1") != 0)
        return result;
    const std::vector<unsigned char> bytes = ReadFileBytes(out);
    const size_t size = static_cast<size_t>(width) * height * 3 / 2;
    for (size_t at = 0; at + size <= bytes.size(); at += size)
        result.emplace_back(bytes.begin() + static_cast<long>(at),
                            bytes.begin() + static_cast<long>(at + size));
    return result;
}

std::string FfmpegErrors(const std::string &path)
{
    std::string out;
    // One thread and no concealment: ffmpeg's slice threads and its concealment bookkeeping read a
    // pair of field pictures as one picture with missing rows and report it even with sound syntax;
    // syntax errors are reported the same with or without these options.
    Run("ffmpeg -v error -threads 1 -ec 0 -err_detect explode -i " + ShellQuote(path) + " -f null - 2>&1",
        &out);
    // The strict check also holds each slice's end against the next start code.
    return out + FfmpegStrictCheck(path);
}

double Psnr(const Frame420 &a, const Frame420 &b, size_t n)
{
    if (a.size() < n || b.size() < n || n == 0)
        return 0.0;
    double err = 0;
    for (size_t i = 0; i < n; ++i) {
        const double d = double(a[i]) - double(b[i]);
        err += d * d;
    }
    if (err == 0)
        return 99.0;
    return 10.0 * std::log10(65025.0 * static_cast<double>(n) / err);
}

} // namespace zntest
