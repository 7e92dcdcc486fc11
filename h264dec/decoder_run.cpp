// The decoding run: set-up with the fixed buffer model, the picture loop with its two questions (a key
// pressed since the last picture, and the frame-by-frame step), the closing summary, and the
// comparison against a reference sequence that only tests select. The decoder object owns every
// record, so each path out of a run, a stop or an error, releases the same way.
#include "h264dec/decoder_run.h"

#include "h264dec/decoder_host.h"
#include "h264dec/decoder_state.h"
#include "h264dec/decoder_view_sink.h"
#include "h264dec/nal_dispatch.h"
#include "h264dec/nalu_input.h"
#include "h264dec/picture_control.h"
#include "h264dec/picture_output.h"
#include "platform/file.h"
#include "platform/format.h"
#include "platform/keypoll.h"
#include "platform/log.h"
#include "platform/messages.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace {

const char *const kInterrupted = "H.264 Decoder interrupted by User\nContinue with rest of sequence?";

// One line per run for each kind of unit the decoder reads past by design.
void AppendAdvisories(H264DecoderState &dec, int &reported, H264DecoderHost *host)
{
    const int fresh = dec.advisories & ~reported;
    reported |= fresh;
    if (!host || !fresh)
        return;
    if (fresh & kAdvisoryPartitions)
        host->h264dec_append_text(
            "This stream holds data partitions (NAL unit types 2 to 4), which the decoder "
            "skips\r\n\r\n");
    if (fresh & kAdvisorySliceGroups)
        host->h264dec_append_text(
            "This stream uses several slice groups, which the decoder reads as one: its "
            "pictures may differ from the encoder's\r\n\r\n");
}

// What the views ask the reconstruction to paint.
void SetAnalysisChoices(H264DecoderState &dec, const H264DecoderHost *host)
{
    DecoderAnalysis &a = dec.analysis;
    if (!host) {
        a.paint = a.intra_shown = a.intra_colored = a.vectors_drawn = false;
        return;
    }
    const H264ViewChoices &ch = host->ViewChoices();
    a.paint = ch.AnyView();
    a.intra_shown = ch.intra;
    a.intra_colored = ch.intra_colored;
    a.vectors_drawn = ch.vectors || ch.BitsMvOverlay();
}

// The input seen through a window that counts how far it has moved, so a look ahead can return.
class CountingSource : public NaluSource
{
public:
    explicit CountingSource(NaluSource &source) : m_source(source) {}
    int GetByte() override
    {
        const int c = m_source.GetByte();
        if (c >= 0)
            ++m_moved;
        return c;
    }
    int Read(uint8_t *dst, int n) override
    {
        const int got = m_source.Read(dst, n);
        m_moved += got;
        return got;
    }
    bool SeekBack(int n) override
    {
        if (!m_source.SeekBack(n))
            return false;
        m_moved -= n;
        return true;
    }
    long long Moved() const { return m_moved; }

private:
    NaluSource &m_source;
    long long m_moved = 0;
};

// Whether another slice follows in the stream; the position is left where it was. A picture's decoding
// ends with its last macroblock, so this is how the run knows that the picture just decoded was the
// last one: the questions come between pictures only.
bool MoreSlices(H264DecoderState &dec, NaluPtr &scratch)
{
    if (!dec.bitsfile)
        return false;
    if (!scratch)
        scratch = dec_AllocNALU(kNaluCapacity);
    CountingSource source(*dec.bitsfile);
    bool found = false;
    for (;;) {
        const int ret = dec.input.FileFormat == 1 ? GetRTPNALU(source, scratch.get())
                                                  : GetAnnexbNALU(source, scratch.get());
        if (ret == 0)
            break;
        if (ret > 0 &&
            (scratch->nal_unit_type == NALU_TYPE_SLICE || scratch->nal_unit_type == NALU_TYPE_IDR)) {
            found = true;
            break;
        }
    }
    long long back = source.Moved();
    while (back > 0) {
        const int step = static_cast<int>(std::min<long long>(back, 1 << 30));
        if (!dec.bitsfile->SeekBack(step))
            break;
        back -= step;
    }
    return found;
}

// The squared differences come from the picture state's square table: a sample difference is at most
// 255 either way.
double Psnr(const DecoderImage &img, const uint8_t *a, const uint8_t *b, size_t n)
{
    double sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += img.quad[std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]))];
    if (n == 0 || sum / n < 1e-10)
        return 60.0;
    return 10.0 * std::log10(255.0 * 255.0 * n / sum);
}

} // namespace

LeakyBucketResult h264dec_init_params(DecoderParams &input, const std::string &infile,
                                      const std::string &outfile, const std::string &leakyBucketFile)
{
    using zn::LogLevel;
    input = DecoderParams{};
    input.infile = infile;
    input.output_given = !outfile.empty();
    input.outfile = outfile;
    input.FileFormat = 0;
    input.ref_frames = 5;
    input.Rate_decoder = 500000;
    input.B_decoder = 104000;
    input.F_decoder = 73000;
    input.LeakyBucketParamFile = leakyBucketFile;

    const std::string dashes(74, '-');
    zn::Log(LogLevel::Info, dashes + "\n");
    zn::LogF(LogLevel::Info, " Input H.26L bitstream                  : %s \n", input.infile.c_str());
    zn::LogF(LogLevel::Info, " Output decoded YUV 4:2:0               : %s \n", input.outfile.c_str());
    zn::LogF(LogLevel::Info, " Output status file                     : %s \n", "log.dec");
    zn::Log(LogLevel::Info, dashes + "\n");
    zn::LogF(LogLevel::Info, " Rate_decoder        : %8ld \n", static_cast<long>(input.Rate_decoder));
    zn::LogF(LogLevel::Info, " B_decoder           : %8ld \n", static_cast<long>(input.B_decoder));
    zn::LogF(LogLevel::Info, " F_decoder           : %8ld \n", static_cast<long>(input.F_decoder));
    zn::LogF(LogLevel::Info, " LeakyBucketParamFile: %s \n", input.LeakyBucketParamFile.c_str());
    return check_leaky_buckets(input);
}

std::string h264dec_summary(const PictureCounters &counters)
{
    return zn::Format("Number of Frames Decoded\t: %d", counters.decoded) +
           zn::Format("\r\n\tI: %d;    P: %d;    B: %d", counters.i, counters.p, counters.b);
}

void H264Decoder(const std::string &infile, const std::string &outfile, const std::string &leakyBucketFile,
                 bool frameByFrame, bool mbBitsShown, H264DecoderHost *host)
{
    H264DecoderState dec;
    h264dec_init_params(dec.input, infile, outfile, leakyBucketFile);
    zn::FilePtr out;
    if (dec.input.output_given) {
        out.reset(std::fopen(dec.input.outfile.c_str(), "wb"));
        if (!out)
            h264_fatal_error(zn::Format("Error open output file %s ", dec.input.outfile.c_str()), 500);
    }
    h264dec_open_annexb(dec);

    H264ViewSink sink(host, out.get());
    dec.sink = &sink;
    int advisories = 0;
    auto decode = [&] {
        SetAnalysisChoices(dec, host);
        int result = 0;
        try {
            result = h264dec_decode_picture(dec, true);
        } catch (...) {
            // A run error inside a picture that uses what the decoder reads past is most likely its
            // consequence: the line that says so must not be lost with the run.
            AppendAdvisories(dec, advisories, host);
            throw;
        }
        AppendAdvisories(dec, advisories, host);
        return result;
    };

    zn::ForgetKeyPresses();
    NaluPtr lookahead;
    if (decode() != kEndOfStream && MoreSlices(dec, lookahead)) {
        // The last answer to either box; Cancel in the step box stops the steps until a Yes.
        std::optional<zn::MsgAnswer> last;
        for (;;) {
            if (mbBitsShown && host)
                host->h264dec_append_text(
                    zn::Format("\r\nMax MB Bits Usage\t\t= %d [bits]\r\n", dec.analysis.mb_bits_max));
            dec_clear_picture_counters(dec);
            if (zn::TakeKeyPress()) {
                last = zn::ShowMessage(kInterrupted, zn::MsgButtons::YesNo, zn::MsgIcon::Question);
                if (*last == zn::MsgAnswer::No)
                    break;
            }
            if (frameByFrame && last != zn::MsgAnswer::Cancel) {
                const int frame = host ? h264dec_frame_number(*host) : dec.picture_counters.decoded + 1;
                last = zn::ShowMessage(
                    zn::Format("Decode frame %1d in bitstream\n(Cancel to continue automatically)", frame),
                    zn::MsgButtons::YesNoCancel, zn::MsgIcon::Question, "Zantho");
                if (*last == zn::MsgAnswer::No)
                    break;
            }
            if (decode() == kEndOfStream || !MoreSlices(dec, lookahead))
                break;
        }
    }
    h264dec_output_stored_picture(dec, dec.analysis.vis_pic_type);
    if (host)
        host->h264dec_append_text(h264dec_summary(dec.picture_counters));
    dec.sink = nullptr;
    if (out && std::fclose(out.release()) != 0)
        zn::ShowMessage(zn::Format("Cannot complete the output file %s", dec.input.outfile.c_str()));
}

bool H264DecodeFirstFrame(const std::string &infile, const std::string &leakyBucketFile, int &height,
                          int &width, std::vector<uint8_t> planes[3])
{
    H264DecoderState dec;
    h264dec_init_params(dec.input, infile, "", leakyBucketFile);
    h264dec_open_annexb(dec);
    if (h264dec_decode_picture(dec, false) == kEndOfStream)
        return false;
    if (h264dec_copy_stored_picture(dec, planes, width, height))
        return true;
    // A non-reference first picture never becomes the stored picture: it is taken as decoded.
    const H264PictureRef p = h264dec_current_picture_ref(dec, 0);
    if (!h264dec_copy_picture(p, planes))
        return false;
    width = p.width;
    height = p.height;
    return true;
}

bool snr(DecoderSnr &record, const DecoderImage &img, const H264PictureRef &picture,
         const std::string &referenceFile, int frame)
{
    if (!picture.y || frame < 0)
        return false;
    const size_t luma = static_cast<size_t>(picture.width) * picture.height, chroma = luma / 4;
    zn::FilePtr ref(std::fopen(referenceFile.c_str(), "rb"));
    if (!ref || std::fseek(ref.get(), static_cast<long>((luma + 2 * chroma) * static_cast<size_t>(frame)),
                           SEEK_SET) != 0)
        return false;
    std::vector<uint8_t> y(luma), u(chroma), v(chroma);
    if (std::fread(y.data(), 1, luma, ref.get()) != luma ||
        std::fread(u.data(), 1, chroma, ref.get()) != chroma ||
        std::fread(v.data(), 1, chroma, ref.get()) != chroma)
        return false;
    record.snr_y = static_cast<float>(Psnr(img, picture.y, y.data(), luma));
    record.snr_u = static_cast<float>(Psnr(img, picture.u, u.data(), chroma));
    record.snr_v = static_cast<float>(Psnr(img, picture.v, v.data(), chroma));
    if (record.frames == 0) {
        record.snr_y1 = record.snr_y;
        record.snr_u1 = record.snr_u;
        record.snr_v1 = record.snr_v;
    }
    const float k = static_cast<float>(record.frames);
    record.snr_ya = (record.snr_ya * k + record.snr_y) / (k + 1);
    record.snr_ua = (record.snr_ua * k + record.snr_u) / (k + 1);
    record.snr_va = (record.snr_va * k + record.snr_v) / (k + 1);
    ++record.frames;
    return true;
}
