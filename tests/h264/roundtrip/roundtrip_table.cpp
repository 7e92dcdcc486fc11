// The round-trip table's machinery (see the header).
#include "roundtrip_table.h"

#include "h264/support/h264_roundtrip.h"
#include "h264enc/support/encoder_fixture.h"
#include "platform/format.h"
#include "platform/log.h"
#include "roundtrip_checks.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <regex>
#include <set>
#include <unistd.h>

namespace rtcheck {

namespace {

// Whether the row's settings hold this line.
bool Asks(const RoundTripRow &row, const char *line)
{
    return std::find(row.settings.begin(), row.settings.end(), line) != row.settings.end();
}

// The pans, long enough for every row (a row codes its first frames). ffmpeg's start costs more than a
// small run, and every row is its own process under CTest, so a pan is made once into a folder beside
// the test programs and taken from there by every later row: written under a private name, then
// renamed, so that a row running at the same time never reads half a file.
constexpr int kPanFrames = 9;
std::string PanFile(const RoundTripRow &row, int dx, int zoom, std::string *err)
{
    static zntest::ScratchDir scratch;
    const std::string photo = zntest::PhotoPath("astronaut", "png");
    std::error_code ec;
    const auto photoSize = std::filesystem::file_size(photo, ec);
    const std::string key =
        zn::Format("pan_%dx%d_%d_%d_%d_%zu_%llu", row.width, row.height, dx, zoom, kPanFrames,
                   std::hash<std::string>()(row.filter), static_cast<unsigned long long>(ec ? 0 : photoSize));
    std::filesystem::path cache = std::filesystem::current_path(ec) / "roundtrip_pans";
    if (!ec)
        std::filesystem::create_directories(cache, ec);
    if (ec)
        cache = scratch.Path();
    const std::filesystem::path path = cache / (key + ".yuv");
    const auto want = static_cast<std::uintmax_t>(row.width) * row.height * 3 / 2 * kPanFrames;
    if (std::filesystem::exists(path, ec) && std::filesystem::file_size(path, ec) == want)
        return path.string();
    const std::filesystem::path part =
        cache / zn::Format("%s.%d.part", key.c_str(), static_cast<int>(getpid()));
    *err = enctest::MakePan(photo, part.string(), row.width, row.height, kPanFrames, dx, 1, zoom, row.filter);
    if (!err->empty())
        return path.string();
    std::filesystem::rename(part, path, ec);
    if (ec)
        *err = "cannot keep the pan " + path.string() + ": " + ec.message();
    return path.string();
}

// Report lines of frames that went out as two field pictures ("FLD"; the others are marked "FRM").
int FieldPairsReported(const std::string &log)
{
    int n = 0;
    for (size_t at = 0; (at = log.find(" FLD ", at)) != std::string::npos; ++at)
        ++n;
    return n;
}

// The NAL units as the row expects them: the parameter sets first, one picture per coded frame and two
// per field pair, B pictures stored only as stored B pictures (and then some are), the slice types and
// slice counts the row names.
void CheckNalScan(const RoundTripRow &row, const std::vector<uint8_t> &stream, const enctest::EncodeResult &e,
                  int field_pairs)
{
    const auto units = enctest::ScanNalUnits(stream);
    ASSERT_GE(units.size(), 3u);
    EXPECT_EQ(units[0].type, 7);
    EXPECT_EQ(units[1].type, 8);
    std::set<int> types;
    std::vector<int> slicesPerPicture;
    int idr = 0, lastFirstMb = -1;
    const bool storedB = Asks(row, "StoredBPictures = 1");
    bool storedBSeen = false;
    for (size_t k = 2; k < units.size(); ++k) {
        const enctest::NalUnitSeen &u = units[k];
        ASSERT_TRUE(u.type == 1 || u.type == 5) << "unit " << k << " of type " << u.type;
        types.insert(u.slice_type);
        if (u.first_mb == 0) {
            slicesPerPicture.push_back(0);
            idr += u.type == 5;
        } else {
            EXPECT_GT(u.first_mb, lastFirstMb) << "unit " << k;
        }
        ASSERT_FALSE(slicesPerPicture.empty()) << "the first slice does not start at macroblock 0";
        ++slicesPerPicture.back();
        lastFirstMb = u.first_mb;
        // A B slice is a reference only as a stored B picture; I and P slices always are.
        if (storedB && u.slice_type == 6)
            storedBSeen |= u.ref_idc != 0;
        else
            EXPECT_EQ(u.ref_idc == 0, u.slice_type == 6 || u.slice_type == 1) << "unit " << k;
    }
    if (storedB) {
        EXPECT_TRUE(storedBSeen) << "no B slice is a reference";
    }
    EXPECT_EQ(slicesPerPicture.size(), e.host.frames.size() + static_cast<size_t>(field_pairs));
    EXPECT_EQ(idr, row.idr_pictures);
    for (int t : row.slice_types) {
        EXPECT_TRUE(types.count(t)) << "no slice of type " << t;
    }
    if (row.several_slices) {
        EXPECT_GT(*std::max_element(slicesPerPicture.begin(), slicesPerPicture.end()), 1);
    }
    for (size_t p = 0; row.slices_per_picture > 0 && p < slicesPerPicture.size(); ++p) {
        EXPECT_EQ(slicesPerPicture[p], row.slices_per_picture) << "picture " << p;
    }
}

// ffmpeg's PSNR of each reconstructed picture against its source picture, to the SNR line's 0.01 dB.
// A plane without error has no finite value: the run keeps the previous one there.
void CheckSnrLines(const RoundTripRow &row, const zntest::ScratchDir &dir, const std::string &pan,
                   const enctest::EncodeResult &e)
{
    const auto seq = zntest::ReadFileBytes(pan);
    const std::vector<uint8_t> source = CodedSourcePictures(std::vector<uint8_t>(seq.begin(), seq.end()),
                                                            row.width, row.height, e.host.frames);
    ASSERT_TRUE(zntest::WriteFileBytes(dir.File("src.yuv"),
                                       std::vector<unsigned char>(source.begin(), source.end())));
    const auto psnr =
        FfmpegPsnr(dir.File("src.yuv"), dir.File("rec.yuv"), row.width, row.height, dir.File("psnr.txt"));
    ASSERT_EQ(psnr.size(), e.host.frames.size());
    std::vector<h264enc::H264FrameReport> display = e.host.frames;
    std::stable_sort(display.begin(), display.end(),
                     [](const auto &a, const auto &b) { return a.source_frame < b.source_frame; });
    for (size_t k = 0; k < display.size(); ++k) {
        const float ours[3] = {display[k].snr_y, display[k].snr_u, display[k].snr_v};
        for (int c = 0; c < 3; ++c) {
            if (std::isfinite(psnr[k][c])) {
                EXPECT_NEAR(ours[c], psnr[k][c], 0.01)
                    << "source frame " << display[k].source_frame << " plane "
                    << "YUV"[c];
            }
        }
    }
}

// Pictures of a row's runs by form: frames and field pairs.
struct FormsSeen
{
    int frames = 0, field_pairs = 0;
};

void CheckRoundTrip(const RoundTripRow &row, int dx, int zoom, FormsSeen &seen)
{
    zntest::ScratchDir dir;
    std::string err;
    const std::string yuv = PanFile(row, dx, zoom, &err);
    ASSERT_EQ(err, "");
    auto v = enctest::DialogValues(yuv, row.width, row.height, row.frames, dir.File("out.264"));
    // The dialog derives the frame count from FrameSkip, so a row's FrameSkip goes to the dialog too.
    for (const std::string &line : row.settings)
        if (line.rfind("FrameSkip = ", 0) == 0)
            v.FrameSkip = std::stoi(line.substr(12));
    std::vector<std::string> lines = row.settings;
    lines.push_back("ReconFile = \"" + dir.File("rec.yuv") + "\"");
    std::string log;
    zn::LogSink old = zn::SetLogSink([&log](zn::LogLevel, const std::string &text) { log += text; });
    const enctest::EncodeResult e = enctest::Encode(enctest::WriteSettings(dir.Path(), v, lines));
    zn::SetLogSink(old);
    if (row.refused) {
        ASSERT_FALSE(e.ok) << "the run was not refused";
        EXPECT_NE(e.message.find(row.refused), std::string::npos) << e.message;
        ASSERT_EQ(e.messages.size(), 1u);
        EXPECT_NE(e.messages[0].text.find(row.refused), std::string::npos) << e.messages[0].text;
        return;
    }
    ASSERT_TRUE(e.ok) << e.message;
    if (Asks(row, "WeightedPrediction = 1")) {
        // The brightness ramp must give weights other than one, or the row tests nothing.
        // A field weighs the fields of its reference frames, twice the frame's count: with one
        // reference frame, index 1 too.
        const std::regex re("weight\\[(\\d+)\\] = (\\d+)");
        int notOne = 0, notOnePastFirst = 0;
        for (std::sregex_iterator it(log.begin(), log.end(), re), end; it != end; ++it) {
            notOne += std::stoi((*it)[2]) != 32;
            notOnePastFirst += std::stoi((*it)[1]) > 0 && std::stoi((*it)[2]) != 32;
        }
        EXPECT_GT(notOne, 0);
        if (Asks(row, "InterlaceCodingOption = 2")) {
            EXPECT_GT(notOnePastFirst, 0);
        }
    }
    const std::vector<unsigned char> bytes = zntest::ReadFileBytes(dir.File("out.264"));
    const std::vector<uint8_t> stream(bytes.begin(), bytes.end());
    // Field coding codes every frame as a field pair.
    const int fieldPairs = FieldPairsReported(log);
    if (Asks(row, "InterlaceCodingOption = 2")) {
        EXPECT_EQ(fieldPairs, static_cast<int>(e.host.frames.size()));
    }
    seen.field_pairs += fieldPairs;
    seen.frames += static_cast<int>(e.host.frames.size()) - fieldPairs;
    {
        SCOPED_TRACE("NAL scan");
        CheckNalScan(row, stream, e, fieldPairs);
    }
    // A run with stored B pictures shows no statistics (their bits fall in no column of the table).
    if (Asks(row, "StoredBPictures = 1")) {
        EXPECT_TRUE(e.host.statistics.empty());
    } else {
        ASSERT_EQ(e.host.statistics.size(), 1u);
        EXPECT_EQ(e.host.statistics[0].total_bits, PictureBitsOf(stream));
    }
    const zntest::H264DecodeResult d = zntest::DecodeH264ToYuv(dir.File("out.264"), dir.File("dec.yuv"));
    ASSERT_TRUE(d.ok) << d.message;
    const auto rec = zntest::ReadFileBytes(dir.File("rec.yuv"));
    const auto dec = zntest::ReadFileBytes(dir.File("dec.yuv"));
    const size_t pictureBytes = static_cast<size_t>(row.width) * row.height * 3 / 2;
    EXPECT_EQ(rec.size(), e.host.frames.size() * pictureBytes);
    const long long at = enctest::FirstDifference(std::vector<uint8_t>(rec.begin(), rec.end()),
                                                  std::vector<uint8_t>(dec.begin(), dec.end()));
    EXPECT_EQ(at, -1) << "reconstruction " << rec.size() << " bytes, decoded " << dec.size()
                      << ", first difference in picture "
                      << (at < 0 ? -1 : at / static_cast<long long>(pictureBytes));
    SCOPED_TRACE("SNR lines");
    CheckSnrLines(row, dir, yuv, e);
}

} // namespace

void RunRoundTripRow(const RoundTripRow &row)
{
    if (row.known_fault)
        GTEST_SKIP() << "known fault: " << row.known_fault;
    ZN_REQUIRE_TOOL("ffmpeg");
    if (zntest::PhotoPath("astronaut", "png").empty()) {
        if (zntest::RunningUnderCi()) {
            FAIL() << "sample photograph missing under CI (scripts/photos): astronaut";
        }
        GTEST_SKIP() << "sample photograph missing (run scripts/photos build/photos): astronaut";
    }
    FormsSeen seen;
    {
        SCOPED_TRACE("whole-sample pan");
        CheckRoundTrip(row, 1, 1, seen);
    }
    if (row.refused)
        return;
    {
        SCOPED_TRACE("1.5-sample pan");
        CheckRoundTrip(row, 3, 2, seen);
    }
    // Picture-adaptive coding must choose each form in the row's runs, or the row tests only one.
    if (row.both_forms) {
        EXPECT_GT(seen.frames, 0) << "no picture coded as a frame";
        EXPECT_GT(seen.field_pairs, 0) << "no picture coded as a field pair";
    }
}

} // namespace rtcheck
