// Sequence and picture parameter sets in the draft syntax this program's decoder reads: profile and
// level without constraint flags, the slice-group and redundancy flags in the SPS, frame cropping in
// the PPS and a one-bit entropy coding mode.
#pragma once

#include "h264dec/h264_shared.h"
#include "h264enc/enc_params.h"
#include "h264enc/enc_state.h"
#include "h264enc/slice_group_map.h"

#include <memory>
#include <vector>

namespace h264enc {

struct EncoderRun;

std::unique_ptr<SPS> AllocSPS();
PpsPtr AllocPPS();

// Both records from the parameters, the picture state and the slice-group map. Static maps (dispersed,
// box) and explicit maps go out as explicit slice_group_id lists; evolving maps as their change
// direction and rate.
void fill_parameter_sets(const EncoderParams &input, const EncoderImage &img, const EncoderFmo &fmo, SPS *sps,
                         PPS *pps);

// The RBSP of the set, trailing bits included, appended to buffer; returns its length in bytes.
int SeqParameterSet(const SPS &sps, std::vector<uint8_t> &buffer);
int PicParameterSet(const PPS &pps, std::vector<uint8_t> &buffer);

// The units: nal_unit_type 7 / 8, nal_ref_idc 3, four-byte start code.
NaluPtr make_sps_nalu(const EncoderRun &run);
NaluPtr make_pps_nalu(const EncoderRun &run);

} // namespace h264enc
