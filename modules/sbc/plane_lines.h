// Rows or columns of a rectangle in a row-major float plane, addressed alike, so that each step of a
// separable two-dimensional transform (QMF split and merge, block DCT, band regrouping) is written
// once for both directions.
#pragma once

struct PlaneLines
{
    float *plane = nullptr;
    long first = 0;      // sample 0 of line 0
    int count = 0;       // lines
    int length = 0;      // samples per line
    long lineStep = 0;   // from one line to the next
    long sampleStep = 0; // from one sample to the next along a line

    float &At(int line, int i) const { return plane[first + line * lineStep + i * sampleStep]; }
};

// The rows x cols rectangle starting at sample first of a plane stride samples wide, line by row ...
inline PlaneLines RowsOf(float *plane, long stride, long first, int rows, int cols)
{
    return {plane, first, rows, cols, stride, 1};
}

// ... or line by column.
inline PlaneLines ColumnsOf(float *plane, long stride, long first, int rows, int cols)
{
    return {plane, first, cols, rows, 1, stride};
}
