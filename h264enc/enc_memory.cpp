// Array allocation of the encoder. Sizes are checked before any allocation, so a negative or
// overflowing size ends the run with the allocating routine's text instead of corrupting memory.
#include "h264enc/enc_memory.h"

#include "h264dec/h264_shared.h"

#include <new>

namespace h264enc {

void out_of_memory_exit(const std::string &what)
{
    h264_fatal_error("Could not allocate memory: " + what, 100);
}

long long CheckedBytes(long long rows, long long cols, long long element)
{
    if (rows < 0 || cols < 0 || element <= 0)
        return -1;
    const long long bytes = rows * cols * element;
    if (cols != 0 && rows > (1LL << 31) / (cols * element))
        return -1;
    if (bytes > 0x7fffffffLL)
        return -1;
    return bytes;
}

template <class T> void Array2D<T>::allocate(int rows, int cols, const std::string &what)
{
    if (CheckedBytes(rows, cols, sizeof(T)) < 0)
        out_of_memory_exit(what);
    try {
        std::vector<T> data(static_cast<size_t>(rows) * static_cast<size_t>(cols), T{});
        m_data.swap(data);
    } catch (const std::bad_alloc &) {
        out_of_memory_exit(what);
    }
    m_rows = rows;
    m_cols = cols;
}

template <class T> void Array3D<T>::allocate(int frames, int rows, int cols, const std::string &what)
{
    if (CheckedBytes(static_cast<long long>(frames) * rows, cols, sizeof(T)) < 0)
        out_of_memory_exit(what);
    try {
        m_planes.assign(static_cast<size_t>(frames), Array2D<T>());
    } catch (const std::bad_alloc &) {
        out_of_memory_exit(what);
    }
    for (auto &p : m_planes)
        p.allocate(rows, cols, what);
}

template class Array2D<uint8_t>;
template class Array2D<int>;
template class Array3D<uint8_t>;
template class Array3D<int>;

int get_mem2D(Array2D<uint8_t> &array, int rows, int cols)
{
    array.allocate(rows, cols, "get_mem2D: array2D");
    return rows * cols;
}

int get_mem2Dint(Array2D<int> &array, int rows, int cols)
{
    array.allocate(rows, cols, "get_mem2Dint: array2D");
    return rows * cols * static_cast<int>(sizeof(int));
}

int get_mem3D(Array3D<uint8_t> &array, int frames, int rows, int cols)
{
    array.allocate(frames, rows, cols, "get_mem3D: array3D");
    return frames * rows * cols;
}

int get_mem3Dint(Array3D<int> &array, int frames, int rows, int cols)
{
    array.allocate(frames, rows, cols, "get_mem3Dint: array3D");
    return frames * rows * cols * static_cast<int>(sizeof(int));
}

int get_mem4Dint(std::vector<Array3D<int>> &array, int d1, int d2, int d3, int d4)
{
    if (d1 < 0 || CheckedBytes(static_cast<long long>(d1) * d2 * d3, d4, sizeof(int)) < 0)
        out_of_memory_exit("get_mem4Dint: array4D");
    try {
        array.assign(static_cast<size_t>(d1), Array3D<int>());
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("get_mem4Dint: array4D");
    }
    for (auto &a : array)
        a.allocate(d2, d3, d4, "get_mem4Dint: array4D");
    return d1 * d2 * d3 * d4 * static_cast<int>(sizeof(int));
}

void free_mem2D(Array2D<uint8_t> &array)
{
    if (array.empty())
        h264_fatal_error("free_mem2D: trying to free unused memory", 100);
    array.clear();
}

void free_mem2Dint(Array2D<int> &array)
{
    if (array.empty())
        h264_fatal_error("free_mem2D: trying to free unused memory", 100);
    array.clear();
}

void free_mem3D(Array3D<uint8_t> &array)
{
    if (array.empty())
        h264_fatal_error("free_mem3D: trying to free unused memory", 100);
    array.clear();
}

void free_mem3Dint(Array3D<int> &array)
{
    if (array.empty())
        h264_fatal_error("free_mem3D: trying to free unused memory", 100);
    array.clear();
}

} // namespace h264enc
