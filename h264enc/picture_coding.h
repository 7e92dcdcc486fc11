// Picture coding: one picture of the run in coding order. It reads the source frame, codes the slices
// through the mode decision, deblocks the reconstruction, makes an I or P picture a reference (with its
// quarter-sample plane), writes the NAL units, measures the SNR and reports the picture. The
// reconstruction file receives the pictures in display order.
#pragma once

#include "h264enc/enc_memory.h"

#include <cstdint>
#include <string>

namespace h264enc {

struct EncoderRun;
class MacroblockCoder;
class H264EncoderHost;
struct PictureBuffers;
struct Picture;

// Run-wide values of the picture loop that the run entry keeps beside the records.
struct PictureLoop
{
    int first_ip = 0;        // first I/P index of the intra group
    int first_src = 0;       // first source frame of the intra group
    int b_coded = 0;         // B pictures coded so far
    long long total_ms = 0;  // coding time of the run
    int picture_number = 0;  // source frame of the picture just coded
    int last_bits = 0;       // bits of the picture just coded
    bool recon_held = false; // an I/P reconstruction waits for its B pictures
};

// Codes one picture; returns 1 unless it is the first of its intra group (then 0).
int h264enc_encode_picture(EncoderRun &run, MacroblockCoder &coder, PictureLoop &loop, H264EncoderHost *host);
// Reads frame n of the raw 4:2:0 input (after a header of header_length bytes) into planes. A frame
// the file does not hold completely ends the run.
void ReadOneFrame(EncoderRun &run, int n, int header_length, PictureBuffers &planes);
// Writes the held I/P reconstruction (the end of the run).
void flush_recon_file(EncoderRun &run, PictureLoop &loop);
// Stores the deblocked picture of run.rec as the newest reference of the selected store (frame or
// field store): its quarter-sample plane, chroma and whole samples.
void h264enc_make_reference(EncoderRun &run);
// The newest reference of the store being filled, and the reference sets pointed at the store again.
void store_new_reference(EncoderRun &run);
// Codes every slice of the current picture, then deblocks its reconstruction.
void h264enc_code_picture(EncoderRun &run, MacroblockCoder &coder);
// Writes the slices of a coded picture as NAL units.
void h264enc_write_picture_nal_units(EncoderRun &run, Picture &pic);
// Sum of squared differences of two planes of one size.
long long h264enc_plane_sse(const Array2D<uint8_t> &a, const Array2D<uint8_t> &b);

// The picture's source frame number.
int source_frame_number(const EncoderRun &run, const PictureLoop &loop);

} // namespace h264enc
