// Reading the stream as NAL units: the Annex B byte stream (start code, unit, start code...) from a
// file or from memory, the removal of emulation-prevention bytes, the search for the stop bit that
// ends a payload, and the RTP packet-file reader (present, never chosen by the decoder's run).
#pragma once

#include "h264dec/h264_shared.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Capacity of the unit buffers the decoder allocates: a unit and its start code must fit.
constexpr int kNaluCapacity = 800000;

// Where the units come from: one byte at a time, with the step back that leaves the position at the
// start code of the next unit.
class NaluSource
{
public:
    virtual ~NaluSource() = default;
    virtual int GetByte() = 0;                 // the next byte, or -1 at the end
    virtual int Read(uint8_t *dst, int n) = 0; // up to n bytes; returns how many came
    virtual bool SeekBack(int n) = 0;          // moves the position back by n bytes
};

std::unique_ptr<NaluSource> OpenNaluFile(const std::string &path); // null when it cannot be opened
std::unique_ptr<NaluSource> NaluMemory(std::vector<uint8_t> bytes);

// A zero-filled unit whose buffer holds `capacity` bytes.
NaluPtr dec_AllocNALU(int capacity);

// Cuts the next unit out of the stream. Returns the bytes it took (start code and unit), 0 at the end
// of the stream, -1 when no start code stands at the position (3 or 4 bytes are then consumed).
// A unit longer than the buffer's capacity ends the run as damaged.
int GetAnnexbNALU(NaluSource &source, NALU *nalu);

// Removes the emulation-prevention bytes after the header byte; returns the new length.
int h264dec_nalu_to_rbsp(NALU *nalu);
// The removal over bytes begin .. end-1, in place; returns the new end.
int h264dec_ebsp_to_rbsp(uint8_t *streamBuffer, int end_bytepos, int begin_bytepos);
// Bytes up to and including the one that holds the stop bit; 0 for a payload without a 1 bit.
int h264dec_sodb_length(const uint8_t *streamBuffer, int last_byte_pos);
// 1 when bytes 0 .. zeros-1 are zero and byte `zeros` is 0x01.
int h264dec_is_start_code(const uint8_t *buf, int zeros_in_startcode);

// One packet of this program's RTP files: bit fields from the low end of each byte, sequence number,
// timestamp and source identifier little-endian.
struct RTPpacket
{
    unsigned v = 0, p = 0, x = 0, cc = 0, m = 0, pt = 0;
    unsigned seq = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
    std::vector<uint8_t> packet; // the whole packet, header first
    int packlen = 0;
    int paylen = 0; // payload bytes after the 12-byte header
};

// Reads length (4 bytes, little-endian), time (4 bytes) and packet. Returns the packet length,
// 0 at the end of the file, -1 for a truncated or oversized packet.
int RTPReadPacket(RTPpacket *p, NaluSource &source);
// Splits the header from the payload; -1 unless version 2 without padding, extension or CSRC.
int DecomposeRTPpacket(RTPpacket *p);
// The next packet's payload as a unit; returns its length, 0 at the end, -1 for a bad packet.
int GetRTPNALU(NaluSource &source, NALU *nalu);
