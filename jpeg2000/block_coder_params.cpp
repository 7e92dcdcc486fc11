// The block coders' view of forward_info, reverse_info and the region objects: the same accessors,
// in the block coders' rectangle and frame records.
#include "jpeg2000/block_coder_params.h"

#include "jpeg2000/forward_info.h"
#include "jpeg2000/region_of_interest.h"
#include "jpeg2000/reverse_info.h"

namespace zn::j2k {

namespace {
enc_rect ToRect(const canvas_rect &r)
{
    return enc_rect{r.rows, r.cols, r.first_row, r.first_col};
}

frame_geometry ToFrame(const frame_info &f)
{
    return frame_geometry{f.height,      f.width,      f.anchor_row, f.anchor_col,
                          f.log2_height, f.log2_width, f.vert_sso,   f.hor_sso};
}

// The accessors both parameter objects share.
template <class Info> class InfoParams : public block_coder_params
{
public:
    explicit InfoParams(Info &info) : m_info(info) {}
    bool get_tile_info(int component, int tile, int *column, int *row, enc_rect *rect, int *sub_x, int *sub_y,
                       int *signed_precision) override
    {
        canvas_rect r;
        if (!m_info.get_tile_info(component, tile, column, row, &r, sub_x, sub_y, signed_precision))
            return false;
        if (rect)
            *rect = ToRect(r);
        return true;
    }
    int get_tile_component_info(int component, int *tile, enc_rect *rect, int *reversible,
                                int *fraction_bits) override
    {
        canvas_rect r;
        const int levels = m_info.get_tile_component_info(component, tile, &r, reversible, fraction_bits);
        if (rect)
            *rect = ToRect(r);
        return levels;
    }
    int next_tile(int reset) override { return m_info.next_tile(reset); }
    void get_level_info(int component, int level, enc_rect *rect, int *hp_descent,
                        frame_geometry *frame) override
    {
        canvas_rect r;
        frame_info f;
        m_info.get_level_info(component, level, &r, hp_descent, &f);
        if (rect)
            *rect = ToRect(r);
        if (frame)
            *frame = ToFrame(f);
    }
    int get_band_info(int component, int level, int band, enc_rect *rect, frame_geometry *frame) override
    {
        canvas_rect r;
        frame_info f;
        const int rows = m_info.get_band_info(component, level, band, &r, &f);
        if (rect)
            *rect = ToRect(r);
        if (frame)
            *frame = ToFrame(f);
        return rows;
    }

protected:
    Info &m_info;
};

class ForwardParams : public InfoParams<forward_info>
{
public:
    using InfoParams::InfoParams;
    void get_band_quant_info(int component, int level, int band, float *step, int *negative_exponent,
                             float *weight, int *K) override
    {
        m_info.get_band_quant_info(component, level, band, step, negative_exponent, weight, K);
    }
};

class ReverseParams : public InfoParams<reverse_info>
{
public:
    using InfoParams::InfoParams;
    void get_band_quant_info(int component, int level, int band, float *step, int *negative_exponent,
                             float *weight, int *K) override
    {
        m_info.get_band_quant_info(component, level, band, step, negative_exponent, K);
        if (weight)
            *weight = 1.0f;
    }
};

class EncoderMasks : public roi_block_masks
{
public:
    explicit EncoderMasks(roi_encoder &roi) : m_roi(roi) {}
    int get_boost(int component, int level, int *align, int *max_shift) override
    {
        return m_roi.get_boost(component, level, 0, align, max_shift);
    }
    int get_block_mask(int component, int level, int band, int rows, int columns, int first_row,
                       int first_column, int *shift, uint8_t **row_pointers) override
    {
        return m_roi.get_block_mask(component, level, band, rows, columns, first_row, first_column, shift,
                                    row_pointers);
    }
    void next_tile() override { m_roi.next_tile(); }

private:
    roi_encoder &m_roi;
};

class DecoderMasks : public roi_block_masks
{
public:
    explicit DecoderMasks(roi_decoder &roi) : m_roi(roi) {}
    int get_boost(int component, int, int *align, int *max_shift) override
    {
        if (align)
            *align = 0;
        return m_roi.get_boost(component, 0, 0, max_shift);
    }
    int get_block_mask(int component, int level, int band, int rows, int columns, int first_row,
                       int first_column, int *shift, uint8_t **row_pointers) override
    {
        return m_roi.get_block_mask(component, level, band, rows, columns, first_row, first_column, shift,
                                    row_pointers);
    }
    void next_tile() override { m_roi.next_tile(); }

private:
    roi_decoder &m_roi;
};
} // namespace

std::unique_ptr<block_coder_params> make_block_coder_params(forward_info &info)
{
    return std::make_unique<ForwardParams>(info);
}

std::unique_ptr<block_coder_params> make_block_coder_params(reverse_info &info)
{
    return std::make_unique<ReverseParams>(info);
}

std::unique_ptr<roi_block_masks> make_roi_block_masks(roi_encoder &roi)
{
    return std::make_unique<EncoderMasks>(roi);
}

std::unique_ptr<roi_block_masks> make_roi_block_masks(roi_decoder &roi)
{
    return std::make_unique<DecoderMasks>(roi);
}

} // namespace zn::j2k
