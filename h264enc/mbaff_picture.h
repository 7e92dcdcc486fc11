// Macroblock-adaptive frames around their macroblock pairs: the field references a field macroblock
// predicts from, and each coded frame stored a second time as its two fields.
#pragma once

namespace h264enc {

struct EncoderRun;

// Before the first pair of a macroblock-adaptive picture: the field set from the field store.
void mbaff_begin_picture(EncoderRun &run);
// After a reference picture was coded and deblocked: its two fields enter the field store, top first,
// so that the next pictures' field macroblocks find them (newest first: its bottom field, then its top).
void mbaff_store_fields(EncoderRun &run);

} // namespace h264enc
