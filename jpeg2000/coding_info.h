// The coding parameters both halves of the codec ask about: the reference grid and its tiles, and per
// tile and component the decomposition levels, the structure of every level, its kernels, its
// SSO-DWT frames and every band's exponent and mantissa. The encoder's forward_info decides them
// from the options and the decoder's reverse_info rebuilds them from the code-stream; the
// accessors below are common to both and always answer for the current tile.
#pragma once

#include "jpeg2000/tile_partition.h"
#include "jpeg2000/wavelet_kernels.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zn::j2k {

inline constexpr char kInfoMemory[] = "FORWARD/REVERSE INFO OBJECT MEMORY";

// Selectors and directions of the kernel accessors.
constexpr int INFO__ANALYSIS = 1;
constexpr int INFO__SYNTHESIS = 2;
constexpr int INFO__HORIZONTAL = 4;
constexpr int INFO__VERTICAL = 8;

// A shift by 2^(levels - level) must fit, and the frame checks already stop deeper trees.
constexpr int kMaxInfoLevels = 32;
// A decomposition structure names at most 16 levels, 0-terminated.
constexpr int kMaxDescentValues = 16;

// rows, cols, top (y0), left (x0): the same four integers as a transform region.
using canvas_rect = region_rect;

// SSO-DWT frames of a level or band: sizes at that resolution, the anchors, and whether the level is
// transformed frame by frame in each direction.
struct frame_info
{
    int height = 1 << 28;
    int width = 1 << 28;
    int anchor_row = 0;
    int anchor_col = 0;
    int log2_height = 28;
    int log2_width = 28;
    int vert_sso = 0;
    int hor_sso = 0;
};

struct band_info
{
    int e = 0; // step exponent (reversible: range exponent)
    int m = 0; // 11-bit mantissa
    float distortion_weight = 1.0f;
    float nominal_gain = 1.0f;
    float nominal_range = 1.0f;
    float basis_norm = 1.0f;
    float visual_weight = 1.0f;
    bool visual_weight_applied = false; // the distortion weight already carries it
};

// Level 0 holds only the low-low band; level `levels` is the highest resolution. A level with descent
// d holds bands 4^(d-1) .. 4^d - 1.
struct level_info
{
    int hp_descent = 0;
    std::string hor_id, vert_id; // encoder only
    wavelet_kernel hor, vert;
    int hor_user = 0, vert_user = 0; // encoder only: the kernel came from a file
    frame_info frame;
    int first_band = 0;
    int last_band = 0;
    std::vector<band_info> bands; // last_band + 1 entries
};

struct component_info
{
    int index = 0;
    int hor_factor = 1;
    int vert_factor = 1;
    int precision = 8;
    int is_signed = 0;
    int levels = 5;
    int hp_descent[kMaxDescentValues + 1] = {1};
    std::vector<level_info> level; // levels + 1 records
    int reversible = 0;
    int frac_bits = 0; // K0: 0 when reversible, else 32 - precision - guard bits
    int guard_bits = 2;
    int implicit = 0;
    int vert_frames = 0;
    int hor_frames = 0;
    int frame_height = 1 << 28;
    int frame_width = 1 << 28;
    int anchor_row = 0;
    int anchor_col = 0;
    int log2_frame_height = 28;
    int log2_frame_width = 28;
    int vert_sso_levels = 0;
    int hor_sso_levels = 0;
    int overlap_t = 0, overlap_b = 0, overlap_l = 0, overlap_r = 0;
};

using component_array = std::vector<component_info>;

class coding_info
{
public:
    virtual ~coding_info() = default;

    int num_components() const { return m_num_components; }
    int num_tiles() const { return int(m_tiles.size()); }
    int current_tile() const { return m_current_tile; }

    // 0 when `tile` does not exist. Component -1 gives the tile on the grid with factors 1.
    int get_tile_info(int component, int tile, int *column, int *row, canvas_rect *rect, int *hor_factor,
                      int *vert_factor, int *signed_precision) const;
    // The current tile's tile-component, widened by its overlaps; returns the levels.
    int get_tile_component_info(int component, int *tile, canvas_rect *rect, int *reversible,
                                int *frac_bits) const;
    // Reset: tile 0, returns 4. Otherwise 0 past the last tile, 2 at the start of a tile row, else 1.
    virtual int next_tile(int reset);
    int get_level_info(int component, int level, canvas_rect *rect, int *hp_descent, frame_info *frame) const;
    // Returns the band's rows.
    int get_band_info(int component, int level, int band, canvas_rect *rect, frame_info *frame) const;
    // Returns the implementation type; the supports are those of the analysis or synthesis filters.
    int get_kernel_type(int direction, int selector, int component, int level, int *low_neg, int *low_pos,
                        int *high_neg, int *high_pos) const;
    // Centre taps of the two filters (encoder: analysis, decoder: synthesis); convolution kernels only.
    void get_convolution_taps(int direction, int component, int level, const float **low_centre,
                              const float **high_centre) const;
    int get_float_steps(int direction, int component, int level, int *neg, int *pos, const float **centres,
                        float *low_scale, float *high_scale) const;
    int get_int_steps(int direction, int component, int level, int *neg, int *pos, const int **centres,
                      int *downshifts) const;

    // The records behind the accessors, for the current tile (and checked like them).
    const component_info &tile_component(int component) const;
    const level_info &level_record(int component, int level) const;
    const band_info &band_record(int component, int level, int band) const;
    const wavelet_kernel &kernel(int direction, int component, int level) const;
    // Every band index of a level, in order (none for a level without splits).
    static std::vector<int> level_bands(const level_info &level);

protected:
    // Lays out the tiles on the grid; every tile starts on the global array.
    void BuildTiles(const canvas_tiling &c);
    // Level records from the component's levels, descent list and frames (kernels not yet loaded).
    static void build_level_records(component_info &ci, int kernel_type);
    const component_array &TileArray(int tile) const;
    const component_info &Component(int tile, int component) const;
    int KernelTypeFor(const component_info &ci) const;
    void CheckCurrentTile() const;
    const level_info &Level(int component, int level) const;
    const wavelet_kernel &Kernel(int direction, int component, int level) const;

    struct tile_record : tile_info
    {
        int array = 0;     // index into m_arrays; 0 the global array
        bool read = false; // decoder: the tile's own elements have been examined
    };

    int m_num_components = 0;
    canvas_tiling m_canvas;
    int m_tile_rows = 0, m_tile_columns = 0;
    std::vector<tile_record> m_tiles;
    std::vector<component_array> m_arrays; // [0] the global array, then one per tile with its own
    int m_current_tile = 0;
    bool m_convolution = false;    // "-Fconv"
    bool m_synthesis_taps = false; // the decoder hands out synthesis filters
};

} // namespace zn::j2k
