// The slice header in the draft syntax: which macroblock the slice starts at, the picture kind, frame
// number and order count, the reference counts, reordering and marking, the weights, the CABAC model,
// the quantiser and the loop-filter values, in fixed-length and Exp-Golomb codes. With CABAC the
// arithmetic code starts only after it. Data partitions 2 and 3 carry a short header of their own.
#pragma once

namespace h264enc {

struct EncoderRun;
struct EncoderImage;
struct SlicePartition;

// slice_type of the current picture: 7 I, 5 P, 6 B and stored B, 8 SP (sp_mode 3 or type 3). Another
// type ends the run ("Picture Type not supported!", code 1).
int h264enc_slice_type_code(const EncoderImage &img);

// Writes the header of the current slice into its first partition; returns its bits.
int h264enc_write_slice_header(EncoderRun &run);
// The reordering part; afterwards the slice's reference list is built.
int h264enc_write_reordering(EncoderRun &run, SlicePartition *part);
// The reference marking part. A command list that does not end with operation 0 ends the run
// ("Error encoding MMCO commands", code 500).
int h264enc_write_ref_marking(const EncoderImage &img, SlicePartition *part);
// The prediction weight table of the forward (and, in B pictures, backward) references.
int h264enc_write_weight_table(const EncoderImage &img, SlicePartition *part);
// The header of data partition 2 or 3 (index 1 or 2): the slice's picture identifier and slice number.
int h264enc_write_partition_header(EncoderRun &run, int partition);

} // namespace h264enc
