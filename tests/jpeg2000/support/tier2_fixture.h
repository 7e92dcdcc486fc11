// Test-side precincts for tier 2: an encoder precinct over bands of blocks with made-up pass tables
// and code bytes, its decoder twin, and byte sources and sinks in memory.
#pragma once

#include "jpeg2000/ebcot_decoder_records.h"
#include "jpeg2000/ebcot_encoder_records.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/stream_out.h"

#include "platform/messages.h"

#include "support/test_support.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <random>

namespace j2ktest {

// Bytes handed out in order, as head or body; `limit` cuts the data short.
class MemorySource : public zn::j2k::packet_byte_source
{
public:
    explicit MemorySource(std::vector<uint8_t> bytes, size_t limit = SIZE_MAX)
        : m_bytes(std::move(bytes)), m_limit(std::min(limit, m_bytes.size()))
    {}
    int get_head_bytes(uint8_t *buffer, int n) override { return Take(buffer, n); }
    int get_body_bytes(uint8_t *buffer, int n) override { return Take(buffer, n); }
    size_t position() const { return m_pos; }

private:
    int Take(uint8_t *buffer, int n)
    {
        int got = 0;
        while (got < n && m_pos < m_limit)
            buffer[got++] = m_bytes[m_pos++];
        return got;
    }
    std::vector<uint8_t> m_bytes;
    size_t m_limit;
    size_t m_pos = 0;
};

// One made-up block: pass records (lengths, slopes, terminations), its Z, and its code bytes.
struct FakeBlock
{
    std::vector<zn::j2k::pass_record> passes;
    int zero_planes = 0;
    std::vector<uint8_t> bytes;
};

// A random block: Z empty planes, then passes with growing lengths and decreasing slopes.
inline FakeBlock RandomFakeBlock(std::mt19937 &rng, int capacity, bool terminate_all)
{
    FakeBlock f;
    std::uniform_int_distribution<int> z(0, 4), step(0, 40), coin(0, 3);
    f.zero_planes = z(rng);
    if (coin(rng) == 0)
        f.zero_planes = capacity; // a block with nothing coded
    int32_t length = 0;
    int slope = 30000;
    for (int n = 0; n < capacity; ++n) {
        zn::j2k::pass_record r{0, -1, 0};
        if (n >= 3 * f.zero_planes) {
            length += step(rng);
            slope -= 1 + int(rng() % 600);
            r.length = length;
            r.slope = int16_t(coin(rng) == 0 ? 0 : std::max(1, slope));
            r.terminated = int16_t(terminate_all || n == capacity - 1);
        }
        f.passes.push_back(r);
    }
    for (int32_t i = 0; i < length; ++i)
        f.bytes.push_back(uint8_t(rng()));
    return f;
}

// An encoder band of rows x cols fake blocks, one precinct covering them all.
struct EncoderPrecinct
{
    zn::j2k::codeword_heap heap;
    std::vector<std::unique_ptr<zn::j2k::enc_band>> bands;
    zn::j2k::enc_precinct precinct;

    void AddBand(int rows, int cols, const std::vector<FakeBlock> &blocks)
    {
        using namespace zn::j2k;
        auto band = std::make_unique<enc_band>();
        band->blocks_across = cols;
        band->blocks_down = rows;
        band->blocks.resize(size_t(rows * cols));
        size_t capacity = blocks.empty() ? 1 : blocks[0].passes.size();
        band->pass_storage.resize(size_t(rows * cols) * capacity);
        for (int i = 0; i < rows * cols; ++i) {
            const FakeBlock &f = blocks[size_t(i)];
            enc_block &b = band->blocks[size_t(i)];
            b.code.records = band->pass_storage.data() + size_t(i) * capacity;
            std::copy(f.passes.begin(), f.passes.end(), b.code.records);
            b.code.passes = int32_t(f.passes.size());
            b.code.zero_planes = f.zero_planes;
            code_byte_block *first = heap.get_block(), *blk = first;
            b.code.start_block = first;
            b.code.start_word = 0;
            for (size_t k = 0; k < f.bytes.size(); ++k) {
                if (k > 0 && k % 32 == 0) {
                    blk->next = heap.get_block();
                    blk = blk->next;
                }
                reinterpret_cast<uint8_t *>(blk->words)[k % 32] = f.bytes[k];
            }
        }
        enc_precinct_band pb;
        pb.rows = rows;
        pb.columns = cols;
        pb.band_columns = cols;
        pb.band = band.get();
        pb.inclusion = pb.saved_inclusion = tag_tree_create(rows, cols);
        pb.zero_planes = pb.saved_zero_planes = tag_tree_create(rows, cols);
        precinct.bands.push_back(std::move(pb));
        bands.push_back(std::move(band));
    }
};

// The decoder's twin of an encoder precinct.
struct DecoderPrecinct
{
    zn::j2k::codeword_heap heap;
    std::vector<std::unique_ptr<zn::j2k::dec_band>> bands;
    zn::j2k::dec_precinct precinct;

    void AddBand(int rows, int cols, int capacity)
    {
        using namespace zn::j2k;
        auto band = std::make_unique<dec_band>();
        band->blocks.resize(size_t(rows * cols));
        band->pass_storage.assign(size_t(rows * cols) * size_t(capacity), dec_pass_record{0, 0, 0, 0});
        for (int i = 0; i < rows * cols; ++i) {
            band->blocks[size_t(i)].capacity = capacity;
            band->blocks[size_t(i)].records = band->pass_storage.data() + size_t(i) * size_t(capacity);
        }
        dec_precinct_band pb;
        pb.rows = rows;
        pb.columns = cols;
        pb.band_columns = cols;
        pb.band = band.get();
        pb.inclusion = tag_tree_create(rows, cols);
        pb.zero_planes = tag_tree_create(rows, cols);
        precinct.bands.push_back(std::move(pb));
        bands.push_back(std::move(band));
    }
};

// The lines of the codec's box pairs joined by single blanks (the wrapping undone).
inline std::string JoinedText(const zn::MessageRecorder &recorder)
{
    std::string all;
    for (const auto &text : recorder.Texts()) {
        if (text == zn::j2k::kInternalErrorHeader)
            continue;
        for (char c : text)
            if (!(c == ' ' && (all.empty() || all.back() == ' ')))
                all += c == '\n' ? ' ' : c;
        if (!all.empty() && all.back() != ' ')
            all += ' ';
    }
    return all;
}

// The same text with runs of blanks collapsed, to look for in JoinedText.
inline std::string Collapsed(const std::string &text)
{
    std::string out;
    for (char c : text)
        if (!(c == ' ' && !out.empty() && out.back() == ' '))
            out += c;
    return out;
}

// A writer whose file the test reads back.
struct CapturedStream
{
    zntest::ScratchDir dir;
    std::unique_ptr<zn::j2k::stream_out> out = zn::j2k::create_stream_out();
    CapturedStream() { out->initialize(1 << 30, dir.File("packets.j2k").c_str(), nullptr); }
    std::vector<uint8_t> Bytes()
    {
        out->terminate();
        auto b = zntest::ReadFileBytes(dir.File("packets.j2k"));
        return std::vector<uint8_t>(b.begin(), b.end() - 2); // without the EOC terminate adds
    }
};

} // namespace j2ktest
