// Code words as bit strings (see the header).
#include "h264enc/support/bit_strings.h"

#include "h264dec/h264_shared.h"

namespace enctest {

std::string Bits(int code, int n)
{
    std::string s;
    for (int k = n - 1; k >= 0; --k)
        s += (code >> k) & 1 ? '1' : '0';
    return s;
}

std::string Ue(int v)
{
    int len = 0;
    for (int x = v + 1; x > 1; x >>= 1)
        ++len;
    return std::string(static_cast<size_t>(len), '0') + Bits(v + 1, len + 1);
}

std::string Se(int v)
{
    return Ue(v > 0 ? 2 * v - 1 : -2 * v);
}

std::string CbpCode(int cbp, bool intra)
{
    for (int k = 0; k < 48; ++k)
        if (kCodedBlockPattern[k][intra ? 0 : 1] == cbp)
            return Ue(k);
    return "?";
}

std::vector<uint8_t> Unescaped(const h264enc::Bitstream &bs)
{
    std::vector<uint8_t> out;
    int zeros = 0;
    for (int i = 0; i < bs.byte_count; ++i) {
        const uint8_t b = bs.StreamBuffer[static_cast<size_t>(i)];
        if (zeros >= 2 && b == 3) {
            zeros = 0;
            continue;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        out.push_back(b);
    }
    return out;
}

std::string SliceBody(h264enc::EncoderRun &run, RecordCoder &coder, const PictureSetup &p,
                      std::vector<uint8_t> *stream)
{
    std::vector<uint8_t> units;
    EncodePicture(run, coder, p, units);
    if (stream)
        stream->insert(stream->end(), units.begin(), units.end());
    const h264enc::Slice &slice = *h264enc::current_picture(run).slices.front();
    const h264enc::Bitstream &bs = slice.partArr[0].bitstream;
    const std::vector<uint8_t> rbsp = Unescaped(bs);
    std::string bits;
    for (uint8_t b : rbsp)
        bits += Bits(b, 8);
    const size_t stop = bits.find_last_of('1');
    const int header =
        run.img.mb_data[static_cast<size_t>(slice.start_mb_nr)].bit_counts[h264enc::kBitsSliceHeader];
    return bits.substr(static_cast<size_t>(header), stop - static_cast<size_t>(header));
}

} // namespace enctest
