// A wireless link for coded video: a stream file is cut into packets, each packet is framed for a
// HiperLAN or a GPRS link, its coded bits cross a channel with random or bursty (Gilbert-Elliot)
// errors, the block code of the protocol corrects, detects or misses them, and the received bytes
// are written to a new stream file. The stages live in their own files: the error draws, the
// interleaver and block checks, the contention for HiperLAN slots, and the packet loop over files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zn {

// What one protocol's framing and block code look like.
struct ProtocolConstants
{
    bool hiperlan = true;
    int headerAligned = 0, headerPlain = 0; // bytes before the data, with and without start-code cuts
    int trailer = 0;                        // bytes after the data
    int maxReadAligned = 0, maxReadPlain = 0;
    int unitBytes = 0;      // the frame is a whole number of these
    int blocksPerUnit = 0;  // code blocks in one unit
    int codedBits = 0;      // coded bits in one code block
    int interleaveStep = 0; // transmission positions this far apart land in one check
    int checkLength = 0;    // coded bits of one check
    int dataBits = 0;       // data bits of one check (its first bits)
    int correctLimit = 0;   // errors a check corrects
    int detectLimit = 0;    // errors a check still detects
    int smallestFrame = 0;  // bytes; 0 when any whole number of units will do

    int Header(bool align) const { return align ? headerAligned : headerPlain; }
    int MaxRead(bool align) const { return align ? maxReadAligned : maxReadPlain; }
};

const ProtocolConstants &HiperlanConstants();
// GPRS coding schemes CS1 to CS4 (scheme 1..4; other values give CS1).
const ProtocolConstants &GprsConstants(int scheme);

// The counters of one simulation.
struct ChannelStats
{
    int64_t bits = 0;             // data bits read from the stream
    int64_t errorBits = 0;        // coded bits in error before correction
    int64_t packets = 0;          // packets sent, the final empty one included
    int64_t uncorrectable = 0;    // packets with errors detected but not corrected
    int64_t undetected = 0;       // packets with errors the code missed
    int64_t contentionLosses = 0; // HiperLAN packets that found no slot
};

// The physical channel. model 1: every bit in error with probability d1. model 2 (Gilbert-Elliot):
// state 1 is the good state (errors with d1, to the bad state with d3), state 0 the fading state
// (errors with d2, back to good with d4). A simulation starts in state 0.
struct ChannelModel
{
    int model = 1;
    double d1 = 0.00001; // P(error)
    double d2 = 0.01;    // P(error) in fade
    double d3 = 0.00001; // P(bad/good)
    double d4 = 0.01;    // P(good/bad)
    int state = 0;
};

// --- error draws (channel_errors.cpp) ------------------------------------------------------------
// One uniform value in [0, 1) from the program's generator.
double UniformDraw();
bool RandomBitError(double p);
// Two draws: the bit's error, then the state transition.
bool GilbertElliotError(ChannelModel &channel);
// The number of failures before the first success of probability p, drawn by inversion.
int GeometricInterval(double p);
// One error flag per coded bit (1 = in error), drawn in order.
void ChannelBitErrors(uint8_t *errors, ChannelModel &channel, int n);
// State steps whose errors are not used: the time the medium spends on other users' packets.
void GilbertElliotSteps(ChannelModel &channel, int64_t steps);

// --- block code (channel_coding.cpp) ---------------------------------------------------------------
// Reorders n flags so that entry i takes position b, b stepping by step and wrapping to the next
// column: positions step apart end up side by side, so a burst spreads over many checks.
void InterleaveErrors(uint8_t *flags, int step, int n);
// Checks one code block of interleaved flags: corrects, detects or misses each check's errors and
// counts them in stats. out receives the data bits' error flags: HiperLAN packs them most significant
// bit first into 52 bytes, GPRS returns the flags as they are. Returns 0 (clean or corrected),
// 1 (detected, uncorrectable) or 2 (undetected).
int CheckCodeBlocks(const ProtocolConstants &p, uint8_t *flags, uint8_t *out, ChannelStats &stats);
// Sends a frame of frameBytes through the channel; mask receives one bit per frame bit, set where the
// received data is in error (frameBytes bytes). Returns the packet's worst block result and counts
// the packet.
int TransmitPacket(const ProtocolConstants &p, uint8_t *mask, int frameBytes, ChannelModel &channel,
                   ChannelStats &stats);

// --- HiperLAN medium access (channel_contention.cpp) ---------------------------------------------
// Slots of the 20 Mbit/s medium a stream of kbps kbit/s may use per packet (rates below 1 count as 1).
int ContentionSlots(int kbps);
// Among n contenders (at most 10000) the one with the longest back-off wins; ties go to the later one.
int ContentionWinner(int n);
// users (this stream is user 0) pick random slots and contend; returns -1 - t when this stream was
// served in slot t, else the number of slots (the packet is lost).
int ContendForSlot(int users, int kbps);

// --- packets over files (channel_simulate.cpp) ---------------------------------------------------
// The next chunk of the stream at offset: at most maximum bytes; with align it ends before the next
// start code. Returns the byte count, 0 at the end or after the file's message.
int ReadStreamChunk(std::vector<uint8_t> &buffer, int64_t offset, int maximum, const std::string &path,
                    bool align);
bool CreateStreamFile(const std::string &path);
bool AppendStreamChunk(const uint8_t *data, int n, const std::string &path);

// Send the stream file input to output. false when a file error ended the simulation early (its
// message shown); stats hold what was sent until then.
bool SimulateHiperlan(const std::string &input, const std::string &output, bool align, ChannelModel channel,
                      int users, int kbps, ChannelStats &stats);
bool SimulateGprs(const std::string &input, const std::string &output, bool align, ChannelModel channel,
                  int scheme, ChannelStats &stats);

// The report of a finished simulation.
std::string ChannelReport(const ChannelStats &stats);

} // namespace zn
