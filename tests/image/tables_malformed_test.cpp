// Broken table files: each is refused with the reader's message and no record, never half filled.
#include "image/tables.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace tables_malformed_test { // one namespace per test file: a folder compiles as one source

namespace {

struct Case
{
    const char *what;
    const char *body; // nullptr: the file is missing
};

void Write(const zntest::ScratchDir &dir, const std::string &name, const char *body)
{
    std::string s = body;
    ASSERT_TRUE(zntest::WriteFileBytes(dir.File(name), {s.begin(), s.end()}));
}

// One message, whose first line is the reader's own.
void ExpectRefused(const zn::MessageRecorder &rec, const std::string &message, const char *what)
{
    ASSERT_EQ(rec.Count(), 1u) << what;
    EXPECT_EQ(rec.Texts()[0].substr(0, message.size()), message) << what;
}

} // namespace

TEST(MalformedTables, QuantiserFiles)
{
    const Case cases[] = {
        {"missing", nullptr},
        {"empty", ""},
        {"only a comment", "/* SQ 1 0.5 2 */"},
        {"no distortion", "SQ 1 x 2 -1 -9 0.5 0 1 0 0.5 1"},
        {"no level count", "SQ 1 0.5"},
        {"zero levels", "SQ 1 0.5 0"},
        {"negative levels", "SQ 1 0.5 -3 1 1 1 0"},
        {"count beyond the file", "SQ 1 0.5 500000 -1 -9 0.5 0 1 0 0.5 1"},
        {"count above the limit", "SQ 1 0.5 99999999999 -1 -9 0.5 0"},
        {"truncated level", "SQ 1 0.5 2 -1 -9 0.5 0 1 0"},
        {"missing code word", "SQ 1 0.5 2 -1 -9 0.5 0 1 0 0.5"},
        {"non-numeric value", "SQ 1 0.5 2 -1 -9 half 0 1 0 0.5 1"},
        {"not-a-number probability", "SQ 1 0.5 2 -1 -9 nan 0 1 0 0.5 1"},
        {"non-binary code word", "SQ 1 0.5 2 -1 -9 0.5 0 1 0 0.5 12"},
        {"unclosed comment", "SQ 1 0.5 2 -1 -9 0.5 0 /* 1 0 0.5 1"},
    };
    for (const Case &c : cases) {
        zntest::ScratchDir dir;
        if (c.body)
            Write(dir, "mlqpw_gg100_0002.sqt", c.body);
        zn::MessageRecorder rec;
        Quant *q = reinterpret_cast<Quant *>(1);
        ReadQuant(&q, dir.Path(), "mlqpw", "gg100", 2);
        EXPECT_EQ(q, nullptr) << c.what;
        ExpectRefused(rec, "Can't open Quantizer file", c.what);
        FreeQuant(q);
    }
    // The same file made whole is read.
    zntest::ScratchDir dir;
    Write(dir, "mlqpw_gg100_0002.sqt", "SQ 1 0.5 2 -1 -9 0.5 0 1 0 0.5 1");
    Quant *q = nullptr;
    ReadQuant(&q, dir.Path(), "mlqpw", "gg100", 2);
    ASSERT_NE(q, nullptr);
    FreeQuant(q);
}

TEST(MalformedTables, PerformanceFiles)
{
    const Case cases[] = {
        {"missing", nullptr},
        {"empty", "   "},
        {"no count", "SQ"},
        {"negative count", "SQ -1"},
        {"count beyond the file", "SQ 5000 2 1 0.36"},
        {"truncated point", "SQ 2 2 1 0.36 4 1.9"},
        {"non-numeric value", "SQ 1 2 one 0.36"},
        {"negative levels", "SQ 1 -4 2 0.1"},
        {"not-a-number distortion", "SQ 1 4 2 nan"},
        {"levels beyond an int", "SQ 1 3e9 2 0.1"},
        {"unclosed comment", "SQ 2 2 1 0.36 /* 4 1.9 0.12"},
    };
    for (const Case &c : cases) {
        zntest::ScratchDir dir;
        if (c.body)
            Write(dir, "mlqpw_gg075_flc.sqp", c.body);
        zn::MessageRecorder rec;
        PerfQuant *p = reinterpret_cast<PerfQuant *>(1);
        ReadPerfQuant(&p, dir.Path(), "mlqpw", "gg075", VLC_FLC);
        EXPECT_EQ(p, nullptr) << c.what;
        ExpectRefused(rec, "ReadPerfQuant-Can't open quantizer file", c.what);
        FreePerfQuant(p);
    }
}

TEST(MalformedTables, FilterFiles)
{
    const Case cases[] = {
        {"missing", nullptr},
        {"empty", ""},
        {"no dimension count", "FIRQMF"},
        {"zero dimensions", "FIRQMF 0 2 0.5 0.5 2 0.5 -0.5"},
        {"too many dimensions", "FIRQMF 100 2"},
        {"non-numeric extent", "FIRQMF 1 two 0.5 0.5 2 0.5 -0.5"},
        {"zero extent", "FIRQMF 1 0 2 0.5 -0.5"},
        {"extent beyond the file", "FIRQMF 1 100000 0.5 0.5"},
        {"huge product", "FIRQMF 3 2000 2000 2000 1"},
        {"truncated first filter", "FIRQMF 1 4 0.1 0.2 0.3"},
        {"second filter missing", "FIRQMF 1 2 0.5 0.5"},
        {"non-numeric coefficient", "FIRQMF 1 2 0.5 0.5 2 0.5 minus"},
        {"unclosed comment", "FIRQMF 1 2 0.5 0.5 2 /* 0.5 -0.5"},
    };
    for (const Case &c : cases) {
        zntest::ScratchDir dir;
        if (c.body)
            Write(dir, "qmf08a.fcs", c.body);
        zn::MessageRecorder rec;
        Filt *f = reinterpret_cast<Filt *>(1);
        EXPECT_EQ(ReadFilt(&f, dir.Path(), "qmf", "08a"), 0);
        EXPECT_EQ(f, nullptr) << c.what;
        ExpectRefused(rec, "ReadFilt: Can't read filter coefficients.", c.what);
        FreeFilt(f);
    }
}

TEST(MalformedTables, DirectoryInPlaceOfAFile)
{
    zntest::ScratchDir dir;
    ASSERT_EQ(zntest::Run("mkdir " + zntest::ShellQuote(dir.File("mlqpw_gg200_0004.sqt"))), 0);
    zn::MessageRecorder rec;
    Quant *q = nullptr;
    ReadQuant(&q, dir.Path(), "mlqpw", "gg200", 4);
    EXPECT_EQ(q, nullptr);
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{"Can't open Quantizer file"});
}

} // namespace tables_malformed_test
