// Annex B input: a unit runs from the start code in front of it to the next start code (or the end of
// the stream). The reader takes the stream one byte at a time and steps back over the start code it
// has just read, so that every call begins at a start code.
#include "h264dec/nalu_input.h"

#include "h264dec/dec_memory.h"

#include "platform/file.h"
#include "platform/format.h"
#include "platform/log.h"

#include <algorithm>
#include <cstdio>
#include <new>

namespace {

// Room behind a unit's capacity: the start code that ends a unit is read into the buffer before it is
// recognised, and the bit readers may look one byte past the data they were given.
constexpr int kNaluSlack = 8;

class FileSource : public NaluSource
{
public:
    explicit FileSource(zn::FilePtr f) : m_file(std::move(f)) {}
    int GetByte() override { return std::getc(m_file.get()); }
    int Read(uint8_t *dst, int n) override
    {
        return n <= 0 ? 0 : static_cast<int>(std::fread(dst, 1, static_cast<size_t>(n), m_file.get()));
    }
    bool SeekBack(int n) override { return std::fseek(m_file.get(), -static_cast<long>(n), SEEK_CUR) == 0; }

private:
    zn::FilePtr m_file;
};

class MemorySource : public NaluSource
{
public:
    explicit MemorySource(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    int GetByte() override { return m_pos < m_bytes.size() ? m_bytes[m_pos++] : -1; }
    int Read(uint8_t *dst, int n) override
    {
        int k = 0;
        while (k < n && m_pos < m_bytes.size())
            dst[k++] = m_bytes[m_pos++];
        return k;
    }
    bool SeekBack(int n) override
    {
        if (n < 0 || static_cast<size_t>(n) > m_pos)
            return false;
        m_pos -= static_cast<size_t>(n);
        return true;
    }

private:
    std::vector<uint8_t> m_bytes;
    size_t m_pos = 0;
};

void DecodeHeaderByte(NALU *nalu)
{
    const int b = nalu->len > 0 ? nalu->buf[0] : 0;
    nalu->forbidden_bit = (b >> 7) & 1;
    nalu->nal_ref_idc = (b >> 5) & 3;
    nalu->nal_unit_type = b & 0x1f;
}

[[noreturn]] void DamagedUnit(int capacity)
{
    h264_fatal_error(
        zn::Format("GetAnnexbNALU: a NAL unit longer than %d bytes: the stream is damaged", capacity),
        kH264StreamErrorCode);
}

} // namespace

std::unique_ptr<NaluSource> OpenNaluFile(const std::string &path)
{
    zn::FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f)
        return nullptr;
    return std::make_unique<FileSource>(std::move(f));
}

std::unique_ptr<NaluSource> NaluMemory(std::vector<uint8_t> bytes)
{
    return std::make_unique<MemorySource>(std::move(bytes));
}

NaluPtr dec_AllocNALU(int capacity)
{
    NaluPtr n;
    try {
        n.reset(new NALU);
    } catch (const std::bad_alloc &) {
        dec_out_of_memory_exit("dec_AllocNALU: n");
    }
    n->capacity = capacity;
    try {
        n->buf.assign(static_cast<size_t>(std::max(capacity, 0)) + kNaluSlack, 0);
    } catch (const std::bad_alloc &) {
        dec_out_of_memory_exit("dec_AllocNALU: n->buf");
    }
    return n;
}

int GetAnnexbNALU(NaluSource &source, NALU *nalu)
{
    nalu->prefix_length = 3;
    uint8_t prefix[4];
    for (int i = 0; i < 3; ++i) {
        const int c = source.GetByte();
        if (c < 0)
            return 0;
        prefix[i] = static_cast<uint8_t>(c);
    }
    if (!h264dec_is_start_code(prefix, 2)) {
        const int c = source.GetByte();
        if (c < 0)
            return 0;
        prefix[3] = static_cast<uint8_t>(c);
        if (!h264dec_is_start_code(prefix, 3)) {
            zn::Log(zn::LogLevel::Info, "GetAnnexbNALU: no Start Code at the begin of the NALU, return -1\n");
            return -1;
        }
        nalu->prefix_length = 4;
    }

    // The last four bytes read, the prefix included: a start code may begin inside the prefix.
    uint32_t window = nalu->prefix_length == 4 ? 0x00000001u : 0xff000001u;
    const int room = static_cast<int>(nalu->buf.size());
    int stored = 0; // unit bytes in buf, a trailing start code included
    int startCode = 0;
    for (;;) {
        const int c = source.GetByte();
        if (c < 0)
            break;
        if (stored >= room)
            DamagedUnit(nalu->capacity);
        nalu->buf[static_cast<size_t>(stored++)] = static_cast<uint8_t>(c);
        window = (window << 8) | static_cast<uint32_t>(c);
        if (window == 0x00000001u) {
            startCode = 4;
            break;
        }
        if ((window & 0x00ffffffu) == 0x00000001u) {
            startCode = 3;
            break;
        }
    }
    if (startCode && !source.SeekBack(startCode)) {
        // The message keeps the (negative) distance of the failed step back.
        h264_fatal_error(zn::Format("GetAnnexbNALU: Cannot fseek %d in the bit stream file", -startCode),
                         600);
    }
    nalu->len = stored - startCode;
    if (nalu->len + nalu->prefix_length > nalu->capacity)
        DamagedUnit(nalu->capacity);
    // Clear what a longer earlier unit left behind the new one, so readers that look past the end
    // see zeros as they would in a fresh buffer.
    for (int i = nalu->len; i < stored; ++i)
        nalu->buf[static_cast<size_t>(i)] = 0;
    DecodeHeaderByte(nalu);
    return nalu->prefix_length + nalu->len;
}

int h264dec_nalu_to_rbsp(NALU *nalu)
{
    nalu->len = h264dec_ebsp_to_rbsp(nalu->buf.data(), nalu->len, 1);
    return nalu->len;
}

int h264dec_ebsp_to_rbsp(uint8_t *streamBuffer, int end_bytepos, int begin_bytepos)
{
    if (end_bytepos < begin_bytepos)
        return end_bytepos;
    int j = begin_bytepos;
    int count = 0;
    for (int i = begin_bytepos; i < end_bytepos; ++i) {
        if (count == 2 && streamBuffer[i] == 0x03) {
            // An escape that is the unit's last byte has nothing behind it to copy.
            if (++i == end_bytepos)
                break;
            count = 0;
        }
        streamBuffer[j] = streamBuffer[i];
        count = streamBuffer[i] == 0 ? count + 1 : 0;
        ++j;
    }
    return j;
}

int h264dec_sodb_length(const uint8_t *streamBuffer, int last_byte_pos)
{
    int pos = last_byte_pos - 1;
    int bit = 0;
    while (pos >= 0 && !((streamBuffer[pos] >> bit) & 1)) {
        if (++bit == 8) {
            bit = 0;
            --pos;
        }
    }
    if (pos < 0) {
        zn::Log(zn::LogLevel::Info, " Panic: All zero data sequence in RBSP \n");
        return 0;
    }
    return pos + 1;
}

int h264dec_is_start_code(const uint8_t *buf, int zeros_in_startcode)
{
    for (int i = 0; i < zeros_in_startcode; ++i)
        if (buf[i] != 0)
            return 0;
    return buf[zeros_in_startcode] == 1 ? 1 : 0;
}
