// Progressive visual weights ("-Cvpw"): band weights that change with the bit-rate. Low layers are
// formed with the weights of the first files, higher layers with later ones, and layers above the
// last rate with none, so the first bytes favour what the eye sees first at low rates.
#pragma once

#include "jpeg2000/ebcot_encoder_records.h"

#include <memory>
#include <string>
#include <vector>

namespace zn::j2k {

struct vpw_entry
{
    float rate = 0.0f; // bits per pixel
    int32_t limit = 0; // bytes
    std::string file;
};

struct vpw_schedule
{
    std::vector<vpw_entry> entries; // increasing rate
    int in_force = -2;              // entry index; -1: none; -2: not applied yet
};

// The schedule is freed by vpw_free, which its handle calls.
void vpw_free(vpw_schedule *schedule);
struct vpw_deleter
{
    void operator()(vpw_schedule *schedule) const { vpw_free(schedule); }
};
using vpw_handle = std::unique_ptr<vpw_schedule, vpw_deleter>;

vpw_handle vpw_parse(int count, const char *const *params);
void vpw_set_limits(vpw_schedule &s, int32_t rows, int32_t columns, int32_t header_bytes);
// Puts the weights of the entry for layer target G into every band (its file has the syntax of the
// "-Fweights" factor files); true when they changed.
bool vpw_apply(vpw_schedule &s, std::vector<std::unique_ptr<enc_tile>> &tiles, int components,
               int32_t target);

} // namespace zn::j2k
