// The end-of-run report: bit rate and average quality for the statistics block, and the tables of mode
// use and bits per category, built from the run's statistics and handed to the host.
#pragma once

#include <string>

namespace h264enc {

struct EncoderRun;
struct PictureLoop;
struct H264RunStatistics;
class H264EncoderHost;

// The sequence type text of the statistics, from the settings' picture structure and quantisers.
std::string SequenceTypeText(const EncoderRun &run);
// The statistics block's values.
H264RunStatistics RunStatistics(const EncoderRun &run, const PictureLoop &loop);
// The mode and bit usage tables.
std::string ModeAndBitUsageText(const EncoderRun &run, const PictureLoop &loop);
// Sends both to the host (the statistics only without stored B pictures).
void h264enc_report(EncoderRun &run, const PictureLoop &loop, H264EncoderHost *host);

} // namespace h264enc
