// Rows or columns of a rectangle in a row-major float plane, addressed alike, so that each step of a
// separable two-dimensional transform (QMF split and merge, block DCT, band regrouping) is written
// once for both directions.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

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

// Hands every line to op as a contiguous array of `length` samples that op may rewrite in place.
// Rows are handed over where they lie. Columns are copied out and back a batch at a time, walking
// the plane along its rows: a walk down one column would touch a new cache line, and soon a new
// page, at every sample. Either way op sees the same samples in the same order.
template <class Op> void ForEachLine(const PlaneLines &lines, std::vector<float> &buffer, Op op)
{
    if (lines.sampleStep == 1) {
        for (int l = 0; l < lines.count; ++l)
            op(&lines.At(l, 0));
        return;
    }
    constexpr int kBatch = 16;
    const size_t length = static_cast<size_t>(lines.length);
    buffer.resize(kBatch * length);
    for (int l0 = 0; l0 < lines.count; l0 += kBatch) {
        const int batch = std::min(kBatch, lines.count - l0);
        for (int i = 0; i < lines.length; ++i)
            for (int j = 0; j < batch; ++j)
                buffer[j * length + i] = lines.At(l0 + j, i);
        for (int j = 0; j < batch; ++j)
            op(&buffer[j * length]);
        for (int i = 0; i < lines.length; ++i)
            for (int j = 0; j < batch; ++j)
                lines.At(l0 + j, i) = buffer[j * length + i];
    }
}
