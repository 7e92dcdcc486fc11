// The codec's reader and writer on document images: the padded bottom-up layout, the first-byte and
// palette-grey rules, clamping, the image-size field, storage reuse and the run-long bindings.
#include "image/cdib.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/module/jp2_image_io.h"
#include "platform/errors.h"
#include "platform/messages.h"

#include <gtest/gtest.h>
#include <vector>

namespace jp2_image_io_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

namespace {

std::vector<int32_t> ReadAll(const CDib &image, std::vector<int> *rowsLeft = nullptr)
{
    image_bindings bind(&image, nullptr);
    auto reader = Jp2_zantho_image_reader_interface::create();
    int n = 0;
    reader->initialize(&n, nullptr);
    EXPECT_EQ(n, 1);
    int dims[2] = {0, 0};
    reader->get_dims(0, dims);
    EXPECT_EQ(dims[0], image.GetHeight());
    EXPECT_EQ(dims[1], image.GetWidth());
    EXPECT_EQ(reader->get_precision(0), 8);
    std::vector<int32_t> all, line(static_cast<size_t>(dims[1]));
    for (int r = 0; r < dims[0]; ++r) {
        const int left = reader->get_line(line.data(), 0, dims[1]);
        if (rowsLeft)
            rowsLeft->push_back(left);
        all.insert(all.end(), line.begin(), line.end());
    }
    reader->terminate();
    return all;
}

} // namespace

TEST(Jp2ImageReader, TakesTheFirstByteOfPaddedRowsFromTheTop)
{
    // 3 columns: 9 pixel bytes and 3 padding bytes per stored row.
    CDib dib;
    ASSERT_TRUE(dib.Create24(3, 2));
    ASSERT_EQ(dib.RowBytes(), 12);
    for (int k = 0; k < 2; ++k)
        for (int x = 0; x < 3; ++x) {
            uint8_t *p = dib.StoredRow(k) + 3 * x;
            p[0] = uint8_t(10 * k + x); // blue
            p[1] = 200;                 // green and red never reach the codec
            p[2] = 250;
        }
    for (int k = 0; k < 2; ++k)
        for (int pad = 9; pad < 12; ++pad)
            dib.StoredRow(k)[pad] = 0xEE;
    std::vector<int> left;
    // Codec row 0 is the top of the picture: the last stored row.
    EXPECT_EQ(ReadAll(dib, &left), (std::vector<int32_t>{10, 11, 12, 0, 1, 2}));
    EXPECT_EQ(left, (std::vector<int>{1, 0}));
}

TEST(Jp2ImageReader, TakesAPaletteImageThroughItsGreys)
{
    // Index i shows grey 255 - i: the codec must see the grey, not the index.
    std::vector<RGBQUAD> palette(256);
    for (int i = 0; i < 256; ++i)
        palette[size_t(i)] = RGBQUAD{uint8_t(255 - i), uint8_t(255 - i), uint8_t(255 - i), 0};
    CDib dib;
    ASSERT_TRUE(dib.Create8(4, 1, palette.data(), 256));
    const uint8_t idx[4] = {0, 1, 128, 255};
    std::copy(idx, idx + 4, dib.StoredRow(0));
    EXPECT_EQ(ReadAll(dib), (std::vector<int32_t>{255, 254, 127, 0}));
}

TEST(Jp2ImageReader, WithoutAPictureTheRunEndsWithAMessage)
{
    zn::MessageRecorder boxes;
    J2kRun run;
    CDib empty;
    image_bindings bind(&empty, nullptr);
    auto reader = Jp2_zantho_image_reader_interface::create();
    int n = 0;
    EXPECT_THROW(reader->initialize(&n, nullptr), zn::RunAborted);
    EXPECT_FALSE(boxes.Texts().empty());
}

TEST(Jp2ImageWriter, ClampsIntoAGreyPictureWithThePixelCountField)
{
    CDib target;
    image_bindings bind(nullptr, &target);
    auto writer = Jp2_zantho_image_writer_interface::create();
    const int precision = 8, dims[4] = {2, 5, 0, 0};
    writer->initialize(1, &precision, dims, nullptr);
    ASSERT_EQ(target.GetWidth(), 5);
    ASSERT_EQ(target.GetHeight(), 2);
    EXPECT_EQ(target.GetInfoHeader()->biBitCount, 24);
    EXPECT_EQ(target.GetInfoHeader()->biSizeImage, uint32_t(16 * 2 / 3)); // stride 16
    const int32_t top[5] = {-3, 0, 254, 255, 300}, bottom[5] = {1, 2, 3, 4, 5};
    writer->put_line(top, 0, 5);
    writer->put_line(bottom, 0, 5);
    writer->terminate();
    const uint8_t expectTop[5] = {0, 0, 254, 255, 255};
    for (int x = 0; x < 5; ++x)
        for (int b = 0; b < 3; ++b) {
            EXPECT_EQ(target.StoredRow(1)[3 * x + b], expectTop[x]) << x;
            EXPECT_EQ(target.StoredRow(0)[3 * x + b], bottom[x]) << x;
        }
}

TEST(Jp2ImageWriter, ReusesALargeEnoughPictureAndWarnsOfExtraComponents)
{
    zn::MessageRecorder boxes;
    CDib target;
    image_bindings bind(nullptr, &target);
    const int precisions[2] = {8, 8};
    const int big[8] = {64, 64, 0, 0, 64, 64, 0, 0}, small[4] = {8, 8, 0, 0};
    auto writer = Jp2_zantho_image_writer_interface::create();
    writer->initialize(1, precisions, big, nullptr);
    writer->terminate();
    const uint8_t *block = target.GetBits();
    writer = Jp2_zantho_image_writer_interface::create();
    writer->initialize(2, precisions, small, nullptr);
    EXPECT_EQ(target.GetBits(), block);
    EXPECT_EQ(target.GetWidth(), 8);
    writer->terminate();
    EXPECT_EQ(boxes.Texts(),
              (std::vector<std::string>{"Warning: JPEG2000 decoder will handle only one component"}));
}

TEST(Jp2ImageBindings, AreClearedWhenTheRunEnds)
{
    zn::MessageRecorder boxes;
    CDib image;
    ASSERT_TRUE(image.Create24(4, 4));
    {
        image_bindings bind(&image, &image);
    }
    J2kRun run;
    auto reader = Jp2_zantho_image_reader_interface::create();
    int n = 0;
    EXPECT_THROW(reader->initialize(&n, nullptr), zn::RunAborted);
    auto writer = Jp2_zantho_image_writer_interface::create();
    const int precision = 8, dims[4] = {4, 4, 0, 0};
    EXPECT_THROW(writer->initialize(1, &precision, dims, nullptr), zn::RunAborted);
}

} // namespace jp2_image_io_test
