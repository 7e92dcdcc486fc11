// Random intra refresh: a fixed pseudo-random order of all macroblocks of the picture, walked a group
// of RandomIntraMBRefresh macroblocks per picture, so that over successive pictures every macroblock
// is coded intra in turn and a decoder that lost something recovers. The walk is one counter of the
// process: a run that follows another goes on where that one stopped.
#pragma once

namespace h264enc {

struct IntraRefresh;

// Builds the order for a picture of the given size (the program's generator seeded with 1, so the
// order depends only on the size).
void intra_refresh_init(IntraRefresh &r, int width_mbs, int height_mbs, int per_picture);
// Advances the walk and takes the macroblocks of the next picture.
void intra_refresh_next_picture(IntraRefresh &r);
// 1 when macroblock n is forced intra in the current picture.
int intra_refresh_forced(const IntraRefresh &r, int n);
void intra_refresh_free(IntraRefresh &r);
// The process-wide walk position (for tests: set it to start from a known place).
long long &intra_refresh_walk();

} // namespace h264enc
