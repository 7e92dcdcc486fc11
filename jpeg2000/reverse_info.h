// The decoder's coding parameters: the same canvas, tiles, levels, kernels and band steps that the
// encoder's forward_info chose, rebuilt from the marker elements the code-stream reader recovered.
// Nothing read is trusted: counts, kernel codes, user kernels and exponents are checked before use.
// A tile's own elements are read the first time the tile becomes current.
#pragma once

#include "jpeg2000/codec_object.h"
#include "jpeg2000/coding_info.h"

#include <memory>

namespace zn::j2k {

class command_line;
class stream_in;

class reverse_info : public coding_info
{
public:
    void initialize(int num_components, stream_in *in, command_line *args);
    usage_table get_usage();
    int next_tile(int reset) override;
    // Non-reversible: step (1 + m/2048) 2^-t with t = e + guard bits - 32 and negative exponent -t;
    // reversible: 1.0 and 0. K = 32 - e - guard bits.
    void get_band_quant_info(int component, int level, int band, float *step, int *neg_exponent,
                             int *frac_bits) const;
    void terminate();

private:
    void ReadScope(int tile, component_array &array);
    void read_component_elements(int tile, component_info &ci);
    void read_kernel_codes(int tile, component_info &ci);
    struct user_kernel_cursor
    {
        int next_support = 0, next_tap = 0; // value indices of the next user kernel
        int supports = 0, taps = 0;         // value counts of the two elements
    };
    void read_user_kernel(int tile, int component, user_kernel_cursor &at, wavelet_kernel &kernel);
    void read_quant_elements(int tile, component_info &ci);
    void ReadTileIfNew(int tile);

    stream_in *m_in = nullptr;
};

std::unique_ptr<reverse_info> create_reverse_info();

} // namespace zn::j2k
