// Field and picture-adaptive frame/field coding of one picture: the frame split into its two fields,
// each coded as a picture of half height that predicts from stored fields, and the choice between the
// frame and the field pair by rate and distortion.
#pragma once

namespace h264enc {

struct EncoderRun;
struct EncoderParams;
class MacroblockCoder;

// Ends the run (code 500) for interlaced settings the encoder cannot code yet: macroblock-adaptive
// frames, and fields or picture-adaptive coding together with B pictures, SP pictures, weighted
// prediction or several slice groups.
void refuse_unsupported_interlace(const EncoderParams &input);

// Codes the picture read into run.org_frame with InterlaceCodingOption 1 (picture-adaptive) or 2
// (fields): codes, deblocks, stores the references (as a frame and as two fields, whichever form was
// coded) and writes the NAL units of the chosen form. Afterwards run.org and run.rec point at the frame
// planes, run.rec_frame holds the reconstruction and img.field_picture tells which form went out.
void h264enc_code_interlaced_picture(EncoderRun &run, MacroblockCoder &coder);

// Field planes: top field row i is frame row 2i, bottom field row i is frame row 2i + 1.
struct PictureBuffers;
void split_fields(const PictureBuffers &frame, PictureBuffers &top, PictureBuffers &bottom);
void merge_fields(const PictureBuffers &top, const PictureBuffers &bottom, PictureBuffers &frame);

// Picture-adaptive choice: the fields win when lambda x frame bits + frame distortion is at least
// lambda x field bits + field distortion, lambda = 0.85 x 2^((qp - 12) / 3), four times that for B and
// SP pictures.
double frame_field_lambda(int qp, bool b_or_sp);
bool choose_fields(double lambda, long long frame_bits, long long frame_sse, long long field_bits,
                   long long field_sse);

} // namespace h264enc
