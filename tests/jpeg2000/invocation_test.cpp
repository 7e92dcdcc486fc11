// The invocation environment: the row loops read and write each image row once, in order, feed
// tiles in raster order from the row caches, shift and scale samples into fixed point and back, and
// shrink tiles for discarded levels; the constructor checks refuse what they must.
#include "jpeg2000/support/info_codec.h"
#include "jpeg2000/support/j2k_elements.h"
#include "jpeg2000/support/test_codec.h"
#include "jpeg2000/support/tier2_fixture.h"

#include "jpeg2000/command_line.h"
#include "jpeg2000/invocation.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/stream_in.h"
#include "jpeg2000/stream_out.h"

#include "platform/errors.h"

#include <gtest/gtest.h>

#include <map>

namespace invocation_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

namespace {
// Records the reader's calls.
class CountingReader : public image_line_reader
{
public:
    CountingReader(const memory_image &image) : m_reader(image) {}
    void get_line(int c, int32_t *line, int width) override
    {
        reads.push_back(c);
        m_reader.get_line(c, line, width);
    }
    std::vector<int> reads;

private:
    memory_image_reader m_reader;
};

// Keeps every pushed tile row, and serves rows back for the decoder loop.
struct RecordingMix : component_line_sink, component_line_source
{
    struct Row
    {
        int tile, component;
        std::vector<int32_t> samples;
    };
    int tile = 0;
    std::vector<Row> rows;
    size_t served = 0;
    void push_line(const int32_t *line, int c, int width) override
    {
        rows.push_back({tile, c, {line, line + width}});
    }
    void pull_line(int32_t *line, int c, int width) override
    {
        ASSERT_LT(served, rows.size());
        const Row &r = rows[served++];
        ASSERT_EQ(r.component, c);
        ASSERT_EQ(int(r.samples.size()), width);
        std::copy(r.samples.begin(), r.samples.end(), line);
    }
    void next_tile() override { ++tile; }
};

memory_image Ramp(int height, int width)
{
    memory_image image;
    image.add_component(height, width);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.planes[0][size_t(y) * size_t(width) + size_t(x)] = (3 * x + 7 * y) % 256;
    return image;
}
} // namespace

TEST(J2kInvocation, TilesOfSixtyFourOnAHundredReadEveryRowOnceAndInOrder)
{
    auto image = Ramp(100, 100);
    j2ktest::Args args({"-Ftiles", "64", "64"});
    auto forward = j2ktest::MakeForward(j2ktest::Image::Grey(100, 100), args.line.get());
    forward_info &info = *forward;
    CountingReader reader(image);
    RecordingMix mix;
    encode_lines(info, reader, mix, 1);
    EXPECT_EQ(reader.reads.size(), 100u) << "each image row is read once";
    ASSERT_EQ(mix.rows.size(), size_t(64 + 64 + 36 + 36));
    // Tile 0 gets rows 0..63, columns 0..63, shifted by -128 and scaled by 2^22; tile 1 the same
    // rows' columns 64..99.
    const int K = 32 - 8 - 2;
    for (size_t k = 0; k < mix.rows.size(); ++k) {
        const auto &r = mix.rows[k];
        const int tile = r.tile, row_in_tile = int(k) - (tile == 0   ? 0
                                                         : tile == 1 ? 64
                                                         : tile == 2 ? 128
                                                                     : 164);
        const int y = (tile >= 2 ? 64 : 0) + row_in_tile, x0 = tile % 2 ? 64 : 0;
        ASSERT_EQ(int(r.samples.size()), tile % 2 ? 36 : 64);
        for (size_t i = 0; i < r.samples.size(); ++i)
            ASSERT_EQ(r.samples[i], (image.planes[0][size_t(y) * 100 + x0 + i] - 128) * (1 << K));
    }
    // And back: the decoder loop writes every row once, in order, and undoes the scaling.
    info.next_tile(1);
    memory_image_writer writer(8, image.heights, image.widths);
    decode_lines(info, writer, mix, 1, 0);
    EXPECT_EQ(writer.image().planes, image.planes);
}

// The row caches alone: the encoder's reads a row once however often it is asked for, drops rows
// for good, and reuses their buffers; the decoder's starts rows cleared and writes them out in order.
TEST(J2kInvocation, RowCachesReadOnceDropAndReuse)
{
    const memory_image image = Ramp(12, 5);
    CountingReader reader(image);
    component_row_state s;
    s.width = 5;
    for (int32_t r : {0, 2, 1, 2, 5})
        EXPECT_EQ(enc_row_cache(s, 0, r, reader)[0], image.planes[0][size_t(r) * 5]) << r;
    EXPECT_EQ(reader.reads.size(), 6u);
    enc_drop_rows(s, 3);
    EXPECT_EQ(s.first, 4);
    EXPECT_EQ(s.held, 2);
    EXPECT_EQ(enc_row_cache(s, 0, 9, reader)[4], image.planes[0][9 * 5 + 4]);
    EXPECT_EQ(s.rows.size(), 6u); // rows 6 .. 9 took the dropped buffers
    {
        zn::MessageRecorder rec;
        EXPECT_THROW(enc_row_cache(s, 0, 3, reader), zn::RunAborted);
    }

    memory_image_writer writer(8, {4}, {5});
    component_row_state d;
    d.width = 5;
    dec_row_cache(d, 2)[1] = 7;
    EXPECT_EQ(dec_row_cache(d, 0)[1], 0);
    dec_emit_rows(d, 0, 1, writer);
    EXPECT_EQ(d.first, 2);
    dec_row_cache(d, 3)[0] = 9;
    dec_emit_rows(d, 0, INT32_MAX, writer);
    EXPECT_EQ(writer.image().planes[0][2 * 5 + 1], 7);
    EXPECT_EQ(writer.image().planes[0][3 * 5], 9);
    EXPECT_EQ(d.rows.size(), 3u); // row 3 took a buffer written out before
}

TEST(J2kInvocation, EightBitSampleAtTwentyTwoFractionBits)
{
    // 255 enters as 127 x 2^22 and comes back as 255.
    memory_image image;
    image.add_component(1, 1);
    image.planes[0][0] = 255;
    j2ktest::Args args;
    auto forward = j2ktest::MakeForward(j2ktest::Image::Grey(1, 1), args.line.get());
    forward_info &info = *forward;
    memory_image_reader reader(image);
    RecordingMix mix;
    encode_lines(info, reader, mix, 1);
    ASSERT_EQ(mix.rows.size(), 1u);
    EXPECT_EQ(mix.rows[0].samples[0], 127 * (1 << 22));
    info.next_tile(1);
    memory_image_writer writer(8, image.heights, image.widths);
    decode_lines(info, writer, mix, 1, 0);
    EXPECT_EQ(writer.image().planes[0][0], 255);
}

TEST(J2kInvocation, DiscardedLevelsShrinkTileRectangles)
{
    // Rows 0..32 give 17 rows at half resolution; rows 33..63 start at 17 and give 15.
    const struct
    {
        canvas_rect in;
        int levels;
        canvas_rect out;
    } cases[] = {
        {{33, 10, 0, 0}, 1, {17, 5, 0, 0}},    {{31, 10, 33, 0}, 1, {15, 5, 17, 0}},
        {{100, 100, 0, 0}, 2, {25, 25, 0, 0}}, {{7, 9, 5, 3}, 2, {1, 2, 2, 1}},
        {{5, 5, 0, 0}, 0, {5, 5, 0, 0}},
    };
    for (const auto &c : cases) {
        canvas_rect r = reduce_tile_rect(c.in, c.levels);
        EXPECT_EQ(r.rows, c.out.rows);
        EXPECT_EQ(r.cols, c.out.cols);
        EXPECT_EQ(r.first_row, c.out.first_row);
        EXPECT_EQ(r.first_col, c.out.first_col);
    }
    j2ktest::Args args({"-Ftiles", "64", "64"});
    auto info = j2ktest::MakeForward(j2ktest::Image::Grey(100, 100), args.line.get());
    int dims[4] = {};
    EXPECT_EQ(reduced_image_dims(*info, 1, 1, dims), 4);
    EXPECT_EQ(dims[0], 50);
    EXPECT_EQ(dims[1], 50);
}

TEST(J2kInvocation, ConstructorChecksRefuseWhatTheyMust)
{
    zn::MessageRecorder recorder;
    auto check = [&](std::vector<const char *> words) {
        words.insert(words.begin(), "Jpeg2000Encoder");
        auto args = create_command_line();
        args->parse(int(words.size()), words.data());
        return check_encoder_arguments(args.get());
    };
    {
        J2kRun run;
        EXPECT_FALSE(check({}));
        EXPECT_TRUE(check({"-Qtcq"}));
        EXPECT_FALSE(check({"-iter", "-Cno_trunc"}));
    }
    {
        J2kRun run;
        EXPECT_THROW(check({"-iter"}), zn::RunAborted);
    }
    EXPECT_NE(
        j2ktest::JoinedText(recorder).find("The `-iter' argument must not be supplied without `-Cno_trunc'"),
        std::string::npos);
    {
        J2kRun run;
        EXPECT_THROW(check({"-Qtcq", "x"}), zn::RunAborted);
    }
    EXPECT_NE(j2ktest::JoinedText(recorder).find("The `-Qtcq' argument takes no parameters!"),
              std::string::npos);
}

TEST(J2kInvocation, QuantisationTypeChoosesTheDequantiser)
{
    zntest::ScratchDir dir;
    zn::MessageRecorder recorder;
    for (int type : {0, 1, 2, 3}) {
        J2kRun run;
        const std::string path = dir.File("q" + std::to_string(type) + ".j2k");
        {
            j2ktest::Args args;
            auto out = create_stream_out();
            out->initialize(1 << 20, path.c_str(), nullptr);
            auto info = j2ktest::MakeForward(j2ktest::Image::Grey(8, 8), args.line.get(), out.get());
            j2ktest::DeclareOtherObjects(*out, 1, false);
            j2ktest::Declare(*out, -1, elt::QuantizationType, 0, 2, {type});
            info->complete_setup(1, {}, {}, out.get(), args.line.get());
            out->write_global_header();
            const uint8_t empty = 0x00;
            out->start_tile(0, 0, out->start_tile(0, 1, 0) + 1);
            out->start_packet(0, 1, 0, 1, 0);
            out->put_head_bytes(&empty, 1);
            out->end_packet();
            out->terminate();
        }
        auto in = create_stream_in();
        in->initialize(path.c_str());
        recorder.Clear();
        if (type == 3) {
            EXPECT_THROW(dequantizer_is_tcq(*in), zn::RunAborted);
            EXPECT_NE(j2ktest::JoinedText(recorder).find("Invalid quantization flag in header!"),
                      std::string::npos);
            continue;
        }
        EXPECT_EQ(dequantizer_is_tcq(*in), type == 2);
        EXPECT_EQ(
            recorder.Contains("(Jpeg2000Dlg - modify_dec_constructor: This message should not have appeared. "
                              "Bug!"),
            type == 1);
    }
}

} // namespace invocation_test
