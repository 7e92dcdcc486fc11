// The round-trip table's machinery, shared by the table programs: one row per coding choice, a pan over
// the colour photograph (whole-sample and 1.5-sample speeds) coded by the encoding run with a
// reconstruction file and decoded by the decoder's own run. Per row the files must be equal byte for
// byte, the stream must hold one picture per coded picture with the slices the row names, ffmpeg's
// PSNR of the reconstruction must equal the run's SNR lines, and the reported total must be the
// stream's bits without its parameter sets. A row whose settings the encoder refuses names the message.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace rtcheck {

struct RoundTripRow
{
    const char *name;
    int width = 176, height = 144, frames = 9;
    std::vector<std::string> settings; // lines after the dialog's, overriding them
    // What the stream must show for the row to test what it names: these slice types among its
    // slices (7 I, 5 P, 6 B, 8 SP), and whether pictures hold several slices.
    std::vector<int> slice_types = {};
    bool several_slices = false;
    const char *filter = ""; // a further ffmpeg filter on the pan (its own pan files)
    // The run must end with this message instead (nothing else is checked).
    const char *refused = nullptr;
    int slices_per_picture = 0; // exact count of every picture when not 0
    int idr_pictures = 1;       // pictures coded as IDR units
    // Picture-adaptive frame/field coding must choose frames and field pairs both in the row's runs.
    bool both_forms = false;
    // A fault that keeps the row from passing, and where it lies: the row is skipped with this text.
    const char *known_fault = nullptr;
};

inline void PrintTo(const RoundTripRow &r, std::ostream *os)
{
    *os << r.name;
}

// The whole check of a row (both pans; the test skips without ffmpeg or the photograph).
void RunRoundTripRow(const RoundTripRow &row);

} // namespace rtcheck
