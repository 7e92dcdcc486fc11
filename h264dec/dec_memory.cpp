// Allocation of the decoder's arrays and the out-of-memory exit that every decoder allocation uses.
// Sizes are checked before anything is allocated, so a damaged stream cannot ask for a block that
// would overflow the size arithmetic.
#include "h264dec/dec_memory.h"

#include "h264dec/h264_shared.h"
#include "platform/format.h"
#include "platform/messages.h"

#include <new>

namespace {

// Bytes of a 2-D array: its row table plus its block.
int64_t Bytes2D(int64_t rows, int64_t cols, size_t elem)
{
    return rows * static_cast<int64_t>(sizeof(void *)) + rows * cols * static_cast<int64_t>(elem);
}

// The size of an array of `outer` parts of `inner` bytes, or -1 when it is negative or too large.
int64_t Checked(int64_t outer, int64_t inner, size_t pointerTable)
{
    if (outer < 0 || inner < 0)
        return -1;
    if (inner > 0 && outer > kMaxDecoderArrayBytes / inner)
        return -1;
    const int64_t total = outer * inner + outer * static_cast<int64_t>(pointerTable);
    return total > kMaxDecoderArrayBytes ? -1 : total;
}

template <class F> int Allocate(int64_t bytes, const char *what, F &&allocate)
{
    if (bytes < 0)
        dec_out_of_memory_exit(what);
    try {
        allocate();
    } catch (const std::bad_alloc &) {
        dec_out_of_memory_exit(what);
    }
    return static_cast<int>(bytes);
}

int64_t Size2D(int rows, int cols, size_t elem)
{
    if (rows < 0 || cols < 0)
        return -1;
    const int64_t row = static_cast<int64_t>(cols) * static_cast<int64_t>(elem);
    if (Checked(rows, row, sizeof(void *)) < 0)
        return -1;
    return Bytes2D(rows, cols, elem);
}

int64_t Size3D(int frames, int rows, int cols, size_t elem)
{
    const int64_t one = Size2D(rows, cols, elem);
    return one < 0 ? -1 : Checked(frames, one, sizeof(void *));
}

// Freeing an array that holds nothing is a fault of the caller's bookkeeping: the run ends.
template <class A> void FreeArray(A &array, bool inUse, const char *message)
{
    if (!inUse)
        h264_fatal_error(message, 100);
    array.Clear();
}

} // namespace

int dec_get_mem2D(Array2D<uint8_t> &array2D, int rows, int columns)
{
    return Allocate(Size2D(rows, columns, 1), "dec_get_mem2D: array2D",
                    [&] { array2D.Reset(rows, columns); });
}

int dec_get_mem2Dint(Array2D<int> &array2D, int rows, int columns)
{
    return Allocate(Size2D(rows, columns, sizeof(int)), "dec_get_mem2Dint: array2D",
                    [&] { array2D.Reset(rows, columns); });
}

int dec_get_mem3D(Array3D<uint8_t> &array3D, int frames, int rows, int columns)
{
    return Allocate(Size3D(frames, rows, columns, 1), "dec_get_mem3D: array3D",
                    [&] { array3D.Reset(frames, rows, columns); });
}

int dec_get_mem3Dint(Array3D<int> &array3D, int frames, int rows, int columns)
{
    return Allocate(Size3D(frames, rows, columns, sizeof(int)), "dec_get_mem3Dint: array3D",
                    [&] { array3D.Reset(frames, rows, columns); });
}

int dec_get_mem4Dint(Array4D<int> &array4D, int idx, int frames, int rows, int columns)
{
    const int64_t one = Size3D(frames, rows, columns, sizeof(int));
    const int64_t bytes = one < 0 ? -1 : Checked(idx, one, sizeof(void *));
    return Allocate(bytes, "dec_get_mem4Dint: array4D", [&] { array4D.Reset(idx, frames, rows, columns); });
}

void dec_free_mem2D(Array2D<uint8_t> &array2D)
{
    FreeArray(array2D, array2D.HasRows() && array2D.HasData(),
              "dec_free_mem2D: trying to free unused memory");
}

void dec_free_mem2Dint(Array2D<int> &array2D)
{
    FreeArray(array2D, array2D.HasRows() && array2D.HasData(),
              "dec_free_mem2D: trying to free unused memory");
}

void dec_free_mem3D(Array3D<uint8_t> &array3D)
{
    FreeArray(array3D, array3D.HasFrames(), "dec_free_mem3D: trying to free unused memory");
}

void dec_free_mem3Dint(Array3D<int> &array3D)
{
    FreeArray(array3D, array3D.HasFrames(), "dec_free_mem3D: trying to free unused memory");
}

void dec_free_mem4Dint(Array4D<int> &array4D)
{
    FreeArray(array4D, array4D.HasBlocks(), "dec_free_mem3D: trying to free unused memory");
}

void dec_out_of_memory_exit(const std::string &what)
{
    const std::string text = zn::Format("Could not allocate memory: %s", what.c_str()).substr(0, 299);
    zn::ShowMessage(text, zn::MsgButtons::Ok, zn::MsgIcon::Error);
    h264_fatal_error(text, 100);
}
