// Whole encoding runs for the tests (see the header).
#include "h264enc/support/encoder_fixture.h"

#include "h264/support/picture_model.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "support/test_support.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>

namespace enctest {

std::string MakePan(const std::string &photo, const std::string &out, int w, int h, int frames, int dx,
                    int dy, int zoom, const std::string &after)
{
    const std::string filter =
        zn::Format("scale=iw*%d:ih*%d,crop=%d:%d:x=16+%d*n:y=16+%d*n,scale=%d:%d:flags=bicubic", zoom, zoom,
                   w * zoom, h * zoom, dx, dy, w, h) +
        (after.empty() ? "" : "," + after);
    const std::string cmd = "ffmpeg -v error -y -loop 1 -i " + zntest::ShellQuote(photo) + " -vf " +
                            zntest::ShellQuote(filter) + zn::Format(" -frames:v %d", frames) +
                            " -pix_fmt yuv420p -f rawvideo " + zntest::ShellQuote(out);
    std::string output;
    if (zntest::Run(cmd + " 2>&1", &output) != 0)
        return output.empty() ? "ffmpeg failed" : output;
    return "";
}

std::vector<uint8_t> SyntheticPan(int w, int h, int frames, int dx, int dy, unsigned seed)
{
    // A large picture of gradients, blocks and noise, then windows of it.
    const int bw = w + std::abs(dx) * frames + 64, bh = h + std::abs(dy) * frames + 64;
    std::mt19937 rng(seed);
    std::vector<uint8_t> big(static_cast<size_t>(bw) * bh * 3);
    for (int y = 0; y < bh; ++y)
        for (int x = 0; x < bw; ++x) {
            const double v = 128 + 60 * std::sin(x * 0.07) * std::cos(y * 0.05) +
                             ((x / 13 + y / 17) % 3) * 20 + static_cast<int>(rng() % 9) - 4;
            big[static_cast<size_t>(y) * bw + x] =
                static_cast<uint8_t>(std::clamp(static_cast<int>(v), 0, 255));
            big[static_cast<size_t>(bw) * bh + static_cast<size_t>(y) * bw + x] =
                static_cast<uint8_t>(128 + 40 * std::sin(x * 0.03 + y * 0.02));
            big[2 * static_cast<size_t>(bw) * bh + static_cast<size_t>(y) * bw + x] =
                static_cast<uint8_t>(128 + 40 * std::cos(x * 0.025 - y * 0.04));
        }
    std::vector<uint8_t> out;
    for (int k = 0; k < frames; ++k) {
        const int ox = 32 + (dx >= 0 ? k * dx : (frames - k) * -dx),
                  oy = 32 + (dy >= 0 ? k * dy : (frames - k) * -dy);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                out.push_back(big[static_cast<size_t>(oy + y) * bw + ox + x]);
        for (int c = 1; c <= 2; ++c)
            for (int y = 0; y < h / 2; ++y)
                for (int x = 0; x < w / 2; ++x) {
                    const size_t at =
                        static_cast<size_t>(c) * bw * bh + static_cast<size_t>(oy + 2 * y) * bw + ox + 2 * x;
                    out.push_back(big[at]);
                }
    }
    return out;
}

h264enc::SettingsDialogValues DialogValues(const std::string &input, int w, int h, int frames,
                                           const std::string &output)
{
    h264enc::SettingsDialogValues v;
    v.input_file = input;
    v.width = w;
    v.height = h;
    v.sequence_frames = frames;
    v.output_file = output;
    return v;
}

std::string WriteSettings(const std::string &dir, const h264enc::SettingsDialogValues &v,
                          const std::vector<std::string> &extra)
{
    std::string text = h264enc::SettingsFileText(v, dir);
    for (const std::string &line : extra)
        text += "\n" + line;
    const std::string path = h264enc::SettingsFilePath(dir);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

EncodeResult Encode(const std::string &settings, std::initializer_list<zn::MsgAnswer> answers)
{
    EncodeResult r;
    zn::MessageRecorder recorder;
    recorder.Script(answers);
    try {
        h264enc::H264Encoder(settings, &r.host);
        r.ok = true;
    } catch (const zn::RunAborted &e) {
        r.message = e.what();
    }
    r.messages = recorder.Messages();
    return r;
}

DecodeResult DecodeH264(const std::string &stream)
{
    DecodeResult r;
    const std::vector<unsigned char> bytes = zntest::ReadFileBytes(stream);
    h264test::DecodeRunResult run = h264test::DecodeRun(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    r.ok = !run.failed;
    r.message = run.message;
    r.pictures = static_cast<int>(run.sink->output.size());
    for (const h264test::Picture &p : run.sink->output) {
        r.yuv.insert(r.yuv.end(), p.y.begin(), p.y.end());
        r.yuv.insert(r.yuv.end(), p.u.begin(), p.u.end());
        r.yuv.insert(r.yuv.end(), p.v.begin(), p.v.end());
    }
    return r;
}

namespace {

// Unsigned Exp-Golomb values from a NAL payload with its emulation prevention bytes removed.
struct UeReader
{
    std::vector<uint8_t> rbsp;
    size_t bit = 0;
    int Bit()
    {
        const int b = bit / 8 < rbsp.size() ? (rbsp[bit / 8] >> (7 - bit % 8)) & 1 : 0;
        ++bit;
        return b;
    }
    int Ue()
    {
        int zeros = 0;
        while (Bit() == 0 && zeros < 32)
            ++zeros;
        int v = 0;
        for (int i = 0; i < zeros; ++i)
            v = (v << 1) | Bit();
        return (1 << zeros) - 1 + v;
    }
};

} // namespace

std::vector<NalUnitSeen> ScanNalUnits(const std::vector<uint8_t> &s)
{
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 <= s.size(); ++i)
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    std::vector<NalUnitSeen> units;
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : s.size();
        while (end > starts[k] && s[end - 1] == 0)
            --end; // the zero byte of the next four-byte start code
        if (end <= starts[k])
            continue;
        NalUnitSeen u;
        u.type = s[starts[k]] & 31;
        u.ref_idc = (s[starts[k]] >> 5) & 3;
        if (u.type == 1 || u.type == 5 || u.type == 2) {
            UeReader r;
            for (size_t i = starts[k] + 1; i < end; ++i) {
                if (i >= starts[k] + 3 && s[i] == 3 && s[i - 1] == 0 && s[i - 2] == 0)
                    continue;
                r.rbsp.push_back(s[i]);
            }
            u.first_mb = r.Ue();
            u.slice_type = r.Ue();
        }
        units.push_back(u);
    }
    return units;
}

long long ParameterSetBytes(const std::vector<uint8_t> &s)
{
    std::vector<size_t> starts; // first byte of each start code
    for (size_t i = 0; i + 3 <= s.size(); ++i)
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
            starts.push_back(i > 0 && s[i - 1] == 0 ? i - 1 : i);
            i += 2;
        }
    long long bytes = 0;
    for (size_t k = 0; k < starts.size(); ++k) {
        const size_t end = k + 1 < starts.size() ? starts[k + 1] : s.size();
        size_t header = starts[k];
        while (header < end && s[header] == 0)
            ++header;
        if (header + 1 >= end)
            continue;
        const int type = s[header + 1] & 31;
        if (type == 7 || type == 8)
            bytes += static_cast<long long>(end - starts[k]);
    }
    return bytes;
}

long long FirstDifference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i])
            return static_cast<long long>(i);
    return a.size() == b.size() ? -1 : static_cast<long long>(n);
}

} // namespace enctest
