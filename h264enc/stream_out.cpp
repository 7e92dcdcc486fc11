// Annex B writer and the stream start and end of a run.
#include "h264enc/stream_out.h"

#include "h264enc/enc_param_sets.h"
#include "h264enc/enc_run.h"
#include "h264enc/nal_unit.h"
#include "platform/format.h"

namespace h264enc {

void AnnexBOutput::open(const std::string &path)
{
    m_file.reset(std::fopen(path.c_str(), "wb"));
    if (!m_file)
        h264_fatal_error(zn::Format("Fatal: cannot open bitstream file '%s', exit (-1)\n", path.c_str()),
                         kH264StreamErrorCode);
}

int AnnexBOutput::write_annexb_unit(NALU &nalu)
{
    if (!m_file)
        h264_fatal_error("Fatal: bitstream file is not open, exit (-1)\n", kH264StreamErrorCode);
    int bits = 0;
    static const uint8_t zero = 0;
    static const uint8_t startCode[3] = {0, 0, 1};
    bool ok = true;
    if (nalu.prefix_length > 3) {
        ok = std::fwrite(&zero, 1, 1, m_file.get()) == 1;
        bits += 8;
    }
    ok = ok && std::fwrite(startCode, 1, 3, m_file.get()) == 3;
    if (nalu.len < 1 || nalu.len > static_cast<int>(nalu.buf.size()))
        ok = false;
    if (ok) {
        nalu.buf[0] = NaluHeaderByte(nalu);
        ok = std::fwrite(nalu.buf.data(), 1, static_cast<size_t>(nalu.len), m_file.get()) ==
             static_cast<size_t>(nalu.len);
    }
    if (!ok || std::fflush(m_file.get()) != 0)
        h264_fatal_error(zn::Format("Fatal: cannot write %d bytes to bitstream file, exit (-1)\n", nalu.len),
                         kH264StreamErrorCode);
    return bits + 8 * nalu.len + 24;
}

void AnnexBOutput::close()
{
    if (m_file && std::fclose(m_file.release()) != 0)
        h264_fatal_error("Fatal: cannot close bitstream file, exit (-1)\n", kH264StreamErrorCode);
}

int StreamOutput::WriteNalu(NALU &nalu)
{
    if (mode == 1)
        return rtp.RTPWriteNALU(nalu, *rtp_counters);
    return annexb.write_annexb_unit(nalu);
}

int h264enc_start_stream(EncoderRun &run)
{
    run.out.mode = run.input.OutFileMode;
    switch (run.input.OutFileMode) {
    case 0:
        run.out.annexb.open(run.input.OutputFile);
        break;
    case 1:
        run.out.rtp.create_rtp_output(run.input.OutputFile);
        break;
    default:
        h264_fatal_error(zn::Format("Output File Mode %d not supported", run.input.OutFileMode), 1);
    }
    NaluPtr sps = make_sps_nalu(run);
    run.out.WriteNalu(*sps);
    NaluPtr pps = make_pps_nalu(run);
    run.out.WriteNalu(*pps);
    return 0;
}

void h264enc_end_stream(EncoderRun &run)
{
    switch (run.out.mode) {
    case 0:
        run.out.annexb.close();
        break;
    case 1:
        run.out.rtp.close_rtp_output();
        break;
    default:
        h264_fatal_error(zn::Format("Output File Mode %d not supported", run.out.mode), 1);
    }
}

} // namespace h264enc
