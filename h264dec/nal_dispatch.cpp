// Reading the stream unit by unit up to the next slice. Parameter sets and SEI are read where they
// stand; data partitions, picture delimiters, filler and unknown units are skipped with a note in the
// log. A slice unit then yields its header, read around the activation of the sets it names.
#include "h264dec/nal_dispatch.h"

#include "h264dec/decoder_state.h"
#include "h264dec/param_sets.h"
#include "h264dec/sei.h"
#include "h264dec/slice_header.h"
#include "platform/format.h"
#include "platform/log.h"

void h264dec_open_annexb(H264DecoderState &dec)
{
    dec.bitsfile = OpenNaluFile(dec.input.infile);
    if (!dec.bitsfile)
        h264_fatal_error(zn::Format("Cannot open Annex B ByteStream file '%s'", dec.input.infile.c_str()),
                         500);
}

void h264dec_open_rtp(H264DecoderState &dec)
{
    dec.bitsfile = OpenNaluFile(dec.input.infile);
    if (!dec.bitsfile)
        h264_fatal_error(zn::Format("Cannot open RTP file '%s'", dec.input.infile.c_str()), 500);
}

void h264dec_open_memory(H264DecoderState &dec, std::vector<uint8_t> bytes)
{
    dec.bitsfile = NaluMemory(std::move(bytes));
}

void h264dec_close_input(H264DecoderState &dec)
{
    dec.bitsfile.reset();
}

int h264dec_next_slice_unit(H264DecoderState &dec, NALU *nalu)
{
    if (!dec.bitsfile)
        return 0;
    for (;;) {
        const int ret =
            dec.input.FileFormat == 1 ? GetRTPNALU(*dec.bitsfile, nalu) : GetAnnexbNALU(*dec.bitsfile, nalu);
        if (ret == 0)
            return 0;
        if (ret < 0) {
            zn::Log(zn::LogLevel::Info, "Error while getting the NALU in file format Annex B, exit\n");
            // Nothing was read into the unit: go on as with an empty one, never with the previous unit.
            nalu->len = 0;
            nalu->nal_unit_type = nalu->nal_ref_idc = nalu->forbidden_bit = 0;
        }
        h264dec_nalu_to_rbsp(nalu);
        if (nalu->forbidden_bit)
            zn::Log(zn::LogLevel::Info, "Found NALU w/ forbidden_bit set, bit error?  Let's try...\n");

        switch (nalu->nal_unit_type) {
        case NALU_TYPE_SLICE:
        case NALU_TYPE_IDR:
            return 1;
        case NALU_TYPE_DPA:
            dec.advisories |= kAdvisoryPartitions;
            break;
        case NALU_TYPE_DPB:
            dec.advisories |= kAdvisoryPartitions;
            zn::LogF(zn::LogLevel::Info, "read_new_slice: Found unexpected NALU_TYPE_DPB, len %d\n",
                     nalu->len);
            zn::Log(zn::LogLevel::Info, "ignoring... moving on with next NALU\n");
            break;
        case NALU_TYPE_DPC:
            dec.advisories |= kAdvisoryPartitions;
            zn::LogF(zn::LogLevel::Info, "read_new_slice: Found NALU_TYPE_DPC, len %d\n", nalu->len);
            zn::Log(zn::LogLevel::Info, "ignoring... moving on with next NALU\n");
            break;
        case NALU_TYPE_SEI:
            zn::LogF(zn::LogLevel::Info, "read_new_slice: Found NALU_TYPE_SEI, len %d\n", nalu->len);
            h264dec_read_sei(dec, nalu->buf.data(), nalu->len);
            break;
        case NALU_TYPE_SPS:
            h264dec_process_sps(dec, *nalu);
            break;
        case NALU_TYPE_PPS:
            h264dec_process_pps(dec, *nalu);
            break;
        case NALU_TYPE_PD:
            zn::LogF(zn::LogLevel::Info, "read_new_slice: Found NALU_TYPE_PD, len %d\n, ignored", nalu->len);
            break;
        case NALU_TYPE_FILL:
            zn::LogF(zn::LogLevel::Info, "read_new_slice: Found NALU_TYPE_FILL, len %d\n", nalu->len);
            zn::Log(zn::LogLevel::Info, "Skipping these filling bits, proceeding w/ next NALU\n");
            break;
        default:
            zn::LogF(zn::LogLevel::Info, "Found NALU type %d, len %d undefined, ignore NALU, moving on\n",
                     nalu->nal_unit_type, nalu->len);
            break;
        }
    }
}

void h264dec_read_slice_unit(H264DecoderState &dec, const NALU &nalu)
{
    DecoderImage &img = dec.img;
    DecoderSlice &slice = dec.slice;
    img.idr_flag = nalu.nal_unit_type == NALU_TYPE_IDR ? 1 : 0;
    img.non_reference = nalu.nal_ref_idc == 0 ? 1 : 0;
    slice.dp_mode = 0;
    slice.max_part_nr = 1;
    slice.lost_flag = 0;
    h264dec_load_unit(slice.partitions[0].bitstream.get(), nalu);

    h264dec_read_slice_header_first(dec);
    h264dec_activate_param_sets(dec, slice.pic_parameter_set_id);
    if (dec.active_pps && dec.active_pps->num_slice_groups_minus1 > 0)
        dec.advisories |= kAdvisorySliceGroups;
    h264dec_read_slice_header_rest(dec);
}
