// The engines' image record: one to three sample planes of bytes, 32-bit integers or floats,
// and the quality measures (mean, variance, MSE, SNR, PSNR) that every coding module reports.
#pragma once

#include <cstdint>

// Sequence types
constexpr int IMG_SEQ_MONO = 1; // one plane
constexpr int IMG_SEQ_YUV = 2;  // Y plane and two chroma planes of rows*cols/2 samples
constexpr int IMG_SEQ_RGB = 3;  // three full planes
// Representations
constexpr int IMG_REP_BYTE = 0;
constexpr int IMG_REP_INT = 1;
constexpr int IMG_REP_FLOAT = 2;

struct Img
{
    int32_t seqType = 0;
    int32_t rep = 0;
    void *plane[3] = {nullptr, nullptr, nullptr};
    int32_t reserved = 0;
    int32_t rows = 0;
    int32_t cols = 0;

    float *FloatPlane(int k = 0) const { return static_cast<float *>(plane[k]); }
    int32_t *IntPlane(int k = 0) const { return static_cast<int32_t *>(plane[k]); }
    uint8_t *BytePlane(int k = 0) const { return static_cast<uint8_t *>(plane[k]); }
};

// Makes *img a new record; planes are allocated when rows*cols is not 0.
void AllocImg(Img **img, int rows, int cols, int rep, int seqType);
// Frees the planes named by the sequence type, then the record. A null record is ignored.
void FreeImg(Img *img);

void MeanVari(float *mean, float *vari, const void *plane, int rep, long index, long count);
void MseSnr(float *mse, float *snr, const void *a, int repA, const void *b, int repB, long index, long count);
void CheckSelection(int *c1, int *c2, int *c3, int selection, int seqType1, int seqType2);
// Returns 0 when the PSNR was written, 1 when the first MSE is below 1e-10 (an error-free result).
int MseSnrImg(float mse[3], float snr[3], float *psnr, const Img *orig, const Img *recon, int selection);
