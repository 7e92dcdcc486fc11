// Decoding speed of the H.264 engine in frames per CPU second, views off. Given stream files (our
// encoder's pans, from h264dec_vs_ffmpeg.py), it decodes each from memory. Without arguments the
// streams come from the test-side writer: CIF, IBPBP in decoding order I0 P2 B1 P4 B3 ..., 300
// frames, once in CAVLC and once in CABAC, with textured intra pictures, moving and skipped P
// macroblocks and B macroblocks of every direction and direct; only their rate is reported.
// With --hash it decodes each stream once and prints a checksum of its output pictures instead, so
// that a faster decoder can be checked against the pictures of the one before it.
// Usage: bench_h264dec [--hash] [STREAM ...]
#include "h264/support/picture_hash.h"
#include "h264/support/stream_plan.h"

#include "bench/cpu_time.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace {

using namespace h264test;

constexpr int kW = 22, kH = 18, kFrames = 300;

StreamPlan Plan()
{
    StreamPlan plan;
    plan.width_mbs = kW;
    plan.height_mbs = kH;
    plan.sets = [](SPS &sps, PPS &) {
        sps.log2_max_pic_order_cnt_lsb_minus4 = 6;
        sps.log2_max_frame_num_minus4 = 6;
    };
    std::mt19937 rng(1);
    auto rnd = [&](int lo, int hi) {
        return lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1));
    };
    const int n = kW * kH;
    int frameNum = 0;
    auto intra = [&](int display) {
        PicturePlan p;
        p.slice_type = 7;
        p.frame_num = frameNum++ % 1024;
        p.poc_lsb = (2 * display) % 1024;
        p.idr = display == 0;
        for (int k = 0; k < n; ++k) {
            MbSpec m;
            if (k % 3) {
                m.kind = MbKind::I4;
                for (int &b : m.block_dc)
                    b = rnd(-6, 6);
            } else {
                m = MbSpec::I16(rnd(-10, 10));
            }
            m.chroma_dc[0] = rnd(-3, 3);
            m.chroma_dc[1] = rnd(-3, 3);
            p.mbs.push_back(m);
        }
        p.header = [](SliceHeaderFields &h) { h.disable_deblocking_filter_idc = 0; };
        return p;
    };
    auto inter = [&](int display, bool b) {
        PicturePlan p;
        p.slice_type = b ? 6 : 5;
        p.frame_num = frameNum % 1024;
        if (!b)
            ++frameNum;
        p.poc_lsb = (2 * display) % 1024;
        p.nal_ref_idc = b ? 0 : 1;
        for (int k = 0; k < n; ++k) {
            const int r = rnd(0, 9);
            if (r < 3)
                p.mbs.push_back(MbSpec::Skip(b));
            else if (!b)
                p.mbs.push_back(r == 9 ? MbSpec::I16(rnd(-5, 5)) : MbSpec::P(rnd(-6, 6), rnd(-6, 6)));
            else if (r < 5)
                p.mbs.push_back(MbSpec{MbKind::BDirect});
            else
                p.mbs.push_back(MbSpec::B(r % 3, rnd(-4, 4), rnd(-4, 4), rnd(-4, 4), rnd(-4, 4)));
        }
        p.header = [](SliceHeaderFields &h) {
            h.disable_deblocking_filter_idc = 0;
            h.direct_spatial_mv_pred_flag = 1;
        };
        return p;
    };
    plan.pictures.push_back(intra(0));
    for (int d = 2; static_cast<int>(plan.pictures.size()) < kFrames; d += 2) {
        plan.pictures.push_back(d % 60 == 0 ? intra(d) : inter(d, false));
        plan.pictures.push_back(inter(d - 1, true));
    }
    plan.pictures.resize(kFrames);
    return plan;
}

// Best of three runs, in CPU seconds; frames is the count of the last run. False when decoding failed.
bool TimeDecoding(const std::vector<uint8_t> &stream, int &frames, double &best)
{
    best = 1e30;
    for (int r = 0; r < 3; ++r) {
        const double t0 = znbench::OwnCpuSeconds();
        try {
            frames = DecodeWholeStream(stream);
        } catch (const std::exception &e) {
            std::fprintf(stderr, "decoding failed: %s\n", e.what());
            return false;
        }
        best = std::min(best, znbench::OwnCpuSeconds() - t0);
    }
    return true;
}

int DecodeFiles(int argc, char **argv)
{
    const bool hash = std::string(argv[1]) == "--hash";
    for (int i = hash ? 2 : 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        const std::vector<uint8_t> stream{std::istreambuf_iterator<char>(in), {}};
        if (hash) {
            PictureHashSink sink;
            try {
                DecodeWholeStream(stream, &sink);
            } catch (const std::exception &e) {
                std::fprintf(stderr, "decoding failed: %s\n", e.what());
                return 1;
            }
            std::printf("%s: pictures %d hash %016llx\n", argv[i], sink.pictures,
                        static_cast<unsigned long long>(sink.hash));
            continue;
        }
        int frames = 0;
        double best = 0;
        if (!TimeDecoding(stream, frames, best))
            return 1;
        std::printf("%s: frames %d bytes %zu cpu_seconds %.4f fps %.1f\n", argv[i], frames, stream.size(),
                    best, frames / best);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const bool hash = argc == 2 && std::string(argv[1]) == "--hash";
    if (argc > 1 && !hash)
        return DecodeFiles(argc, argv);
    const StreamPlan plan = Plan();
    int status = 0;
    for (const bool cabac : {false, true}) {
        const std::vector<uint8_t> stream = plan.Write(cabac);
        if (hash) {
            PictureHashSink sink;
            DecodeWholeStream(stream, &sink);
            std::printf("CIF %s IBPBP: pictures %d hash %016llx\n", cabac ? "CABAC" : "CAVLC", sink.pictures,
                        static_cast<unsigned long long>(sink.hash));
            continue;
        }
        double best = 0;
        int frames = 0;
        if (!TimeDecoding(stream, frames, best))
            return 1;
        std::printf("CIF %s IBPBP: %d frames, %zu bytes, %.1f fps\n", cabac ? "CABAC" : "CAVLC", frames,
                    stream.size(), frames / best);
        if (frames != kFrames)
            status = 1;
    }
    return status;
}
