// Sequence and picture parameter sets in the draft syntax: reading them, keeping them by identifier in
// the decoder's tables, and activating the pair a slice names.
#pragma once

#include "h264dec/decoder_records.h"

// Zero-filled records; a PPS's slice_group_id array is filled as the set is read.
std::unique_ptr<SPS> dec_AllocSPS();
PpsPtr dec_AllocPPS();

// Read the set from the partition's bitstream and return the bits read. An SPS whose profile_idc is not
// 0 is in the final standard's syntax: the run ends with a message saying so. Identifiers, sizes and
// counts beyond what the decoder can hold end the run with a message naming the field.
int h264dec_read_sps(DataPartition *p, SPS *sps);
int h264dec_read_pps(DataPartition *p, PPS *pps);

// Copy a parsed set into its table entry (a later set with the same id replaces the earlier one).
int h264dec_store_sps(H264DecoderState &dec, int id, const SPS *sps);
void MakePPSavailable(H264DecoderState &dec, int id, PPS *pps);

// Handlers of parameter-set units: read, check and store.
void h264dec_process_sps(H264DecoderState &dec, const NALU &nalu);
void h264dec_process_pps(H264DecoderState &dec, const NALU &nalu);

// Selects the PPS the slice names and its SPS, copies what the picture needs into img, checks the
// picture order count parameters and installs the element readers of the entropy coding mode.
// A set never received ends the run.
void h264dec_activate_param_sets(H264DecoderState &dec, int pps_id);

// The refusal of a final-standard stream, as shown to the user.
std::string FinalSyntaxMessage(int profile_idc);
