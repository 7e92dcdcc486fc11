// Memory of the encoder: zero-filled 2-D, 3-D and 4-D arrays whose rows lie in one block, as the
// encoder's coding tools index them ([frame][row][column]), and the out-of-memory exit. The arrays own
// their storage, so a run that ends early frees everything on the way out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace h264enc {

// Ends the run with "Could not allocate memory: <what>" (code 100). Never returns.
[[noreturn]] void out_of_memory_exit(const std::string &what);

// rows x cols elements in raster order; row r starts r x cols elements after row 0.
template <class T> class Array2D
{
public:
    bool empty() const { return m_data.empty(); }
    int rows() const { return m_rows; }
    int cols() const { return m_cols; }
    T *operator[](int r) { return m_data.data() + static_cast<size_t>(r) * static_cast<size_t>(m_cols); }
    const T *operator[](int r) const
    {
        return m_data.data() + static_cast<size_t>(r) * static_cast<size_t>(m_cols);
    }
    T *data() { return m_data.data(); }
    const T *data() const { return m_data.data(); }
    void clear()
    {
        m_data.clear();
        m_data.shrink_to_fit();
        m_rows = m_cols = 0;
    }
    // Zero-filled; a size that cannot be held ends the run through out_of_memory_exit(what).
    void allocate(int rows, int cols, const std::string &what);

private:
    std::vector<T> m_data;
    int m_rows = 0, m_cols = 0;
};

// frames 2-D arrays of rows x cols.
template <class T> class Array3D
{
public:
    bool empty() const { return m_planes.empty(); }
    int frames() const { return static_cast<int>(m_planes.size()); }
    Array2D<T> &operator[](int f) { return m_planes[static_cast<size_t>(f)]; }
    const Array2D<T> &operator[](int f) const { return m_planes[static_cast<size_t>(f)]; }
    void clear() { m_planes.clear(); }
    void allocate(int frames, int rows, int cols, const std::string &what);

private:
    std::vector<Array2D<T>> m_planes;
};

// The allocation routines of the coding tools. Each fills the array with zeros and returns the bytes
// allocated; a failure ends the run with the routine's own text.
int get_mem2D(Array2D<uint8_t> &array, int rows, int cols);
int get_mem2Dint(Array2D<int> &array, int rows, int cols);
int get_mem3D(Array3D<uint8_t> &array, int frames, int rows, int cols);
int get_mem3Dint(Array3D<int> &array, int frames, int rows, int cols);
int get_mem4Dint(std::vector<Array3D<int>> &array, int d1, int d2, int d3, int d4);

// Release what the matching get made. Releasing an array that holds nothing is a fault of the caller
// and ends the run ("free_mem2D: trying to free unused memory", code 100).
void free_mem2D(Array2D<uint8_t> &array);
void free_mem2Dint(Array2D<int> &array);
void free_mem3D(Array3D<uint8_t> &array);
void free_mem3Dint(Array3D<int> &array);

// The byte count rows x cols x element, or -1 when it would not fit an int (or a size is negative).
long long CheckedBytes(long long rows, long long cols, long long element);

} // namespace h264enc
