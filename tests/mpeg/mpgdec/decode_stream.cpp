#include "mpeg/mpgdec/decode_stream.h"

#include "mpeg/mpgdec/mpeg_decoder.h"
#include "support/test_support.h"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace zntest {

namespace {

DecodedStream Decode(zn::MpegInput &input, bool system, const DecodeOptions &options)
{
    DecodedStream out;
    zn::CMpegDecoder dec;
    dec.system_stream = system ? 1 : 0;
    dec.output_mode = options.outputMode;
    dec.skip_b_frames = options.skipB ? 1 : 0;
    dec.mv_overlay = options.overlay ? 1 : 0;
    dec.plain_kernels = options.plainKernels;
    dec.doc_sink = [&](const zn::MpegFrame &f, int number, const char *type, int) {
        DecodedFrame fr;
        fr.type = type;
        fr.number = number;
        if (options.keepPixels) {
            int w = dec.horizontal_size, h = dec.vertical_size;
            int cw = f.chromaFormat == 3 ? w : (w + 1) / 2;
            int ch = f.chromaFormat == 1 ? (h + 1) / 2 : h;
            for (int y = 0; y < h; ++y)
                fr.y.insert(fr.y.end(), f.y + y * f.width, f.y + y * f.width + w);
            for (int y = 0; y < ch; ++y) {
                fr.cb.insert(fr.cb.end(), f.cb + y * f.chromaWidth, f.cb + y * f.chromaWidth + cw);
                fr.cr.insert(fr.cr.end(), f.cr + y * f.chromaWidth, f.cr + y * f.chromaWidth + cw);
            }
        }
        out.frames.push_back(std::move(fr));
    };
    try {
        dec.mpgdec_initbits(&input);
        if (!dec.gethdr())
            return out;
        out.opened = true;
        dec.mpgdec_initdecoder();
        for (;;) {
            dec.mpgdec_getpicture(dec.frame_count);
            if (!dec.second_field)
                ++dec.frame_count;
            if (dec.picture_coding_type == 1)
                dec.ref_picture_type = 1;
            else if (dec.picture_coding_type == 2) {
                dec.ref_picture_type = 2;
                if (!dec.second_field)
                    dec.mv_p_select ^= 1;
            }
            if (!dec.gethdr())
                break;
        }
        if (dec.frame_count)
            dec.mpgdec_lastframe(dec.frame_count);
    } catch (const zn::RunAborted &e) {
        out.error = e.what();
    }
    out.width = dec.horizontal_size;
    out.height = dec.vertical_size;
    out.chromaFormat = dec.chroma_format;
    out.mpeg2 = dec.base_layer.mpeg2;
    return out;
}

bool IsSystem(const uint8_t *b, size_t n)
{
    return n >= 4 && b[2] == 0x01 && b[3] == 0xBA;
}

} // namespace

DecodedStream DecodeMpegFile(const std::string &path, const DecodeOptions &options)
{
    auto bytes = ReadFileBytes(path);
    zn::MpegFileInput input(path);
    return Decode(input, IsSystem(bytes.data(), bytes.size()), options);
}

DecodedStream DecodeMpegBytes(const std::vector<uint8_t> &bytes, const DecodeOptions &options)
{
    zn::MpegMemoryInput input(bytes.data(), bytes.size());
    return Decode(input, IsSystem(bytes.data(), bytes.size()), options);
}

std::vector<std::vector<uint8_t>> FfmpegFrames(const std::string &path, const std::string &pixFmt, int width,
                                               int height)
{
    std::string raw = path + ".ffmpeg.yuv";
    std::string cmd = "ffmpeg -v error -y -i " + ShellQuote(path) + " -vsync 0 -f rawvideo -pix_fmt " +
                      pixFmt + " " + ShellQuote(raw);
    std::vector<std::vector<uint8_t>> frames;
    if (Run(cmd) != 0)
        return frames;
    auto bytes = ReadFileBytes(raw);
    int cw = pixFmt == "yuv444p" ? width : (width + 1) / 2;
    int ch = pixFmt == "yuv420p" ? (height + 1) / 2 : height;
    size_t frameSize = static_cast<size_t>(width) * height + 2 * static_cast<size_t>(cw) * ch;
    for (size_t off = 0; off + frameSize <= bytes.size(); off += frameSize)
        frames.emplace_back(bytes.begin() + off, bytes.begin() + off + frameSize);
    std::remove(raw.c_str());
    return frames;
}

std::vector<std::string> FfprobeTypes(const std::string &path)
{
    std::string out;
    Run("ffprobe -v error -select_streams v:0 -show_entries frame=pict_type -of csv=p=0 " + ShellQuote(path),
        &out);
    std::vector<std::string> types;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            types.push_back(line.substr(0, 1));
    return types;
}

double LumaPsnr(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, size_t count)
{
    double se = 0;
    for (size_t i = 0; i < count; ++i) {
        double d = static_cast<double>(a[i]) - b[i];
        se += d * d;
    }
    if (se == 0)
        return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(count) / se);
}

int MaxAbsDiff(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, size_t count)
{
    int m = 0;
    for (size_t i = 0; i < count; ++i)
        m = std::max(m, std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i])));
    return m;
}

} // namespace zntest
