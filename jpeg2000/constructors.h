// Constructor records: which create function serves each role of an encoder run or a decoder run.
// The argument vector chooses the quantiser ("-Qtcq"), the code-stream the dequantiser; the image
// reader and writer are the caller's (a document, or a memory image).
#pragma once

#include "jpeg2000/invocation.h"

#include <functional>
#include <memory>

namespace zn::j2k {

class command_line;
class stream_in;
class stream_out;
class forward_info;
class reverse_info;
class ebcot_encoder;
class ebcot_decoder;
class roi_encoder;
class roi_decoder;
class quantizer;
class dequantizer;
class wavelet_analysis;
class wavelet_synthesis;
class component_mix;
class component_demix;

struct enc_constructor
{
    std::function<std::unique_ptr<image_line_reader>()> image_reader;
    std::unique_ptr<stream_out> (*stream)() = nullptr;
    std::unique_ptr<forward_info> (*info)() = nullptr;
    std::unique_ptr<ebcot_encoder> (*ebcot)() = nullptr;
    std::unique_ptr<roi_encoder> (*roi)() = nullptr;
    std::unique_ptr<quantizer> (*quant)() = nullptr;
    std::unique_ptr<wavelet_analysis> (*analysis)() = nullptr;
    std::unique_ptr<component_mix> (*mix)() = nullptr;
};

struct dec_constructor
{
    std::function<std::unique_ptr<image_line_writer>()> image_writer;
    std::unique_ptr<stream_in> (*stream)() = nullptr;
    std::unique_ptr<reverse_info> (*info)() = nullptr;
    std::unique_ptr<ebcot_decoder> (*ebcot)() = nullptr;
    std::unique_ptr<roi_decoder> (*roi)() = nullptr;
    std::unique_ptr<dequantizer> (*dequant)() = nullptr;
    std::unique_ptr<wavelet_synthesis> (*synthesis)() = nullptr;
    std::unique_ptr<component_demix> (*demix)() = nullptr;
};

// Fills every slot but the reader's: the trellis-coded quantiser with "-Qtcq", else the dead-zone
// one. "-iter" without "-Cno_trunc" and "-Qtcq" with parameters end the run.
void make_enc_constructor(enc_constructor &c, command_line *args);
// Fills every slot but the writer's, with the dead-zone dequantiser.
void make_dec_constructor(dec_constructor &c, command_line *args);
// Puts the trellis-coded dequantiser in place when the code-stream says its quantiser was one.
void modify_dec_constructor(dec_constructor &c, stream_in &in);

} // namespace zn::j2k
