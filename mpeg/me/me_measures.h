// What the motion estimation module measures and shows for every frame: how much the picture varies,
// how much the plain frame difference and the motion-compensated difference leave to code, the
// vector field drawn over the prediction, and how many bits the field itself would cost.
#pragma once

#include "image/img.h"
#include "image/tables.h"

// Variance of the interior samples of a bordered float frame (mean of squares minus squared mean).
double MeImageVariance(const Img *frame, int border);
// out (interior size) = current - previous + 127; returns the mean squared difference.
double MeFrameDiff(const Img *cur, const Img *prev, Img *out, int border);
// pred(x, y) = previous(x + A, y + B) with (A, B) the vector of the block holding (x, y); diff =
// current - pred + 127 (both of interior size); returns the mean squared difference.
// True when the field has both vector planes, a positive size and a known representation.
bool FieldUsable(const VF *vf);

double MeMcFrameDiff(const Img *cur, const Img *prev, const VF *vf, Img *pred, Img *diff, int border);
// Draws each vector as a white line from its block's centre, shortened until it ends inside the image,
// with a black dot on the centre.
void MeDrawVectorField(Img *image, const VF *vf);
// Entropy in bits of the differences between consecutive vectors (raster order), both components
// pooled.
double MeVectorEntropy(const VF *vf);
