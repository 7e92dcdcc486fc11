// Visual masking: before quantisation each band sample's magnitude is compressed by a power law
// (alpha) and divided by a measure of the activity of already-coded neighbours (beta), so busy
// regions, where the eye forgives more error, get coarser effective steps. The neighbourhood is
// causal and built from values the decoder rebuilds exactly, so both sides divide alike.
#pragma once

#include <vector>

namespace zn::j2k {

struct mask_params
{
    float alpha = 0.7f;
    float beta = 0.0f;
    int respect_block_boundaries = 1;
    int win_width = 6;
    int bits_retained = 9;
    int minlevel = 1;
};

// One band buffer's masking state for one tile.
class visual_mask
{
public:
    // `frac_bits` F of the component, the band's step and fraction bits K, and the band's
    // code-block height and width.
    visual_mask(const mask_params &p, bool synthesis, int width, int frac_bits, double step,
                int band_frac_bits, int block_height, int block_width);
    // Forward (analysis) or inverse (synthesis) mapping of one band row in place; rows of bands
    // below minlevel pass unchanged.
    void apply_row(float *row, int level);

private:
    double Neighbourhood(int j) const;
    float *RingRow(int age); // 0 the current row, 1 the previous one, ...
    double Lookup(const std::vector<float> &t, int &index, double frac, const char *warning) const;

    mask_params m_p;
    bool m_synthesis;
    int m_width, m_w, m_block_h, m_block_w;
    double m_h, m_scale, m_nz;
    std::vector<float> m_t1, m_t2;
    std::vector<std::vector<float>> m_ring; // w + 1 rows, each width + 2w wide
    int m_head = 0;
    int m_phase = 0;
};

} // namespace zn::j2k
