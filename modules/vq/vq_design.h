// Codebook design by the generalized Lloyd algorithm: the training vectors are the picture's
// non-overlapping w x h blocks; each pass assigns every block to its nearest code vector and moves
// each code vector to the mean of its blocks, until the mean squared error settles. One codebook per
// rate of the range goes into the codebook image.
#pragma once

#include <functional>
#include <string>

struct Img;
class ZnImage;

// The design log: called with the whole log text whenever it changes (a dialog shows it and scrolls
// to its end).
using VqDesignLog = std::function<void(const std::string &text)>;

// Initialisation of the code vectors at each rate.
inline constexpr int kVqInitConstant = 1; // N flat vectors evenly spread over 0..255
inline constexpr int kVqInitRandom = 2;   // random components, the generator reseeded from the clock

// Designs rates rmin..rmax of w x h vectors on the training image and writes the codebook image
// (sized, zeroed, headed). Parameters outside the design's range, a training image without one
// complete block and exhausted memory end the run with zn::RunAborted; the codebook image is then
// left empty.
void VqCodebookDesign(const Img *train, ZnImage *codebook, int w, int h, int rmin, int rmax, int initType,
                      float threshold, int maxIterations, const VqDesignLog &log);
