// Base quantisation tables, zigzag order and the symbol lists of the fixed-length Huffman code.
// Standard Y and UV are the example tables of the JPEG standard (ITU-T T.81 Annex K); Flat and
// High-Emphasis are teaching tables: one step everywhere, and steps that favour the middle
// frequencies (anti-diagonals 1 to 6) over the lowest and highest ones.
#include "modules/jpeg/jpeg_tables.h"

#include "platform/file.h"

#include <algorithm>

namespace {

constexpr JpegTable kStandardY = {
    16, 11, 10, 16, 24,  40,  51,  61,  //
    12, 12, 14, 19, 26,  58,  60,  55,  //
    14, 13, 16, 24, 40,  57,  69,  56,  //
    14, 17, 22, 29, 51,  87,  80,  62,  //
    18, 22, 37, 56, 68,  109, 103, 77,  //
    24, 35, 55, 64, 81,  104, 113, 92,  //
    49, 64, 78, 87, 103, 121, 120, 101, //
    72, 92, 95, 98, 112, 100, 103, 99,
};

constexpr JpegTable kStandardUV = {
    17, 18, 24, 47, 99, 99, 99, 99, //
    18, 21, 26, 66, 99, 99, 99, 99, //
    24, 26, 56, 99, 99, 99, 99, 99, //
    47, 66, 99, 99, 99, 99, 99, 99, //
    99, 99, 99, 99, 99, 99, 99, 99, //
    99, 99, 99, 99, 99, 99, 99, 99, //
    99, 99, 99, 99, 99, 99, 99, 99, //
    99, 99, 99, 99, 99, 99, 99, 99,
};

// High-Emphasis step of anti-diagonal d = row + column.
constexpr int kHighEmphasis[8] = {16, 99, 85, 75, 60, 40, 24, 16};

std::array<int16_t, 64> &DesignedMatrix()
{
    static std::array<int16_t, 64> matrix{};
    return matrix;
}

} // namespace

const std::array<int, 64> kJpegZigzagToNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  //
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28, //
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51, //
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

const std::array<uint8_t, 12> kJpegDcSymbols = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

const std::array<uint8_t, 162> kJpegAcSymbols = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22,
    0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33,
    0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34,
    0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55,
    0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76,
    0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96,
    0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5,
    0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4,
    0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1,
    0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa,
};

JpegTable JpegBaseTable(int n)
{
    switch (n) {
    case kJpegStandardUV:
        return kStandardUV;
    case kJpegFlat: {
        JpegTable t;
        t.fill(50);
        return t;
    }
    case kJpegHighEmphasis: {
        JpegTable t;
        for (int i = 0; i < 64; ++i)
            t[i] = kHighEmphasis[std::min(i / 8 + i % 8, 7)];
        return t;
    }
    case kJpegPerceptual: {
        JpegTable t;
        const auto &zz = DesignedMatrix();
        for (int k = 0; k < 64; ++k)
            t[kJpegZigzagToNatural[k]] = zz[k];
        return t;
    }
    default:
        return kStandardY;
    }
}

int JpegQualityScale(int quality)
{
    const int q = std::clamp(quality, 1, 100);
    return q < 50 ? 5000 / q : 200 - 2 * q;
}

JpegTable JpegScaledTable(int n, int scale)
{
    JpegTable t = JpegBaseTable(n);
    for (int &v : t) {
        const long long s = (static_cast<long long>(v) * scale + 50) / 100;
        v = static_cast<int>(std::clamp<long long>(s, 1, kJpegMaxStep));
    }
    return t;
}

const std::array<int16_t, 64> &JpegDesignedMatrix()
{
    return DesignedMatrix();
}

void JpegSetDesignedMatrix(const std::array<int16_t, 64> &zigzag)
{
    DesignedMatrix() = zigzag;
}

bool JpegReadDesignedMatrix(const std::string &path, std::array<int16_t, 64> *zigzag)
{
    zn::FilePtr f(std::fopen(path.c_str(), "rb"));
    uint8_t bytes[128];
    if (!f || std::fread(bytes, 1, sizeof(bytes), f.get()) != sizeof(bytes))
        return false;
    for (int k = 0; k < 64; ++k)
        (*zigzag)[k] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * k] | bytes[2 * k + 1] << 8));
    return true;
}

bool JpegWriteDesignedMatrix(const std::string &path, const std::array<int16_t, 64> &zigzag)
{
    uint8_t bytes[128];
    for (int k = 0; k < 64; ++k) {
        const uint16_t v = static_cast<uint16_t>(zigzag[k]);
        bytes[2 * k] = static_cast<uint8_t>(v & 0xFF);
        bytes[2 * k + 1] = static_cast<uint8_t>(v >> 8);
    }
    zn::FilePtr f(std::fopen(path.c_str(), "wb"));
    if (!f || std::fwrite(bytes, 1, sizeof(bytes), f.get()) != sizeof(bytes))
        return false;
    return std::fclose(f.release()) == 0;
}
