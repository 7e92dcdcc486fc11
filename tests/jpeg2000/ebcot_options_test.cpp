// The block coder's options: what they declare in the code-stream, the code-block sizes they give
// each band, and a table of refused values, one per message.
#include "jpeg2000/support/info_codec.h"
#include "jpeg2000/support/tier2_fixture.h"

#include "jpeg2000/command_line.h"
#include "jpeg2000/ebcot_encoder.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/stream_out.h"

#include "platform/errors.h"

#include <gtest/gtest.h>

namespace ebcot_options_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

namespace {
// An encoder initialised on a 128 x 96 picture with `levels` levels and the given arguments.
struct Encoder
{
    zntest::ScratchDir dir;
    std::vector<std::string> words;
    std::vector<const char *> pointers;
    std::unique_ptr<command_line> args = create_command_line();
    std::unique_ptr<stream_out> out = create_stream_out();
    std::unique_ptr<forward_info> info;
    std::unique_ptr<ebcot_encoder> ebcot = create_ebcot_encoder();

    Encoder(const std::vector<std::string> &a, int levels = 3, int tile = 0)
    {
        words = {"Jpeg2000Encoder", "-Flev", std::to_string(levels)};
        if (tile > 0)
            words.insert(words.end(), {"-Ftiles", std::to_string(tile), std::to_string(tile)});
        words.insert(words.end(), a.begin(), a.end());
        for (const auto &w : words)
            pointers.push_back(w.c_str());
        args->parse(int(pointers.size()), pointers.data());
        out->initialize(100000, dir.File("o.j2k").c_str(), args.get());
        out->declare_marker_elt(-1, elt::CSiz, 0, 16, 1);
        out->set_marker_val(-1, elt::CSiz, 0, 1, 0);
        info = j2ktest::MakeForward(j2ktest::Image::Grey(96, 128), args.get(), out.get());
        info->complete_setup(1, {}, {}, out.get(), args.get());
        ebcot->initialize(1, 100000, info.get(), static_cast<roi_encoder *>(nullptr), out.get(), args.get());
    }
    int32_t Value(const char *element, int index = 0, int tile = -1)
    {
        return out->get_marker_val(tile, element, 0, index);
    }
};

std::string Refusal(const std::vector<std::string> &args, int levels = 3)
{
    zn::MessageRecorder recorder;
    J2kRun run;
    try {
        Encoder s(args, levels);
    } catch (const zn::RunAborted &) {
        return j2ktest::JoinedText(recorder);
    }
    return "";
}
} // namespace

TEST(J2kEbcotOptions, BlockSizesAndTheirElements)
{
    J2kRun run;
    {
        Encoder s({});
        EXPECT_EQ(s.Value(elt::Xcb), 4);
        EXPECT_EQ(s.Value(elt::Ycb), 4);
        EXPECT_EQ(s.out->marker_elt_count(-1, elt::Ppx, 0), 0) << "no precincts: declared without values";
        int h = 0, w = 0;
        s.ebcot->get_block_dims(0, 3, 1, &h, &w);
        EXPECT_EQ(h, 64) << "the nominal size, even in a band of 48 x 64";
        EXPECT_EQ(w, 64);
    }
    {
        Encoder s({"-Cblk", "32"});
        EXPECT_EQ(s.Value(elt::Xcb), 3);
        EXPECT_EQ(s.Value(elt::Ycb), 3);
    }
    {
        Encoder s({"-Cblk", "16x64"});
        EXPECT_EQ(s.Value(elt::Xcb), 4);
        EXPECT_EQ(s.Value(elt::Ycb), 2);
        int h = 0, w = 0;
        s.ebcot->get_block_dims(0, 2, 3, &h, &w);
        EXPECT_EQ(h, 16);
        EXPECT_EQ(w, 64);
    }
    {
        Encoder s({"-Cblk", "4x1024"});
        EXPECT_EQ(s.Value(elt::Xcb), 8);
    }
    {
        // 64 x 64 blocks in a level with 2^5 precincts and one split: 16 x 16.
        Encoder s({"-Cpp", "32x32"});
        int h = 0, w = 0;
        s.ebcot->get_block_dims(0, 3, 3, &h, &w);
        EXPECT_EQ(h, 16);
        EXPECT_EQ(w, 16);
        EXPECT_EQ(s.out->marker_elt_count(-1, elt::Ppx, 0), 4);
        for (int r = 0; r < 4; ++r)
            EXPECT_EQ(s.Value(elt::Ppx, r), 5);
    }
    {
        // Sizes from the highest level down; the last repeats; element index is the level.
        Encoder s({"-Cpp", "128x64", "32x32"});
        EXPECT_EQ(s.Value(elt::Ppx, 3), 6);
        EXPECT_EQ(s.Value(elt::Ppy, 3), 7);
        EXPECT_EQ(s.Value(elt::Ppx, 0), 5);
        EXPECT_EQ(s.Value(elt::Ppy, 1), 5);
    }
}

TEST(J2kEbcotOptions, ModeFlags)
{
    J2kRun run;
    const struct
    {
        std::vector<std::string> args;
        int flags;
    } cases[] = {
        {{}, 0},
        {{"-Cparallel"}, 2 | 4},
        {{"-Cparallel", "-Ccausal", "N"}, 2 | 4},
        {{"-Ccausal"}, 8},
        {{"-Clazy"}, 1},
        {{"-Csegmark"}, 32},
        {{"-Cer_term"}, 16 | 4},
        {{"-Cer_term", "-Clazy"}, 16 | 1},
        {{"-Clazy", "N"}, 0},
    };
    for (const auto &c : cases) {
        Encoder s(c.args);
        EXPECT_EQ(s.Value(elt::CoderFlags), c.flags) << (c.args.empty() ? "" : c.args[0]);
    }
    Encoder order({"-Corder", "RP", "0", "0", "2", "3", "1", "CP"});
    EXPECT_EQ(order.Value(elt::Progression), 2);
    EXPECT_EQ(order.out->marker_elt_count(-1, elt::ProgressionChanges, 0), 6);
    EXPECT_EQ(order.Value(elt::ProgressionChanges, 2), 2);
    EXPECT_EQ(order.Value(elt::ProgressionChanges, 5), 4);
}

TEST(J2kEbcotOptions, CodeBlocksRespectCellsOnlyWhenAsked)
{
    J2kRun run;
    // 32 x 32 frames: the first split's bands lie on 16 x 16 cells, the next level's on 8 x 8.
    Encoder free({"-Fframes", "32", "32", "2", "2"});
    Encoder cells({"-Fframes", "32", "32", "2", "2", "-Cframes"});
    EXPECT_EQ(free.Value(elt::RespectCells), 0);
    EXPECT_EQ(cells.Value(elt::RespectCells), 1);
    for (int level = 1; level <= 3; ++level) {
        int h = 0, w = 0;
        free.ebcot->get_block_dims(0, level, 1, &h, &w);
        EXPECT_EQ(h, 64) << level;
        EXPECT_EQ(w, 64) << level;
        cells.ebcot->get_block_dims(0, level, 1, &h, &w);
        EXPECT_EQ(h, 32 >> (4 - level)) << level;
        EXPECT_EQ(w, 32 >> (4 - level)) << level;
    }
}

TEST(J2kEbcotOptions, RefusedValues)
{
    const struct
    {
        std::vector<std::string> args;
        const char *message;
    } cases[] = {
        {{"-Cblk"}, "The `-Cblk' argument requires at least one parameter!"},
        {{"-Cblk", "abc"}, "Illegal block size specifier, \"abc\", for argument `-Cblk'!"},
        {{"-Cblk", "2048x2"}, "exact powers of two, no less than 4 and no larger than 1024"},
        {{"-Cblk", "128x64"}, "exact powers of two, no less than 4 and no larger than 1024"},
        {{"-Cblk", "2x64"}, "exact powers of two, no less than 4 and no larger than 1024"},
        {{"-Cblk", "48"}, "exact powers of two, no less than 4 and no larger than 1024"},
        {{"-Cpp"}, "The `-Cpp' argument requires at leats one parameter!"},
        {{"-Cpp", "a"}, "Illegal precinct_partition specifier, \"a\", for argument `-Cpp'!"},
        {{"-Cpp", "65536"}, "must be exact powers of 2, no larger than 2^15!"},
        {{"-Cpp", "1x1"}, "precinct partition dimensions too small for given decomposition"},
        {{"-Ccausal", "X"}, "The `-Ccausal' argument requires zero or more single character parameters"},
        {{"-Corder"}, "The `-Corder' argument requires at least one parameter!"},
        {{"-Corder", "XY"}, "Illegal progression style string, \"XY\", supplied to the `-Corder' argument!"},
        {{"-Corder", "L", "0", "0", "1"}, "The `-Corder' argument requires 6P+1 parameters"},
        {{"-Corder", "L", "0", "a", "1", "1", "1", "L"},
         "Expected 5 constraints on the layers, levels and components"},
        {{"-Cvis", "1"},
         "The `-Cvis' argument requires a positive real parameter, which must be strictly less than 1.0!"},
        {{"-Cvis", "0"}, "The `-Cvis' argument requires a positive real parameter"},
        {{"-Cvis"}, "The `-Cvis' argument requires a positive real parameter"},
        {{"-Ccpu", "x"}, "The `-Ccpu' argument takes no parameters!"},
        {{"-Cno_trunc", "x"}, "The `-Cno_trunc' argument takes no parameters!"},
        {{"-Creverse_tiles", "x"}, "The `-Creverse_tiles' argument takes no parameters!"},
        {{"-Comit_tile_length", "x"}, "The `-Comit_tile_length' argument takes no parameters!"},
        {{"-Cvpw"}, "The `-Cvpw' argument requires at least one parameter!"},
        {{"-Cvpw", "1.0"},
         "The `-Cpvw' argument must be followed by one or more pairs of rate/filename pairs"},
        {{"-Cvpw", "0", "f"},
         "The `-Cpvw' argument must be followed by one or more pairs of rate/filename pairs"},
    };
    for (const auto &c : cases) {
        std::string shown = Refusal(c.args);
        EXPECT_NE(shown.find(j2ktest::Collapsed(c.message)), std::string::npos)
            << c.args[0] << (c.args.size() > 1 ? " " + c.args[1] : "") << " showed: " << shown;
    }
    EXPECT_EQ(Refusal({"-Cvis", "0.5"}), "");
}

} // namespace ebcot_options_test
