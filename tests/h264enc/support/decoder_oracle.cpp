// Decoder-side reading of encoder output, for the round-trip tests.
#include "h264enc/support/decoder_oracle.h"

#include "h264dec/cavlc_read.h"

#include <cstdlib>

namespace enctest {

std::vector<uint8_t> BytesOf(const h264enc::Bitstream &bs, int tail)
{
    std::vector<uint8_t> out(bs.StreamBuffer.begin(), bs.StreamBuffer.begin() + bs.byte_count);
    if (bs.free_bits < 8)
        out.push_back(static_cast<uint8_t>(bs.pending_byte << bs.free_bits));
    out.insert(out.end(), static_cast<size_t>(tail), 0xFF);
    return out;
}

std::unique_ptr<DataPartition> DecoderPartition(const std::vector<uint8_t> &bytes)
{
    auto dp = std::make_unique<DataPartition>();
    dp->bitstream = std::make_unique<Bitstream>();
    dp->bitstream->AllocBuffer(static_cast<int>(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), dp->bitstream->storage.begin());
    dp->bitstream->byte_length = static_cast<int>(bytes.size());
    return dp;
}

std::string BitString(const h264enc::Bitstream &bs)
{
    std::string s;
    for (int i = 0; i < bs.byte_count; ++i)
        for (int b = 7; b >= 0; --b)
            s += (bs.StreamBuffer[static_cast<size_t>(i)] >> b) & 1 ? '1' : '0';
    for (int b = 7; b >= bs.free_bits; --b)
        s += (bs.pending_byte >> (b - bs.free_bits)) & 1 ? '1' : '0';
    return s;
}

namespace {
int ReadBit(Bitstream &bs)
{
    const int b = h264dec_show_bits(bs.streamBuffer, bs.bit_offset, bs.byte_length, 1);
    bs.bit_offset += 1;
    return b;
}
} // namespace

ReadBlock ReadCavlcBlock(DataPartition &dp, int block_type, int nC)
{
    const int maxCoeff = block_type == 6 ? 4 : block_type == 0 || block_type == 1 ? 16 : 15;
    SyntaxSymbol sym;
    if (block_type == 6) {
        h264dec_read_coeff_token_cdc(&sym, &dp);
    } else {
        sym.value1 = nC < 2 ? 0 : nC < 4 ? 1 : nC < 8 ? 2 : 3;
        h264dec_read_coeff_token(&sym, &dp);
    }
    ReadBlock out;
    const int numcoeff = sym.value1;
    const int t1 = sym.value2;
    out.total_coeff = numcoeff;
    if (numcoeff == 0)
        return out;
    std::vector<int> level(static_cast<size_t>(numcoeff)), run(static_cast<size_t>(numcoeff), 0);
    Bitstream &bs = *dp.bitstream;
    for (int k = numcoeff - 1; k >= numcoeff - t1; --k)
        level[static_cast<size_t>(k)] = ReadBit(bs) ? -1 : 1;
    int vlc = numcoeff > 10 && t1 < 3 ? 1 : 0;
    static const int threshold[7] = {0, 3, 6, 12, 24, 48, 32768};
    for (int k = numcoeff - t1 - 1; k >= 0; --k) {
        SyntaxSymbol s;
        if (vlc == 0)
            h264dec_read_level_vlc0(&s, &dp);
        else
            h264dec_read_level_vlcn(&s, vlc, &dp);
        int lev = s.info;
        if (k == numcoeff - t1 - 1 && t1 < 3)
            lev += lev > 0 ? 1 : -1;
        level[static_cast<size_t>(k)] = lev;
        if (std::abs(lev) > threshold[vlc])
            ++vlc;
        if (k == numcoeff - t1 - 1 && std::abs(lev) > 3)
            vlc = 2;
    }
    int zerosLeft = 0;
    if (numcoeff < maxCoeff) {
        SyntaxSymbol s;
        s.value1 = numcoeff - 1;
        if (block_type == 6)
            h264dec_read_total_zeros_cdc(&s, &dp);
        else
            h264dec_read_total_zeros(&s, &dp);
        zerosLeft = s.value1;
    }
    int k = numcoeff - 1;
    for (; k > 0 && zerosLeft > 0; --k) {
        SyntaxSymbol s;
        s.value1 = (zerosLeft - 1 < 6 ? zerosLeft - 1 : 6);
        h264dec_read_run_before(&s, &dp);
        run[static_cast<size_t>(k)] = s.value1;
        zerosLeft -= s.value1;
    }
    run[static_cast<size_t>(k)] = zerosLeft;
    out.levels = level;
    out.runs = run;
    return out;
}

} // namespace enctest
