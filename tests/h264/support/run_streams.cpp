// Run streams (see the header). The vector differences are chosen, not predicted: the pictures they
// give are whatever the decoder makes of them, which is what the run tests compare.
#include "h264/support/run_streams.h"

#include "h264/support/stream_plan.h"

#include <cstdio>
#include <random>

namespace h264test {

std::vector<uint8_t> IbbpStream(bool cabac, int width_mbs, int height_mbs, int groups)
{
    StreamPlan plan;
    plan.width_mbs = width_mbs;
    plan.height_mbs = height_mbs;
    plan.num_ref_frames = 2;
    plan.sets = [](SPS &sps, PPS &) {
        sps.log2_max_frame_num_minus4 = 12;
        sps.log2_max_pic_order_cnt_lsb_minus4 = 12;
    };
    const int n = width_mbs * height_mbs;
    plan.pictures.push_back(MakePicture(7, 0, 0, TexturedIntra(n, 17)));
    std::mt19937 rng(5);
    auto small = [&](int range) { return static_cast<int>(rng() % (2 * range + 1)) - range; };
    for (int g = 1; g <= groups; ++g) {
        std::vector<MbSpec> p;
        for (int k = 0; k < n; ++k)
            p.push_back(k == n / 2 + 1 ? MbSpec::I16(7) : MbSpec::P(small(9), small(9)));
        plan.pictures.push_back(MakePicture(5, g, 6 * g, p));
        for (int b = 1; b <= 2; ++b) {
            std::vector<MbSpec> mbs;
            for (int k = 0; k < n; ++k)
                mbs.push_back(b == 1 ? MbSpec::B(2, 0, 0, 0, 0)
                                     : MbSpec::B(k % 3, small(6), small(6), small(6), small(6)));
            plan.pictures.push_back(MakePicture(6, g + 1, 6 * (g - 1) + 2 * b, mbs, 0, 0));
        }
    }
    return plan.Write(cabac);
}

std::vector<uint8_t> IntraStream(bool cabac, int width_mbs, int height_mbs)
{
    StreamPlan plan;
    plan.width_mbs = width_mbs;
    plan.height_mbs = height_mbs;
    plan.pictures.push_back(MakePicture(7, 0, 0, TexturedIntra(width_mbs * height_mbs, 3)));
    return plan.Write(cabac);
}

bool WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

std::string WriteLeakyBucketFile(const std::string &dir)
{
    // Rate, minimum buffer size and minimum initial fullness of each bucket, most significant byte first.
    const uint32_t buckets[2][3] = {{400000, 80000, 50000}, {600000, 60000, 30000}};
    std::vector<uint8_t> bytes;
    auto put = [&](uint32_t v) {
        for (int s = 24; s >= 0; s -= 8)
            bytes.push_back(static_cast<uint8_t>(v >> s));
    };
    put(2);
    for (const auto &b : buckets)
        for (uint32_t v : b)
            put(v);
    const std::string path = dir + "H264LeakyBucketParam.cfg";
    return WriteBytes(path, bytes) ? path : std::string();
}

} // namespace h264test
