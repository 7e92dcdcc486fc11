// Subsampling engine: a windowed-sinc anti-alias filter, separable filtering with decimation, pixel
// repetition back to full size, and the periodic repetition of a spectrum that shows where the
// baseband of a subsampled image lands in the frequency plane of the original (aliasing).
// Plain routines on the engine records; the caller owns what they allocate.
#pragma once

#include "image/img.h"

struct Filt;
struct Spectrum;

// A symmetric low-pass FIR of odd length n with cut-off fc (cycles per sample), tapered by the
// window of MakeTapering, scaled to unit gain at frequency 0. *filt stays null on failure (an even
// or non-positive length, after a message).
void SsMakeFIR(Filt **filt, int n, float fc, int windowType);

// Filters plane 0 of `in` with the separable FIR and keeps every f-th sample of every f-th row:
// output sample (i, j) is centred on input sample (i f, j f), borders repeat the edge sample. `out`
// becomes rows/f x cols/f; its plane must hold that many samples. Both images byte (each pass clamps
// to 0..255 and truncates) or both float (unclamped); anything else is refused with a message.
void DemoSsImg(const Img *in, const Filt *filt, int f, Img *out);

// Float image: each sample becomes an f x f block; rows and cols grow by f. The plane must already
// hold f*f times the current sample count.
void SsBlowUpImg(Img *img, int f);

// The first (rows/f) x (cols/f) samples of both planes, read as a spectrum of that size, are
// repeated f x f times over the whole rows x cols record.
void SsRepeatSpectrum(Spectrum *spectrum, int f);
