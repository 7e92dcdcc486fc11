// Macroblock-adaptive frames around their macroblock pairs: the field references a field macroblock
// predicts from, and each coded frame stored a second time as its two fields.
#pragma once

namespace h264enc {

struct EncoderRun;

// Before the first pair of a macroblock-adaptive picture: the field set from the field store; in a B
// picture the co-located motion of its backward reference in the frame's and each field's form, and
// the field forms of its own maps cleared.
void mbaff_begin_picture(EncoderRun &run);
// After a reference picture was coded and deblocked: its two fields enter the field store, top first,
// so that the next pictures' field macroblocks find them (newest first: its bottom field, then its top).
void mbaff_store_fields(EncoderRun &run);
// After a reference picture was coded: its motion as the next B pictures find it co-located, in the
// frame's form and in the fields' forms derived from it, as the decoder derives them.
void mbaff_keep_colocated(EncoderRun &run);

} // namespace h264enc
