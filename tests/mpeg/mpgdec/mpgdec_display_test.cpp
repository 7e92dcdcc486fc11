// What the decoder dialog shows, without the window: vector lines, the picture-type list with its
// breaks and cut, the stream information texts, and the frame in the document image.
#include "image/cdib.h"
#include "image/yuv_convert.h"
#include "mpeg/mpgdec/mpgdec_display.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace mpgdec_display_test { // one namespace per test file: a folder compiles as one source

namespace {

using zn::DrawVectorLine;

// The pieces one after the other (operator+ chains of long temporaries trip a GCC 12 bounds warning).
std::string Cat(std::initializer_list<std::string> parts)
{
    std::string s;
    for (const std::string &p : parts)
        s += p;
    return s;
}

struct Canvas
{
    int w, h;
    std::vector<uint8_t> bits;
    Canvas(int width, int height) : w(width), h(height), bits(static_cast<size_t>(3 * width * height), 0) {}
    const uint8_t *At(int x, int y) const { return &bits[3 * (static_cast<size_t>(y) * w + x)]; }
    int White() const
    {
        int n = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                n += At(x, y)[0] == 255 && At(x, y)[1] == 255 && At(x, y)[2] == 255;
        return n;
    }
    bool Red(int x, int y) const { return At(x, y)[0] == 0 && At(x, y)[1] == 0 && At(x, y)[2] == 255; }
};

TEST(MpegVectorLines, BresenhamIncludesBothEndsAndMarksTheStartRed)
{
    struct Line
    {
        int x0, y0, x1, y1;
    };
    for (const Line l :
         {Line{2, 3, 12, 7}, Line{12, 7, 2, 3}, Line{5, 1, 8, 14}, Line{9, 9, 9, 2}, Line{4, 4, 4, 4}}) {
        Canvas c(16, 16);
        DrawVectorLine(l.x0, l.y0, l.x1, l.y1, 0, c.bits.data(), c.w, c.h);
        const int steps = std::max(std::abs(l.x1 - l.x0), std::abs(l.y1 - l.y0));
        // One pixel per step along the longer axis, the start point red instead of white.
        EXPECT_EQ(c.White(), steps) << l.x0 << "," << l.y0;
        EXPECT_TRUE(c.Red(l.x0, l.y0));
        if (steps > 0) {
            EXPECT_EQ(c.At(l.x1, l.y1)[0], 255);
        }
        // Every drawn pixel lies within half a pixel of the ideal line.
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x)
                if (c.At(x, y)[2] == 255 && steps > 0) {
                    const double dx = l.x1 - l.x0, dy = l.y1 - l.y0;
                    const double dist =
                        std::abs(dy * (x - l.x0) - dx * (y - l.y0)) / std::max(std::abs(dx), std::abs(dy));
                    EXPECT_LE(dist, 0.5 + 1e-9) << x << "," << y;
                }
    }
}

TEST(MpegVectorLines, AnEndOutsideDrawsNothing)
{
    for (auto [x1, y1] : {std::pair{16, 5}, std::pair{-1, 5}, std::pair{5, 16}, std::pair{5, -3}}) {
        Canvas c(16, 16);
        DrawVectorLine(8, 8, x1, y1, 0, c.bits.data(), c.w, c.h);
        EXPECT_EQ(c.White(), 0);
        EXPECT_FALSE(c.Red(8, 8));
    }
    // A border macroblock whose vector leaves the picture: the others are still drawn.
    Canvas c(32, 32);
    std::vector<zn::MotionVector> v = {{-20, 0}, {3, 0}, {0, 0}, {0, 2}};
    zn::DrawMacroblockVectors(v, 2, 2, c.bits.data(), 32, 32);
    EXPECT_FALSE(c.Red(8, 32 - 9));
    EXPECT_TRUE(c.Red(24, 32 - 9));
    EXPECT_TRUE(c.Red(8, 32 - 25));
    EXPECT_TRUE(c.Red(24, 32 - 25));
    // Vector y points up the picture, which is down the bottom-up rows.
    EXPECT_EQ(c.At(24, 32 - 27)[0], 255);
}

TEST(MpegPictureTypeList, BreaksAfter24Then25AndCutsTheViewAfter48)
{
    zn::PictureTypeList list;
    list.Reset({"R\r\n", "V\r\n"});
    for (int n = 1; n <= 60; ++n)
        list.Add(n == 1 ? " sgI" : "P", n, true);
    const std::string result = list.ResultText(), view = list.ViewText();
    EXPECT_EQ(result, Cat({"R\r\n sgI", std::string(23, 'P'), "\r\n", std::string(25, 'P'), "\r\n",
                           std::string(11, 'P')}));
    EXPECT_EQ(view, Cat({"V\r\n sgI", std::string(23, 'P'), "\r\n", std::string(24, 'P'), " .... <etc>"}));
}

TEST(MpegPictureTypeList, FieldPairsBreakOnce)
{
    zn::PictureTypeList list;
    list.Reset({"", ""});
    for (int n = 1; n <= 52; ++n) {
        list.Add("I", n - 1, false); // first field: the frame is not complete yet
        list.Add("I", n, true);
    }
    EXPECT_EQ(list.ResultText(),
              Cat({std::string(48, 'I'), "\r\n", std::string(50, 'I'), "\r\n", std::string(6, 'I')}));
    EXPECT_EQ(list.ViewText(), Cat({std::string(48, 'I'), "\r\n", std::string(49, 'I'), " .... <etc>"}));
}

TEST(MpegStreamInfo, TheConstrainedCifExample)
{
    zn::CMpegDecoder d;
    d.coded_width = 352;
    d.coded_height = 288;
    d.bit_rate_value = 2875;
    d.frame_rate_code = 3;
    d.vbv_buffer_size = 20;
    d.constrained_parameters_flag = 1;
    const zn::MpegStreamInfo info = zn::MpegStreamInfoText(d, "Video", false);
    const std::string common = "Frame dimensions      :  288x352\r\n"
                               "Bit rate                       :  1.150 Mbit/sec\r\n"
                               "Picture rate                :  25 frames/sec\r\n"
                               "VBV buffer                 :  40 kByte\r\n"
                               "Parameters                :  Constrained\r\n"
                               "Mpeg version             :  MPEG-1\r\n";
    EXPECT_EQ(info.resultText, common + "Motion vectors           : Half pel\r\n"
                                        "Stream type                : Video\r\n"
                                        "\r\nSequence of decoded frame types:\r\n");
    EXPECT_EQ(info.viewText, common + "Stream type                : Video\r\n"
                                      "\r\nSequence of decoded frame types:\r\n");
}

TEST(MpegStreamInfo, Mpeg2FieldsVariableRateAndOtherRates)
{
    zn::CMpegDecoder d;
    d.base_layer.mpeg2 = 1;
    d.vbr = 1;
    d.full_pel_forward_vector = 1;
    d.coded_width = 720;
    d.coded_height = 576;
    for (auto [code, line] : {std::pair{4, "Picture rate                :  29.97 frames/sec\r\n"},
                              std::pair{5, "Picture rate                :  30 frames/sec\r\n"},
                              std::pair{9, "Picture rate                :  invalid code\r\n"},
                              std::pair{1, "Picture rate code           :  \r\n"}}) {
        d.frame_rate_code = code;
        const zn::MpegStreamInfo info = zn::MpegStreamInfoText(d, "System", true);
        EXPECT_NE(info.viewText.find(line), std::string::npos) << code;
        EXPECT_NE(info.viewText.find("Bit rate                       :  Variable\r\n"), std::string::npos);
        EXPECT_NE(info.viewText.find("Coded picture types   : Fields\r\n"), std::string::npos);
        EXPECT_EQ(info.viewText.find("MPEG-2"), std::string::npos);
        EXPECT_NE(
            info.resultText.find("Mpeg version             :  MPEG-2\r\nCoded picture types   : Fields\r\n"
                                 "Motion vectors           : Integer pel\r\n"),
            std::string::npos);
        EXPECT_NE(info.resultText.find("\r\nSequence of decoded field types:\r\n"), std::string::npos);
    }
}

TEST(MpegFrameImage, ColourUsesTheProgramMatrixAndGreyTheLuminance)
{
    const int w = 32, h = 16;
    std::vector<uint8_t> y(w * h), cb(w * h / 4), cr(w * h / 4);
    for (size_t i = 0; i < y.size(); ++i)
        y[i] = static_cast<uint8_t>(i * 7);
    for (size_t i = 0; i < cb.size(); ++i) {
        cb[i] = static_cast<uint8_t>(40 + i * 3);
        cr[i] = static_cast<uint8_t>(220 - i * 5);
    }
    zn::MpegFrame f{y.data(), cb.data(), cr.data(), w, h, w / 2, h / 2, 1};
    CDib dib;
    ASSERT_TRUE(zn::FrameToDib(f, true, &dib));
    ASSERT_EQ(dib.GetWidth(), w);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            uint8_t bgr[3];
            YuvToBgr(y[r * w + c], cb[(r / 2) * (w / 2) + c / 2] - 128, cr[(r / 2) * (w / 2) + c / 2] - 128,
                     bgr);
            const uint8_t *p = dib.StoredRow(h - 1 - r) + 3 * c; // first line at the bottom row
            ASSERT_EQ(std::vector<uint8_t>(p, p + 3), std::vector<uint8_t>(bgr, bgr + 3)) << r << "," << c;
        }
    // 4:2:2 chroma, or colour off: grey.
    for (auto [colour, format] : {std::pair{false, 1}, std::pair{true, 2}}) {
        zn::MpegFrame g = f;
        g.chromaFormat = format;
        ASSERT_TRUE(zn::FrameToDib(g, colour, &dib));
        const uint8_t *p = dib.StoredRow(h - 1 - 3) + 3 * 5;
        EXPECT_EQ(p[0], y[3 * w + 5]);
        EXPECT_EQ(p[2], y[3 * w + 5]);
    }
}

} // namespace

} // namespace mpgdec_display_test
