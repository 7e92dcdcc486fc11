// The decoder's array allocation: 2-D arrays are one zero-filled block of samples with a row table
// into it, 3-D and 4-D arrays are arrays of those. The arrays own their memory; every failed
// allocation ends the run through dec_out_of_memory_exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Rows of `cols` elements, one contiguous zero-filled block; a[r][c] as with a row-pointer array.
template <class T> class Array2D
{
public:
    Array2D() = default;
    Array2D(const Array2D &) = delete;
    Array2D &operator=(const Array2D &) = delete;
    Array2D(Array2D &&) noexcept = default; // the block moves with its row table, which stays valid
    Array2D &operator=(Array2D &&) noexcept = default;

    void Reset(int rows, int cols)
    {
        m_data.assign(static_cast<size_t>(rows) * static_cast<size_t>(cols), T{});
        m_rows.resize(static_cast<size_t>(rows));
        for (int r = 0; r < rows; ++r)
            m_rows[static_cast<size_t>(r)] =
                m_data.data() + static_cast<size_t>(r) * static_cast<size_t>(cols);
        m_cols = cols;
    }
    void Clear()
    {
        std::vector<T>().swap(m_data);
        std::vector<T *>().swap(m_rows);
        m_cols = 0;
    }
    bool HasRows() const { return !m_rows.empty(); }
    bool HasData() const { return !m_data.empty(); }
    int Rows() const { return static_cast<int>(m_rows.size()); }
    int Cols() const { return m_cols; }
    T *operator[](int r) { return m_rows[static_cast<size_t>(r)]; }
    const T *operator[](int r) const { return m_rows[static_cast<size_t>(r)]; }
    T *Data() { return m_data.data(); }
    const T *Data() const { return m_data.data(); }

private:
    std::vector<T> m_data;
    std::vector<T *> m_rows;
    int m_cols = 0;
};

template <class T> class Array3D
{
public:
    void Reset(int frames, int rows, int cols)
    {
        m_frames.clear();
        m_frames.resize(static_cast<size_t>(frames));
        for (auto &f : m_frames)
            f.Reset(rows, cols);
    }
    void Clear() { std::vector<Array2D<T>>().swap(m_frames); }
    bool HasFrames() const { return !m_frames.empty(); }
    int Frames() const { return static_cast<int>(m_frames.size()); }
    Array2D<T> &operator[](int f) { return m_frames[static_cast<size_t>(f)]; }
    const Array2D<T> &operator[](int f) const { return m_frames[static_cast<size_t>(f)]; }

private:
    std::vector<Array2D<T>> m_frames;
};

template <class T> class Array4D
{
public:
    void Reset(int n, int frames, int rows, int cols)
    {
        m_blocks.clear();
        m_blocks.resize(static_cast<size_t>(n));
        for (auto &b : m_blocks)
            b.Reset(frames, rows, cols);
    }
    void Clear() { std::vector<Array3D<T>>().swap(m_blocks); }
    bool HasBlocks() const { return !m_blocks.empty(); }
    int Count() const { return static_cast<int>(m_blocks.size()); }
    Array3D<T> &operator[](int i) { return m_blocks[static_cast<size_t>(i)]; }
    const Array3D<T> &operator[](int i) const { return m_blocks[static_cast<size_t>(i)]; }

private:
    std::vector<Array3D<T>> m_blocks;
};

// Largest total size, in bytes, that one array may take: beyond it an allocation is refused as
// out of memory before it is tried.
constexpr int64_t kMaxDecoderArrayBytes = int64_t(1) << 30;

// Each returns the bytes allocated (row tables included); failures end the run with
// "Could not allocate memory: " and the routine's name.
int dec_get_mem2D(Array2D<uint8_t> &array2D, int rows, int columns);
int dec_get_mem2Dint(Array2D<int> &array2D, int rows, int columns);
int dec_get_mem3D(Array3D<uint8_t> &array3D, int frames, int rows, int columns);
int dec_get_mem3Dint(Array3D<int> &array3D, int frames, int rows, int columns);
int dec_get_mem4Dint(Array4D<int> &array4D, int idx, int frames, int rows, int columns);

// Release an array; freeing one that holds nothing ends the run (code 100).
void dec_free_mem2D(Array2D<uint8_t> &array2D);
void dec_free_mem2Dint(Array2D<int> &array2D);
void dec_free_mem3D(Array3D<uint8_t> &array3D);
void dec_free_mem3Dint(Array3D<int> &array3D);
void dec_free_mem4Dint(Array4D<int> &array4D);

// "Could not allocate memory: <what>" in a message box, then the fatal exit with code 100.
[[noreturn]] void dec_out_of_memory_exit(const std::string &what);
