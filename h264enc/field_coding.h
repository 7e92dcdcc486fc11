// Field and picture-adaptive frame/field coding of one picture: the frame split into its two fields,
// each coded as a picture of half height that predicts from stored fields, and the choice between the
// frame and the field pair by rate and distortion.
#pragma once

#include <array>
#include <vector>

namespace h264enc {

struct EncoderRun;
class MacroblockCoder;

// Codes the picture read into run.org_frame with InterlaceCodingOption 1 (picture-adaptive) or 2
// (fields): codes, deblocks, stores the references (as a frame and as two fields, whichever form was
// coded) and writes the NAL units of the chosen form. Afterwards run.org and run.rec point at the frame
// planes, run.rec_frame holds the reconstruction and img.field_picture tells which form went out.
void h264enc_code_interlaced_picture(EncoderRun &run, MacroblockCoder &coder);

// Motion of the last reference picture as direct prediction of a B picture finds it: per 4x4 block
// (row-major, `cols` blocks a row) the reference index, the vector and whether the block moved (a
// block is still with index 0 and both components in -1..1). The decoder keeps it in three forms, the
// frame and its two fields, and derives the forms that were not coded from the one that was.
struct ColocatedMotion
{
    int cols = 0, rows = 0;
    std::vector<int> ref, moving;
    std::vector<std::array<int, 2>> mv;
};
struct ColocatedForms
{
    ColocatedMotion frame, field[2];
};
// The field forms from a coded frame: both fields take the vectors of the even frame rows with half
// the vertical component, the doubled index of each 8x8 block's top-left block, and a block moves when
// either of its two frame rows moved.
void derive_fields_from_frame(ColocatedForms &forms);
// The frame form from a coded field pair: the top field's vectors on both frame rows with twice the
// vertical component, half the index of each field 8x8 block's top-left block over four frame rows,
// and a block moves when it moved in either field.
void derive_frame_from_fields(ColocatedForms &forms);
// Forward reference of a temporal direct block in a field B picture whose co-located block refers to
// `co` (-1 intra): the picture order distances (trp, trb) of the scaling. `dist` is the distance of
// the two reference frames, `ref_poc` the order count of the backward one's top field.
void field_direct_distances(bool bottom, int co, long long dist, long long current_poc, long long ref_poc,
                            long long *trp, long long *trb);

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
