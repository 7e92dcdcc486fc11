// Encoder runs whose streams change shape rather than pictures: RTP packets that must carry the Annex B
// run's NAL units byte for byte; slice groups, whose picture parameter set must list the encoder's map
// and whose slices must start where the map puts them, decoded to the end with the decoder's advisory
// line; and data partitioning, which must reconstruct exactly what one partition per slice does, with
// units of types 2, 3 and 4 per slice whose syntax elements add up to the bits the report gives.
#include "h264/support/h264_roundtrip.h"
#include "h264/support/recording_host.h"
#include "h264dec/decoder_run.h"
#include "h264dec/param_sets.h"
#include "h264enc/enc_run.h"
#include "h264enc/slice_group_map.h"
#include "h264enc/support/decoder_oracle.h"
#include "h264enc/support/encoder_fixture.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "roundtrip_checks.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <regex>

namespace encoder_structure_test {

constexpr int kW = 176, kH = 144, kPanFrames = 9;
constexpr size_t kPictureBytes = kW * kH * 3 / 2;

struct StructureRun
{
    enctest::EncodeResult e;
    std::vector<uint8_t> stream, rec;
};

// The synthetic pan (no tools needed), coded with the dialog's values, `frames` source frames and the
// given lines; the stream goes to <tag>.264, the reconstruction to <tag>_rec.yuv.
StructureRun Code(const zntest::ScratchDir &dir, const std::string &tag, int frames,
                  std::vector<std::string> lines, int w = kW, int h = kH)
{
    const std::string pan = dir.File(zn::Format("pan_%dx%d.yuv", w, h));
    if (zntest::ReadFileBytes(pan).empty()) {
        const std::vector<uint8_t> seq = enctest::SyntheticPan(w, h, kPanFrames, 2, 1);
        EXPECT_TRUE(zntest::WriteFileBytes(pan, std::vector<unsigned char>(seq.begin(), seq.end())));
    }
    auto v = enctest::DialogValues(pan, w, h, frames, dir.File(tag + ".264"));
    for (const std::string &line : lines)
        if (line.rfind("FrameSkip = ", 0) == 0)
            v.FrameSkip = std::stoi(line.substr(12));
    lines.push_back("ReconFile = \"" + dir.File(tag + "_rec.yuv") + "\"");
    StructureRun r;
    r.e = enctest::Encode(enctest::WriteSettings(dir.Path(), v, lines));
    const auto s = zntest::ReadFileBytes(dir.File(tag + ".264"));
    r.stream.assign(s.begin(), s.end());
    const auto rec = zntest::ReadFileBytes(dir.File(tag + "_rec.yuv"));
    r.rec.assign(rec.begin(), rec.end());
    return r;
}

std::vector<std::vector<uint8_t>> AnnexBUnits(const std::vector<uint8_t> &stream)
{
    std::vector<std::vector<uint8_t>> units;
    for (const rtcheck::AnnexBUnit &u : rtcheck::SplitAnnexB(stream))
        units.push_back(u.Unit(stream));
    return units;
}

// ----- RTP -----

TEST(EncoderRtp, PacketsCarryTheAnnexBRunsUnitsByteForByte)
{
    zntest::ScratchDir dir;
    const std::vector<std::vector<std::string>> cases = {
        {}, // CABAC with B pictures
        {"SymbolMode = 0", "SliceMode = 1", "SliceArgument = 13", "NumberBFrames = 0", "FrameSkip = 0"},
    };
    for (size_t c = 0; c < cases.size(); ++c) {
        SCOPED_TRACE(zn::Format("case %zu", c));
        const StructureRun annexB = Code(dir, "annexb", 5, cases[c]);
        ASSERT_TRUE(annexB.e.ok) << annexB.e.message;
        std::vector<std::string> rtpLines = cases[c];
        rtpLines.push_back("OutFileMode = 1");
        const StructureRun rtp = Code(dir, "rtp", 5, rtpLines);
        ASSERT_TRUE(rtp.e.ok) << rtp.e.message;
        std::vector<rtcheck::RtpPacket> packets;
        ASSERT_TRUE(rtcheck::ReadRtpFile(rtp.stream, &packets));
        const auto units = AnnexBUnits(annexB.stream);
        ASSERT_EQ(packets.size(), units.size());
        for (size_t k = 0; k < packets.size(); ++k) {
            const rtcheck::RtpPacket &p = packets[k];
            EXPECT_EQ(p.nal, units[k]) << "unit " << k;
            EXPECT_EQ(p.time, 0xFFFFFFFFu);
            EXPECT_EQ(p.version, 2);
            EXPECT_EQ(p.padding + p.extension + p.cc, 0);
            EXPECT_EQ(p.payload_type, 105);
            EXPECT_EQ(p.ssrc, 0x12345678u);
            EXPECT_EQ(p.seq, (packets[0].seq + k) & 0xFFFF) << "unit " << k;
        }
        // Every slice of a picture carries its display time, 1000 per frame of the pan apart.
        const auto scan = enctest::ScanNalUnits(annexB.stream);
        ASSERT_EQ(scan.size(), packets.size());
        std::vector<uint32_t> pictureTimes;
        for (size_t k = 0; k < scan.size(); ++k)
            if (scan[k].slice_type >= 0) {
                if (scan[k].first_mb == 0)
                    pictureTimes.push_back(packets[k].timestamp);
                else
                    EXPECT_EQ(packets[k].timestamp, pictureTimes.back()) << "unit " << k;
            }
        const auto &frames = rtp.e.host.frames;
        ASSERT_EQ(pictureTimes.size(), frames.size());
        for (size_t n = 0; n < frames.size(); ++n)
            EXPECT_EQ(pictureTimes[n] - pictureTimes[0],
                      static_cast<uint32_t>(1000 * (frames[n].source_frame - frames[0].source_frame)))
                << "picture " << n;
        // The same pictures were coded.
        EXPECT_EQ(rtp.rec, annexB.rec);
    }
}

// ----- slice groups -----

// The picture parameter set of a stream, read by the decoder's reader.
PpsPtr ReadPps(const std::vector<uint8_t> &stream)
{
    for (const rtcheck::AnnexBUnit &u : rtcheck::SplitAnnexB(stream))
        if (u.type == 8) {
            std::vector<uint8_t> rbsp = rtcheck::Rbsp(u.Unit(stream));
            rbsp.resize(rbsp.size() + 8, 0xFF);
            auto dp = enctest::DecoderPartition(rbsp);
            PpsPtr pps = dec_AllocPPS();
            h264dec_read_pps(dp.get(), pps.get());
            return pps;
        }
    return nullptr;
}

// Decodes the stream through a host that records the result text: the pictures decoded and the run
// error's message (empty when the stream was read to its end).
struct GroupDecode
{
    std::string text, error;
    std::vector<uint8_t> yuv;
};
GroupDecode DecodeWithHost(const zntest::ScratchDir &dir, const std::string &stream)
{
    zn::MessageRecorder boxes;
    h264test::RecordingHost host;
    const std::string out = dir.File("groups_dec.yuv");
    GroupDecode d;
    try {
        // The leaky-bucket file the encoder left in the folder, as the dialog finds it in the user's folder.
        H264Decoder(stream, out, dir.File("H264LeakyBucketParam.cfg"), false, false, &host);
    } catch (const zn::RunAborted &e) {
        d.error = e.what();
    }
    d.text = host.text;
    const auto bytes = zntest::ReadFileBytes(out);
    d.yuv.assign(bytes.begin(), bytes.end());
    return d;
}

// Where slices must start in a picture of `units` macroblocks: each group's macroblocks in raster
// order, a new slice every SliceArgument of them (one slice per group without a slice mode).
std::vector<int> SliceStarts(const std::vector<int> &map, int units, int last_group,
                             const std::vector<std::string> &lines)
{
    int perSlice = units;
    for (const std::string &line : lines)
        if (line.rfind("SliceArgument = ", 0) == 0)
            perSlice = std::stoi(line.substr(16));
    std::vector<int> starts;
    for (int g = 0; g <= last_group; ++g) {
        int inGroup = 0;
        for (int i = 0; i < units; ++i)
            if (map[static_cast<size_t>(i)] == g && inGroup++ % perSlice == 0)
                starts.push_back(i);
    }
    return starts;
}

// The first macroblocks of the stream's slices, cut into pictures of `per_picture` slices.
std::vector<std::vector<int>> SliceStartsPerPicture(const std::vector<uint8_t> &stream, size_t per_picture)
{
    std::vector<std::vector<int>> pictures;
    size_t k = 0;
    for (const auto &u : enctest::ScanNalUnits(stream)) {
        if (u.slice_type < 0)
            continue;
        if (k++ % per_picture == 0)
            pictures.emplace_back();
        pictures.back().push_back(u.first_mb);
    }
    return pictures;
}

struct GroupCase
{
    const char *name;
    std::vector<std::string> lines;
    h264enc::FmoSettings fmo; // the map the run must build (static maps only)
    bool static_map;
    // Where the decoder cannot read the stream to its end, why: it then ends with a message instead.
    const char *decode_fault = nullptr;
    bool exact = false; // every group a run of macroblocks in raster order: read as one, nothing differs
};

// The decoder reads several slice groups as one, by design: a slice's macroblocks land in raster
// order from its first one. Where a group is not a raster run, the first intra mode that needs a
// neighbour the decoder does not see ends the run (the encoder saw it in the group).
const char *const kScattered = "groups that are not raster runs: the decoder reads them as one";

TEST(EncoderSliceGroups, ParameterSetListsTheMapSlicesStartWhereItSaysAndTheDecoderReadsToTheEnd)
{
    const std::string advisory = "This stream uses several slice groups";
    const int widthMbs = kW / 16, heightMbs = kH / 16;
    const GroupCase cases[] = {
        {"dispersed, two groups", {"num_slice_groups_minus1 = 1", "FmoType = 1"}, {1, 1}, true, kScattered},
        {"dispersed, four groups, CAVLC, slices of 5",
         {"num_slice_groups_minus1 = 3", "FmoType = 1", "SymbolMode = 0", "SliceMode = 1",
          "SliceArgument = 5"},
         {3, 1},
         true,
         kScattered},
        {"box",
         {"num_slice_groups_minus1 = 1", "FmoType = 3", "FmoTopLeftMB = 24", "FmoBottomRightMB = 74"},
         {1, 3, 24, 74},
         true,
         kScattered},
        {"box, slices of 7",
         {"num_slice_groups_minus1 = 1", "FmoType = 3", "FmoTopLeftMB = 12", "FmoBottomRightMB = 52",
          "SliceMode = 1", "SliceArgument = 7"},
         {1, 3, 12, 52},
         true,
         kScattered},
        {"box-out",
         {"num_slice_groups_minus1 = 1", "FmoType = 4", "FmoChangeRate = 4"},
         {},
         false,
         kScattered},
        {"raster",
         {"num_slice_groups_minus1 = 1", "FmoType = 5", "FmoChangeDirection = 0"},
         {},
         false,
         nullptr,
         true},
        // Group 0 at the end of the picture is coded first: read as one, its slice ends the picture,
        // so the pictures differ, but the stream is read to its end.
        {"raster, CAVLC, other direction",
         {"num_slice_groups_minus1 = 1", "FmoType = 5", "FmoChangeDirection = 1", "FmoChangeRate = 10",
          "SymbolMode = 0"},
         {},
         false},
        {"wipe", {"num_slice_groups_minus1 = 1", "FmoType = 6", "SymbolMode = 0"}, {}, false, kScattered},
    };
    zntest::ScratchDir dir;
    for (const GroupCase &c : cases) {
        SCOPED_TRACE(c.name);
        const StructureRun r = Code(dir, "groups", 5, c.lines);
        ASSERT_TRUE(r.e.ok) << r.e.message;
        const GroupDecode d = DecodeWithHost(dir, dir.File("groups.264"));
        // The advisory line once, also when the run ends early.
        const size_t at = d.text.find(advisory);
        EXPECT_NE(at, std::string::npos) << d.text;
        if (at != std::string::npos) {
            EXPECT_EQ(d.text.find(advisory, at + 1), std::string::npos);
        }
        if (c.decode_fault) {
            if (!d.error.empty())
                std::printf("%s: the decoder ends with \"%s\" (%s)\n", c.name, d.error.c_str(),
                            c.decode_fault);
        } else {
            EXPECT_EQ(d.error, "");
            EXPECT_EQ(d.yuv.size(), r.e.host.frames.size() * kPictureBytes);
        }
        if (c.exact) {
            EXPECT_TRUE(d.yuv == r.rec)
                << "first difference at byte " << enctest::FirstDifference(d.yuv, r.rec);
        }
        if (!c.static_map)
            continue;

        h264enc::EncoderFmo fmo;
        h264enc::h264enc_fmo_init(fmo, widthMbs, heightMbs, c.fmo);
        const std::vector<int> &map = fmo.map.MBAmap;
        if (c.fmo.type == 3) // the box is group 0, everything else group 1
            for (int i = 0; i < widthMbs * heightMbs; ++i) {
                const int x = i % widthMbs, y = i / widthMbs;
                const bool inBox = x >= c.fmo.top_left_mb % widthMbs &&
                                   x <= c.fmo.bottom_right_mb % widthMbs &&
                                   y >= c.fmo.top_left_mb / widthMbs && y <= c.fmo.bottom_right_mb / widthMbs;
                EXPECT_EQ(map[static_cast<size_t>(i)], inBox ? 0 : 1) << "macroblock " << i;
            }
        const PpsPtr pps = ReadPps(r.stream);
        ASSERT_TRUE(pps);
        EXPECT_EQ(pps->num_slice_groups_minus1, c.fmo.num_slice_groups_minus1);
        EXPECT_EQ(pps->mb_slice_group_map_type, 6); // static maps go out as explicit lists
        ASSERT_EQ(pps->slice_group_id_cnt_minus1 + 1, widthMbs * heightMbs);
        EXPECT_EQ(
            std::vector<int>(pps->slice_group_id.begin(), pps->slice_group_id.begin() + widthMbs * heightMbs),
            map);

        const std::vector<int> starts =
            SliceStarts(map, widthMbs * heightMbs, c.fmo.num_slice_groups_minus1, c.lines);
        const std::vector<std::vector<int>> pictures = SliceStartsPerPicture(r.stream, starts.size());
        ASSERT_EQ(pictures.size(), r.e.host.frames.size());
        for (size_t p = 0; p < pictures.size(); ++p)
            EXPECT_EQ(pictures[p], starts) << "picture " << p;
    }
}

// Static maps in pictures that read the first half of the frame's map: the units, their groups' slice
// starts, the explicit list in the parameter set, and where every group is a raster run the decoder's
// exact reading. `mbs_per_unit` macroblocks make a unit (2 for pairs); each frame is `pictures_per_frame`
// pictures of the stream.
struct HalfMapCase
{
    const char *name;
    std::vector<std::string> lines;
    h264enc::FmoSettings fmo;
    int slice_argument; // macroblocks per slice (0: one slice per group)
    bool exact;         // every group of the half a raster run: the decoder reads it as one
};

// Dispersed and box maps, with slices and CAVLC: groups that are raster runs of the half or not.
std::vector<HalfMapCase> HalfMapCases()
{
    return {
        {"dispersed", {"num_slice_groups_minus1 = 1", "FmoType = 1"}, {1, 1}, 0, false},
        {"dispersed, three groups, CAVLC, slices of 4",
         {"num_slice_groups_minus1 = 2", "FmoType = 1", "SymbolMode = 0"},
         {2, 1},
         4,
         false},
        {"box in the lower half",
         {"num_slice_groups_minus1 = 1", "FmoType = 3", "FmoTopLeftMB = 25", "FmoBottomRightMB = 34"},
         {1, 3, 25, 34},
         0,
         true},
        {"box across the middle, CAVLC",
         {"num_slice_groups_minus1 = 1", "FmoType = 3", "FmoTopLeftMB = 13", "FmoBottomRightMB = 28",
          "SymbolMode = 0"},
         {1, 3, 13, 28},
         0,
         false},
    };
}

void CheckHalfMapSlices(const std::vector<HalfMapCase> &cases, const std::vector<std::string> &form,
                        int mbs_per_unit, size_t pictures_per_frame)
{
    constexpr int w = 96, h = 96; // 6 x 6 macroblocks, halves of 6 x 3 units
    const int widthMbs = w / 16, frameMbs = widthMbs * h / 16, units = frameMbs / 2;
    zntest::ScratchDir dir;
    for (const HalfMapCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> lines = c.lines;
        if (c.slice_argument > 0)
            lines.insert(lines.end(),
                         {"SliceMode = 1", "SliceArgument = " + std::to_string(c.slice_argument)});
        lines.insert(lines.end(), form.begin(), form.end());
        const StructureRun r = Code(dir, "halfmap", 3, lines, w, h);
        ASSERT_TRUE(r.e.ok) << r.e.message;
        const GroupDecode d = DecodeWithHost(dir, dir.File("halfmap.264"));
        if (c.exact) {
            EXPECT_EQ(d.error, "");
            EXPECT_TRUE(d.yuv == r.rec)
                << "first difference at byte " << enctest::FirstDifference(d.yuv, r.rec);
        } else if (!d.error.empty()) {
            std::printf("%s: the decoder ends with \"%s\" (%s)\n", c.name, d.error.c_str(), kScattered);
        }
        h264enc::EncoderFmo fmo;
        h264enc::h264enc_fmo_init(fmo, widthMbs, h / 16, c.fmo);
        const std::vector<int> &map = fmo.map.MBAmap;
        const PpsPtr pps = ReadPps(r.stream);
        ASSERT_TRUE(pps);
        ASSERT_EQ(pps->slice_group_id_cnt_minus1 + 1, frameMbs);
        EXPECT_EQ(std::vector<int>(pps->slice_group_id.begin(), pps->slice_group_id.begin() + frameMbs), map);
        const int perSlice = c.slice_argument > 0 ? c.slice_argument / mbs_per_unit : units;
        const std::vector<int> starts = SliceStarts(map, units, c.fmo.num_slice_groups_minus1,
                                                    {"SliceArgument = " + std::to_string(perSlice)});
        const std::vector<std::vector<int>> pictures = SliceStartsPerPicture(r.stream, starts.size());
        ASSERT_EQ(pictures.size(), pictures_per_frame * r.e.host.frames.size());
        for (size_t p = 0; p < pictures.size(); ++p)
            EXPECT_EQ(pictures[p], starts) << "picture " << p;
        // One IDR picture: the slices of the first picture, and of no other.
        size_t idrUnits = 0;
        for (const auto &u : enctest::ScanNalUnits(r.stream))
            idrUnits += u.type == 5 ? 1 : 0;
        EXPECT_EQ(idrUnits, starts.size());
    }
}

// A field picture takes the first half of the frame's map: its own macroblocks, in raster order, find
// their groups there. A group without a macroblock in that half has no slice in the field; a box in the
// lower half of the frame used to start a slice past the field's last macroblock.
TEST(EncoderSliceGroups, FieldPicturesTakeTheFirstHalfOfTheFramesMap)
{
    CheckHalfMapSlices(HalfMapCases(), {"InterlaceCodingOption = 2", "NumberBFrames = 1", "FrameSkip = 1"}, 1,
                       2);
}

// A macroblock-adaptive frame's map unit is a macroblock pair: pair p (in raster order of the pairs) takes
// entry p of the first half of the frame's map, a slice starts at a pair (first_mb_in_slice counts pairs)
// and holds both macroblocks of each pair of its group. Without this, every group's slices ran over the
// whole picture, and the decoder found twice the pictures. A first group that does not hold the top-left
// pair (dispersed) used to leave the field views unprepared and end the run in a crash.
TEST(EncoderSliceGroups, MacroblockAdaptiveFramesTakeThePairsOfTheFirstHalfOfTheMap)
{
    std::vector<HalfMapCase> cases = HalfMapCases();
    cases.push_back(
        {"box in the upper rows, slices of 6",
         {"num_slice_groups_minus1 = 1", "FmoType = 3", "FmoTopLeftMB = 0", "FmoBottomRightMB = 11"},
         {1, 3, 0, 11},
         6,
         true});
    CheckHalfMapSlices(
        cases, {"InterlaceCodingOption = 3", "RDOptimization = 1", "NumberBFrames = 1", "FrameSkip = 1"}, 2,
        1);
}

// An evolving raster map in macroblock-adaptive frames grows group 0 by FmoChangeRate + 1 pairs with each
// picture; group 1 starts at the first pair beyond it until group 0 covers every pair.
TEST(EncoderSliceGroups, MacroblockAdaptiveRasterMapGrowsByPairs)
{
    constexpr int w = 96, h = 96, frames = 5, rate = 4;
    const int pairs = (w / 16) * (h / 32);
    zntest::ScratchDir dir;
    const StructureRun r = Code(dir, "pairraster", frames,
                                {"InterlaceCodingOption = 3", "RDOptimization = 1", "NumberBFrames = 0",
                                 "FrameSkip = 0", "num_slice_groups_minus1 = 1", "FmoType = 5",
                                 "FmoChangeDirection = 0", "FmoChangeRate = " + std::to_string(rate)},
                                w, h);
    ASSERT_TRUE(r.e.ok) << r.e.message;
    std::vector<std::vector<int>> pictures;
    for (const auto &u : enctest::ScanNalUnits(r.stream)) {
        if (u.slice_type < 0)
            continue;
        if (u.first_mb == 0)
            pictures.emplace_back();
        ASSERT_FALSE(pictures.empty());
        pictures.back().push_back(u.first_mb);
    }
    ASSERT_EQ(pictures.size(), static_cast<size_t>(frames));
    for (int k = 1; k <= frames; ++k) {
        const int grown = k * (rate + 1);
        const std::vector<int> expected = grown < pairs ? std::vector<int>{0, grown} : std::vector<int>{0};
        EXPECT_EQ(pictures[static_cast<size_t>(k - 1)], expected) << "picture " << k;
    }
    const GroupDecode d = DecodeWithHost(dir, dir.File("pairraster.264"));
    EXPECT_EQ(d.error, "");
    EXPECT_TRUE(d.yuv == r.rec) << "first difference at byte " << enctest::FirstDifference(d.yuv, r.rec);
}

// The evolving maps, and dispersed groups with picture-adaptive coding: every run codes to its end
// with its reconstruction, and the decoder reads the stream as it reads a frame's groups. Also in
// macroblock-adaptive frames, where the maps' pairs are the first half of the frame's units.
TEST(EncoderSliceGroups, EvolvingMapsCodeFieldsAndPictureAdaptiveFrames)
{
    const std::vector<std::vector<std::string>> cases = {
        {"InterlaceCodingOption = 2", "num_slice_groups_minus1 = 1", "FmoType = 4", "FmoChangeRate = 4"},
        {"InterlaceCodingOption = 2", "num_slice_groups_minus1 = 1", "FmoType = 6", "SymbolMode = 0"},
        {"InterlaceCodingOption = 1", "num_slice_groups_minus1 = 1", "FmoType = 4", "FmoChangeDirection = 0"},
        {"InterlaceCodingOption = 1", "num_slice_groups_minus1 = 3", "FmoType = 1", "SymbolMode = 0"},
        {"InterlaceCodingOption = 3", "num_slice_groups_minus1 = 1", "FmoType = 4", "FmoChangeRate = 2",
         "RDOptimization = 1"},
        {"InterlaceCodingOption = 3", "num_slice_groups_minus1 = 1", "FmoType = 6", "SymbolMode = 0",
         "RDOptimization = 1"},
        {"InterlaceCodingOption = 3", "num_slice_groups_minus1 = 1", "FmoType = 5", "FmoChangeDirection = 1",
         "FmoChangeRate = 11", "RDOptimization = 1"},
    };
    zntest::ScratchDir dir;
    for (const auto &lines : cases) {
        SCOPED_TRACE(lines[0] + ", " + lines[2]);
        std::string log;
        zn::LogSink old = zn::SetLogSink([&log](zn::LogLevel, const std::string &text) { log += text; });
        const StructureRun r = Code(dir, "evolving", 3, lines, 96, 96);
        zn::SetLogSink(old);
        ASSERT_TRUE(r.e.ok) << r.e.message;
        int fieldPairs = 0;
        for (size_t at = 0; (at = log.find(" FLD ", at)) != std::string::npos; ++at)
            ++fieldPairs;
        EXPECT_EQ(r.rec.size(), r.e.host.frames.size() * 96 * 96 * 3 / 2);
        if (lines[0] == "InterlaceCodingOption = 2") {
            EXPECT_EQ(fieldPairs, static_cast<int>(r.e.host.frames.size()));
        }
        const GroupDecode d = DecodeWithHost(dir, dir.File("evolving.264"));
        EXPECT_NE(d.text.find("This stream uses several slice groups"), std::string::npos) << d.text;
    }
}

// ----- data partitioning -----

// The numbers of one column of the bit usage table (0 intra, 1 inter, 2 B), per category.
std::map<std::string, long long> BitUsageColumn(const std::string &text, int column)
{
    std::map<std::string, long long> out;
    const std::regex line("(Header|Mode|Motion|CBP Y/C|Transform coefficients Y|Transform coefficients "
                          "U/V|Delta qnt|Stuff bits)(?:\r\n)?\t\\s*(-|\\d+)\t\\s*(\\d+)\t\\s*(\\d+)\r\n");
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it) {
        const std::string v = (*it)[2 + column];
        out[(*it)[1]] = v == "-" ? 0 : std::stoll(v);
    }
    return out;
}

TEST(EncoderDataPartitioning, SameReconstructionThreeUnitsPerSliceAndElementBitsThatAddUp)
{
    zntest::ScratchDir dir;
    for (int symbolMode : {0, 1}) {
        SCOPED_TRACE(symbolMode ? "CABAC" : "CAVLC");
        // Three pictures, I P B: each column of the bit usage table is one picture's own count.
        const std::vector<std::string> lines = {"UseConstrainedIntraPred = 1", "SliceMode = 1",
                                                "SliceArgument = 40",
                                                zn::Format("SymbolMode = %d", symbolMode)};
        const StructureRun whole = Code(dir, "whole", 3, lines);
        ASSERT_TRUE(whole.e.ok) << whole.e.message;
        std::vector<std::string> partLines = lines;
        partLines.push_back("PartitionMode = 1");
        const StructureRun parts = Code(dir, "parts", 3, partLines);
        ASSERT_TRUE(parts.e.ok) << parts.e.message;
        ASSERT_EQ(parts.e.host.frames.size(), 3u);
        EXPECT_EQ(parts.rec.size(), 3 * kPictureBytes);
        EXPECT_TRUE(parts.rec == whole.rec)
            << "first difference at byte " << enctest::FirstDifference(parts.rec, whole.rec);

        // After the parameter sets, A, B and C for every slice: three slices of 40, 40 and 19
        // macroblocks per picture.
        const auto units = rtcheck::SplitAnnexB(parts.stream);
        const auto scan = enctest::ScanNalUnits(parts.stream);
        ASSERT_EQ(units.size(), 2 + 3 * 3 * 3u);
        std::vector<int> firstMbs;
        for (size_t k = 2; k < units.size(); ++k) {
            EXPECT_EQ(units[k].type, 2 + static_cast<int>((k - 2) % 3)) << "unit " << k;
            if (units[k].type == 2)
                firstMbs.push_back(scan[k].first_mb);
        }
        EXPECT_EQ(firstMbs, (std::vector<int>{0, 40, 80, 0, 40, 80, 0, 40, 80}));
        EXPECT_EQ(parts.e.host.statistics.at(0).total_bits, rtcheck::PictureBitsOf(parts.stream));
        if (symbolMode)
            continue;

        // CAVLC: each picture's units hold exactly the bits its column of the table counts.
        // Coding order I, P, B: the columns intra, inter and B.
        for (int p = 0; p < 3; ++p) {
            long long inUnits = 0;
            for (size_t k = 2 + 9 * static_cast<size_t>(p); k < 2 + 9 * static_cast<size_t>(p + 1); ++k)
                inUnits += rtcheck::BitsBeforeStopBit(rtcheck::Rbsp(units[k].Unit(parts.stream)));
            const auto column = BitUsageColumn(parts.e.host.appended, p);
            ASSERT_EQ(column.size(), 8u) << parts.e.host.appended;
            long long counted = 0;
            for (const auto &[name, bits] : column)
                counted += bits;
            EXPECT_EQ(inUnits, counted) << "picture " << p << " (coding order)\n" << parts.e.host.appended;
        }
    }
}

} // namespace encoder_structure_test
