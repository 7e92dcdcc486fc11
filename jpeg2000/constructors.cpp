// Constructor records.
#include "jpeg2000/constructors.h"

#include "jpeg2000/component_demix.h"
#include "jpeg2000/component_mix.h"
#include "jpeg2000/dz_quantizer.h"
#include "jpeg2000/ebcot_decoder.h"
#include "jpeg2000/ebcot_encoder.h"
#include "jpeg2000/forward_info.h"
#include "jpeg2000/region_of_interest.h"
#include "jpeg2000/reverse_info.h"
#include "jpeg2000/stream_in.h"
#include "jpeg2000/stream_out.h"
#include "jpeg2000/tcq_quantizer.h"
#include "jpeg2000/wavelet_analysis.h"
#include "jpeg2000/wavelet_synthesis.h"

namespace zn::j2k {

void make_enc_constructor(enc_constructor &c, command_line *args)
{
    c.stream = create_stream_out;
    c.info = create_forward_info;
    c.ebcot = create_ebcot_encoder;
    c.roi = create_roi_encoder;
    c.quant = check_encoder_arguments(args) ? create_tcq_quantizer : create_dz_quantizer;
    c.analysis = create_wavelet_analysis;
    c.mix = create_component_mix;
}

void make_dec_constructor(dec_constructor &c, command_line *)
{
    c.stream = create_stream_in;
    c.info = create_reverse_info;
    c.ebcot = create_ebcot_decoder;
    c.roi = create_roi_decoder;
    c.dequant = create_dz_dequantizer;
    c.synthesis = create_wavelet_synthesis;
    c.demix = create_component_demix;
}

void modify_dec_constructor(dec_constructor &c, stream_in &in)
{
    if (dequantizer_is_tcq(in))
        c.dequant = create_tcq_dequantizer;
}

} // namespace zn::j2k
