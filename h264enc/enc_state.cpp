// The picture record's slices.
#include "h264enc/enc_state.h"

namespace h264enc {

void free_picture_slices(Picture &pic)
{
    pic.slices.clear();
    pic.no_slices = 0;
}

} // namespace h264enc
