// SEI units: the message loop and every payload reader. A reader must take exactly the bits its
// message was written with (the mb_bits_count shows them), change nothing in the picture state, and
// stop at the unit's end; a spare picture of an unknown area kind ends the run.
#include "h264/support/h264_stream_writer.h"
#include "h264dec/decoder_state.h"
#include "h264dec/sei.h"
#include "platform/log.h"
#include "platform/messages.h"

#include <functional>
#include <gtest/gtest.h>

namespace sei_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264test;
using Bytes = std::vector<uint8_t>;

// The SEI unit (header byte first) of the messages, with room behind it as a unit buffer has.
Bytes SeiUnit(const std::vector<SeiMessage> &messages, bool trailing = true)
{
    Bytes unit = {NALU_TYPE_SEI};
    Bytes rbsp = SeiRbsp(messages);
    if (!trailing)
        rbsp.pop_back();
    unit.insert(unit.end(), rbsp.begin(), rbsp.end());
    return unit;
}

struct SeiRun
{
    int bits = 0; // mb_bits_count after the unit
    std::vector<std::string> log;
    size_t boxes = 0;
};

SeiRun ReadSei(H264DecoderState &dec, const Bytes &unit)
{
    SeiRun r;
    Bytes buf = unit;
    const int len = static_cast<int>(buf.size());
    buf.resize(buf.size() + 16, 0);
    zn::MessageRecorder recorder;
    const zn::LogSink previous =
        zn::SetLogSink([&](zn::LogLevel, const std::string &t) { r.log.push_back(t); });
    dec.counters.mb_bits_count = 0;
    h264dec_read_sei(dec, buf.data(), len);
    zn::SetLogSink(previous);
    r.bits = dec.counters.mb_bits_count;
    r.boxes = recorder.Count();
    return r;
}

std::mt19937 g_rng(104);
int R(int lo, int hi)
{
    return std::uniform_int_distribution<int>(lo, hi)(g_rng);
}

// One payload per message type, written field by field from the message syntax.
void WritePayload(int type, BitWriter &w)
{
    switch (type) {
    case 0:
        w.ue(static_cast<uint32_t>(R(0, 31)));
        break;
    case 1: {
        const int present = R(0, 1);
        w.flag(present);
        if (!present)
            break;
        const int structure = R(0, 7);
        w.u(3, static_cast<uint32_t>(structure));
        const int stamps = structure <= 2 ? 1 : (structure == 5 || structure == 6) ? 3 : 2;
        for (int i = 0; i < stamps; ++i) {
            const int flag = R(0, 1);
            w.flag(flag);
            if (!flag)
                continue;
            w.u(2, static_cast<uint32_t>(R(0, 3)));
            w.flag(R(0, 1));
            w.u(5, static_cast<uint32_t>(R(0, 31)));
            const int full = R(0, 1);
            w.flag(full);
            w.flag(R(0, 1));
            w.flag(R(0, 1));
            w.u(8, static_cast<uint32_t>(R(0, 255)));
            if (full) {
                w.u(6, 1);
                w.u(6, 2);
                w.u(5, 3);
            } else {
                const int s = R(0, 1);
                w.flag(s);
                if (s) {
                    w.u(6, 59);
                    const int m = R(0, 1);
                    w.flag(m);
                    if (m) {
                        w.u(6, 30);
                        const int h = R(0, 1);
                        w.flag(h);
                        if (h)
                            w.u(5, 23);
                    }
                }
            }
        }
        break;
    }
    case 2:
        w.ue(static_cast<uint32_t>(R(0, 100)));
        for (int i = 0; i < 4; ++i)
            w.se(R(-500, 500));
        break;
    case 6:
        w.ue(static_cast<uint32_t>(R(0, 100)));
        w.flag(R(0, 1));
        w.flag(R(0, 1));
        w.u(2, static_cast<uint32_t>(R(0, 3)));
        break;
    case 7: {
        const int idr = R(0, 1);
        w.flag(idr);
        w.ue(static_cast<uint32_t>(R(0, 255)));
        if (idr) {
            w.flag(R(0, 1));
            w.flag(R(0, 1));
        } else {
            w.flag(1);
            w.ue(1);
            w.ue(3);
            w.ue(4);
            w.ue(2);
            w.ue(3);
            w.ue(0);
            w.ue(1);
            w.ue(0); // operation 0 ends the list
        }
        break;
    }
    case 8: { // for a picture of 3 x 2 macroblocks
        w.ue(static_cast<uint32_t>(R(0, 15)));
        const int spares = R(0, 3);
        w.ue(static_cast<uint32_t>(spares));
        for (int i = 0; i <= spares; ++i) {
            w.ue(static_cast<uint32_t>(R(0, 5)));
            const int indicator = R(0, 2);
            w.ue(static_cast<uint32_t>(indicator));
            if (indicator == 1)
                for (int k = 0; k < 6; ++k)
                    w.flag(R(0, 1));
            if (indicator == 2) { // runs of 2, 1 and 0 cover the six macroblocks
                w.ue(2);
                w.ue(1);
                w.ue(0);
            }
        }
        break;
    }
    case 9: {
        w.ue(static_cast<uint32_t>(R(0, 255)));
        const int transition = R(0, 6);
        w.ue(static_cast<uint32_t>(transition));
        if (transition > 3)
            w.ue(static_cast<uint32_t>(R(0, 255)));
        break;
    }
    case 10: {
        w.ue(static_cast<uint32_t>(R(0, 3)));
        w.ue(static_cast<uint32_t>(R(0, 300)));
        w.flag(R(0, 1));
        w.flag(R(0, 1));
        w.flag(R(0, 1));
        const int f = R(0, 1);
        w.flag(f);
        if (f)
            w.ue(static_cast<uint32_t>(R(0, 300)));
        break;
    }
    case 11: {
        const int layers = R(0, 3);
        w.ue(static_cast<uint32_t>(layers));
        for (int i = 0; i <= layers; ++i) {
            w.flag(R(0, 1));
            w.u(16, static_cast<uint32_t>(R(0, 65535)));
            w.u(16, static_cast<uint32_t>(R(0, 65535)));
        }
        break;
    }
    case 12: {
        w.ue(static_cast<uint32_t>(R(0, 3)));
        w.ue(static_cast<uint32_t>(R(0, 300)));
        const int duration = R(0, 1);
        w.flag(duration);
        if (duration)
            w.u(32, 0xDEADBEEFu);
        const int rate = R(0, 1);
        w.flag(rate);
        if (rate) {
            w.flag(1);
            w.u(16, 1000);
            w.u(16, 25);
        }
        const int refs = R(0, 3);
        w.ue(static_cast<uint32_t>(refs));
        for (int i = 0; i < refs; ++i) {
            w.ue(static_cast<uint32_t>(R(0, 3)));
            w.ue(static_cast<uint32_t>(R(0, 30)));
            w.flag(R(0, 1));
        }
        break;
    }
    case 15:
    case 16:
    case 17:
        w.ue(static_cast<uint32_t>(R(0, 1000)));
        break;
    case 18: {
        const int groups = R(0, 7);
        w.ue(static_cast<uint32_t>(groups));
        for (int i = 0; i <= groups; ++i)
            w.ue(static_cast<uint32_t>(R(0, 7)));
        w.flag(R(0, 1));
        const int pan = R(0, 1);
        w.flag(pan);
        if (pan)
            w.ue(static_cast<uint32_t>(R(0, 7)));
        break;
    }
    default: // 3 filler, 4 and 5 user data, 13 and 14 freeze, reserved: bytes the readers skip
        w.u(8, 0xFF);
        w.u(8, 0xFF);
        w.u(8, 0x12);
        break;
    }
}

int BitsRead(int type, const BitWriter &w)
{
    static const int kSkipped[] = {3, 4, 5, 13, 14};
    for (int t : kSkipped)
        if (t == type)
            return 0;
    return type >= 19 ? 0 : w.BitCount();
}

TEST(Sei, EveryPayloadTakesTheBitsItWasWrittenWith)
{
    const int types[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 100, 260};
    for (int type : types) {
        for (int trial = 0; trial < 20; ++trial) {
            BitWriter w;
            WritePayload(type, w);
            H264DecoderState dec;
            dec.img.width = 48;
            dec.img.height = 32;
            const SeiRun r = ReadSei(dec, SeiUnit({{type, Payload(w)}}));
            EXPECT_EQ(r.bits, BitsRead(type, w)) << "type " << type << " trial " << trial;
            EXPECT_EQ(r.boxes, 0u);
            EXPECT_TRUE(r.log.empty()) << "type " << type;
        }
    }
}

TEST(Sei, ARecoveryPointChangesNothing)
{
    H264DecoderState dec;
    dec.img.idr_flag = 1;
    dec.img.mmco_list.push_back({4, 0, 0, 2});
    dec.img.long_term_reference_flag = 1;
    BitWriter w;
    w.ue(2); // recovery_frame_cnt: 3 bits
    w.flag(1);
    w.flag(0);
    w.u(2, 1);
    ASSERT_EQ(Payload(w).size(), 1u);
    const SeiRun r = ReadSei(dec, SeiUnit({{6, {Payload(w)[0], 0x00}}})); // size 2
    EXPECT_EQ(r.bits, 7);
    EXPECT_EQ(dec.img.idr_flag, 1);
    EXPECT_EQ(dec.img.mmco_list.size(), 1u);
    EXPECT_EQ(dec.img.long_term_reference_flag, 1);
}

TEST(Sei, MarkingRepetitionLeavesThePictureStateAsItWas)
{
    H264DecoderState dec;
    dec.img.idr_flag = 0;
    dec.img.adaptive_ref_pic_buffering_flag = 1;
    dec.img.no_output_of_prior_pics_flag = 1;
    dec.img.mmco_list = {{1, 3, 0, 0}, {0, 0, 0, 0}};
    BitWriter w;
    w.flag(1); // original_idr_flag: the marking is the IDR form
    w.ue(7);
    w.flag(0); // no_output_of_prior_pics_flag
    w.flag(1); // long_term_reference_flag
    const SeiRun r = ReadSei(dec, SeiUnit({{7, Payload(w)}}));
    EXPECT_EQ(r.bits, w.BitCount());
    EXPECT_EQ(dec.img.idr_flag, 0);
    EXPECT_EQ(dec.img.adaptive_ref_pic_buffering_flag, 1);
    EXPECT_EQ(dec.img.no_output_of_prior_pics_flag, 1);
    EXPECT_EQ(dec.img.long_term_reference_flag, 0);
    ASSERT_EQ(dec.img.mmco_list.size(), 2u);
    EXPECT_EQ(dec.img.mmco_list[0].difference_of_pic_nums, 3);
}

// A recovery point whose bits are known: ue 0 and four bits, five in all.
SeiMessage RecoveryPoint()
{
    return {6, {0x80}};
}

TEST(Sei, TheLoopFollowsTypesAndSizes)
{
    // Type 260 is written 0xFF 0x05 and reads nothing; the message after it is read.
    {
        H264DecoderState dec;
        const SeiRun r = ReadSei(dec, SeiUnit({{260, {0x00, 0x00, 0x00}}, RecoveryPoint()}));
        EXPECT_EQ(r.bits, 5);
        const Bytes unit = SeiUnit({{260, {}}});
        EXPECT_EQ(Bytes(unit.begin() + 1, unit.begin() + 3), (Bytes{0xFF, 0x05}));
    }
    // Two messages are both read; nothing after the trailing byte is.
    {
        H264DecoderState dec;
        Bytes unit = SeiUnit({RecoveryPoint(), RecoveryPoint()});
        const Bytes spareWithBadArea = {8, 1, 0x8C}; // would log "Wrong ref_area_indicator 3!"
        unit.insert(unit.end(), spareWithBadArea.begin(), spareWithBadArea.end());
        const SeiRun r = ReadSei(dec, unit);
        EXPECT_EQ(r.bits, 10);
        EXPECT_TRUE(r.log.empty());
    }
    // Filler of any size is skipped by its size.
    for (size_t size : {0u, 1u, 254u, 255u, 256u, 510u, 600u}) {
        H264DecoderState dec;
        const SeiRun r = ReadSei(dec, SeiUnit({{3, Bytes(size, 0xFF)}, RecoveryPoint()}));
        EXPECT_EQ(r.bits, 5) << "filler of " << size;
    }
}

TEST(Sei, ASparePictureOfAnUnknownAreaKindEndsTheRun)
{
    for (int indicator : {3, 7}) {
        H264DecoderState dec;
        dec.img.width = 48;
        dec.img.height = 32;
        BitWriter w;
        w.ue(0); // target_frame_num
        w.ue(0); // one spare picture
        w.ue(0); // delta_spare_frame_num
        w.ue(static_cast<uint32_t>(indicator));
        Bytes unit = SeiUnit({{8, Payload(w)}, RecoveryPoint()});
        unit.resize(unit.size() + 16, 0);
        zn::MessageRecorder boxes;
        const std::string text = "Wrong ref_area_indicator " + std::to_string(indicator) + "!\n";
        try {
            h264dec_read_sei(dec, unit.data(), static_cast<int>(unit.size()) - 16);
            ADD_FAILURE() << "indicator " << indicator << " was read past";
        } catch (const H264FatalError &e) {
            EXPECT_EQ(e.what(), text);
            EXPECT_EQ(e.ExitCode(), 0);
        }
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{text});
    }
    // Too many spare pictures for the decoder's map: the unit is dropped and decoding goes on.
    H264DecoderState dec;
    BitWriter w;
    w.ue(0);
    w.ue(16); // seventeen spare pictures
    const SeiRun r = ReadSei(dec, SeiUnit({{8, Payload(w)}, RecoveryPoint()}));
    EXPECT_EQ(r.log, std::vector<std::string>{"Wrong num_spare_pics_minus1 16!\n"});
    EXPECT_EQ(r.bits, w.BitCount());
    EXPECT_EQ(r.boxes, 0u);
}

TEST(Sei, TheLoopStopsAtTheEndOfTheUnit)
{
    H264DecoderState dec;
    // No trailing byte.
    EXPECT_EQ(ReadSei(dec, SeiUnit({RecoveryPoint(), RecoveryPoint()}, false)).bits, 10);
    // A size that runs past the unit: the payload is cut at its end.
    EXPECT_EQ(ReadSei(dec, {NALU_TYPE_SEI, 6, 200, 0x80}).bits, 5);
    // A type or size that never ends.
    EXPECT_EQ(ReadSei(dec, {NALU_TYPE_SEI, 0xFF, 0xFF}).bits, 0);
    EXPECT_EQ(ReadSei(dec, {NALU_TYPE_SEI, 6, 0xFF}).bits, 0);
    EXPECT_EQ(ReadSei(dec, {NALU_TYPE_SEI}).bits, 0);
    // A counted loop of a billion layers in a three-byte payload stops with the payload.
    BitWriter w;
    w.ue(1000000000);
    EXPECT_GT(ReadSei(dec, SeiUnit({{11, Payload(w)}})).bits, 0);
}

TEST(Sei, ABufferingPeriodNamingAnSpsBeyondTheTableIsRead)
{
    H264DecoderState dec;
    BitWriter w;
    w.ue(40);
    const SeiRun r = ReadSei(dec, SeiUnit({{0, Payload(w)}}));
    EXPECT_EQ(r.bits, w.BitCount());
    EXPECT_EQ(r.boxes, 0u);
}

} // namespace

} // namespace sei_test
