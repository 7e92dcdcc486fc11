// CAVLC readers. coeff_token, total_zeros and run_before are looked up in their code tables; the level
// is an Exp-Golomb-like prefix of zeros with a suffix whose length grows with the levels already read.
// The two escapes of suffix length 0 take their sign from the last suffix bit, 1 meaning positive:
// this program's encoder writes them that way, against the final standard's sign.
#include "h264dec/cavlc_read.h"

#include "h264dec/decoder_state.h"

namespace {

// Leading zeros before the next 1, by single-bit peeks; a peek past the data ends the count.
int CountLeadingZeros(const Bitstream *bs, int from)
{
    int zeros = 0;
    while (h264dec_show_bits(bs->streamBuffer, from + zeros, bs->byte_length, 1) == 0)
        ++zeros;
    return zeros;
}

void Advance(SyntaxSymbol *sym, Bitstream *bs)
{
    bs->bit_offset += sym->length;
    bs->counters->mb_bits_count += sym->length;
}

int ReadFromTable(SyntaxSymbol *sym, DataPartition *dp, const uint8_t *lentab, const uint8_t *codtab,
                  int rows, int cols, int stride, const char *failure)
{
    Bitstream *bs = dp->bitstream.get();
    if (h264dec_code_from_table(sym, bs, lentab, codtab, rows, cols, stride) < 0)
        h264_fatal_error(failure, kH264StreamErrorCode);
    bs->counters->mb_bits_count += sym->length;
    return 1;
}

// One row of a table, chosen by value1: total_zeros by TotalCoeff, run_before by zeros left.
template <size_t Rows, size_t Width>
int ReadRow(SyntaxSymbol *sym, DataPartition *dp, const uint8_t (&lentab)[Rows][Width],
            const uint8_t (&codtab)[Rows][Width], const char *failure)
{
    const int row = sym->value1;
    if (row < 0 || row >= static_cast<int>(Rows))
        h264_fatal_error(failure, kH264StreamErrorCode);
    return ReadFromTable(sym, dp, lentab[row], codtab[row], 1, static_cast<int>(Width),
                         static_cast<int>(Width), failure);
}

} // namespace

int h264dec_read_element_cavlc(SyntaxSymbol *sym, H264DecoderState &, DataPartition *dp)
{
    return h264dec_read_vlc(sym, dp->bitstream.get());
}

int h264dec_read_element_vlc(SyntaxSymbol *sym, H264DecoderState &, DataPartition *dp)
{
    return h264dec_read_vlc(sym, dp->bitstream.get());
}

int h264dec_code_from_table(SyntaxSymbol *sym, Bitstream *bs, const uint8_t *lentab, const uint8_t *codtab,
                            int rows, int cols, int stride)
{
    // The next bits are read once, as many as the stream holds up to kPeek; a code longer than what
    // is left never matches, as a read past the end gives -1.
    constexpr int kPeek = 24;
    int avail = kPeek, peek = -1;
    while ((peek = h264dec_show_bits(bs->streamBuffer, bs->bit_offset, bs->byte_length, avail)) < 0 &&
           avail > 0)
        --avail;
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < cols; ++i) {
            const int len = lentab[j * stride + i];
            if (len == 0)
                continue;
            const int bits = len > kPeek
                                 ? h264dec_show_bits(bs->streamBuffer, bs->bit_offset, bs->byte_length, len)
                             : len > avail ? -1
                                           : peek >> (avail - len);
            if (bits == codtab[j * stride + i]) {
                sym->value1 = i;
                sym->value2 = j;
                sym->length = len;
                bs->bit_offset += len;
                return 0;
            }
        }
    }
    return -1;
}

int h264dec_read_coeff_token(SyntaxSymbol *sym, DataPartition *dp)
{
    const int tab = sym->value1;
    if (tab == 3) {
        // nC >= 8: a fixed 6-bit code, TotalCoeff - 1 in the high four bits, TrailingOnes in the low two.
        Bitstream *bs = dp->bitstream.get();
        const int code = h264dec_show_bits(bs->streamBuffer, bs->bit_offset, bs->byte_length, 6);
        if (code < 0)
            return -1;
        sym->length = 6;
        sym->value2 = code & 3;
        sym->value1 = (code >> 2) + 1;
        if (code == 3) {
            sym->value1 = 0;
            sym->value2 = 0;
        }
        Advance(sym, bs);
        return 1;
    }
    if (tab < 0 || tab > 3)
        h264_fatal_error("ERROR: failed to find NumCoeff/TrailingOnes", kH264StreamErrorCode);
    // The tables are [TrailingOnes][TotalCoeff]: a match gives the column as TotalCoeff.
    return ReadFromTable(sym, dp, &kCoeffTokenLength[tab][0][0], &kCoeffTokenCode[tab][0][0], 4, 17, 17,
                         "ERROR: failed to find NumCoeff/TrailingOnes");
}

int h264dec_read_coeff_token_cdc(SyntaxSymbol *sym, DataPartition *dp)
{
    return ReadFromTable(sym, dp, &kCoeffTokenChromaDcLength[0][0], &kCoeffTokenChromaDcCode[0][0], 4, 5, 5,
                         "ERROR: failed to find NumCoeff/TrailingOnes ChromaDC");
}

int h264dec_read_level_vlc0(SyntaxSymbol *sym, DataPartition *dp)
{
    Bitstream *bs = dp->bitstream.get();
    const int z = CountLeadingZeros(bs, bs->bit_offset);
    int level = 0;
    if (z < 14) {
        level = z / 2 + 1;
        if (z & 1)
            level = -level;
        sym->length = z + 1;
    } else if (z == 14 || z == 15) {
        const int suffixBits = z == 14 ? 4 : 12;
        const int s =
            h264dec_show_bits(bs->streamBuffer, bs->bit_offset + z + 1, bs->byte_length, suffixBits);
        if (s < 0)
            return -1;
        level = (z == 14 ? 8 : 16) + (s >> 1);
        if (!(s & 1))
            level = -level;
        sym->length = z == 14 ? 19 : 28;
    } else {
        h264_fatal_error("ERROR reading Level code", kH264StreamErrorCode);
    }
    sym->info = level;
    Advance(sym, bs);
    return 1;
}

int h264dec_read_level_vlcn(SyntaxSymbol *sym, int vlc, DataPartition *dp)
{
    Bitstream *bs = dp->bitstream.get();
    const int z = CountLeadingZeros(bs, bs->bit_offset);
    int magnitude = 0;
    int signPos = 0;
    if (z < 15) {
        magnitude = (z << (vlc - 1)) + 1;
        if (vlc > 1) {
            const int suffix =
                h264dec_show_bits(bs->streamBuffer, bs->bit_offset + z + 1, bs->byte_length, vlc - 1);
            if (suffix < 0)
                return -1;
            magnitude += suffix;
        }
        signPos = z + vlc;
        sym->length = z + vlc + 1;
    } else {
        const int escape = h264dec_show_bits(bs->streamBuffer, bs->bit_offset + z + 1, bs->byte_length, 11);
        if (escape < 0)
            return -1;
        magnitude = escape + (15 << (vlc - 1)) + 1;
        signPos = z + 12;
        sym->length = z + 13;
    }
    const int sign = h264dec_show_bits(bs->streamBuffer, bs->bit_offset + signPos, bs->byte_length, 1);
    if (sign < 0)
        return -1;
    sym->info = sign ? -magnitude : magnitude;
    Advance(sym, bs);
    return 1;
}

int h264dec_read_total_zeros(SyntaxSymbol *sym, DataPartition *dp)
{
    return ReadRow(sym, dp, kTotalZerosLength, kTotalZerosCode, "ERROR: failed to find Total Zeros");
}

int h264dec_read_total_zeros_cdc(SyntaxSymbol *sym, DataPartition *dp)
{
    return ReadRow(sym, dp, kTotalZerosChromaDcLength, kTotalZerosChromaDcCode,
                   "ERROR: failed to find Total Zeros");
}

int h264dec_read_run_before(SyntaxSymbol *sym, DataPartition *dp)
{
    return ReadRow(sym, dp, kRunBeforeLength, kRunBeforeCode, "ERROR: failed to find Run");
}

int h264dec_slice_end_cavlc(H264DecoderState &dec, int)
{
    const int part = assignSE2partition[dec.slice.dp_mode][SE_MBTYPE];
    const Bitstream *bs = dec.slice.partitions[static_cast<size_t>(part)].bitstream.get();
    return h264dec_more_rbsp_data(bs->streamBuffer, bs->bit_offset, bs->byte_length) ? 0 : 1;
}
