// Row-pointer tables: a flat plane, or a window inside a larger one, addressed as table[r][c] over
// any index ranges. The subband and DCT code walk subbands and blocks through them.
#include "image/numeric.h"

#include "platform/log.h"
#include "platform/messages.h"

#include <cstdint>
#include <new>

namespace {

long ElementBytes(int rep)
{
    return rep == IMG_REP_BYTE ? 1 : 4;
}

void **MakeTable(void *plane, int rep, long offset, long stride, int rl, int rh, int cl, const char *failText,
                 bool failToLog)
{
    if (rep != IMG_REP_BYTE && rep != IMG_REP_INT && rep != IMG_REP_FLOAT)
        return nullptr;
    if (rh < rl)
        return nullptr;
    void **t = new (std::nothrow) void *[rh - rl + 1];
    if (!t) {
        if (failToLog)
            zn::Log(zn::LogLevel::Info, failText);
        else
            zn::ShowMessage(failText);
        return nullptr;
    }
    const long es = ElementBytes(rep);
    const uintptr_t base = reinterpret_cast<uintptr_t>(plane);
    for (int r = rl; r <= rh; ++r) {
        long first = offset + static_cast<long>(r - rl) * stride - cl;
        t[r - rl] = reinterpret_cast<void *>(base + first * es);
    }
    // Shift the table itself so that t[rl] is its first entry.
    return reinterpret_cast<void **>(reinterpret_cast<uintptr_t>(t) - static_cast<long>(rl) * sizeof(void *));
}

} // namespace

void **IndexArray(void *plane, int rep, int rl, int rh, int cl, int ch)
{
    return MakeTable(plane, rep, 0, static_cast<long>(ch) - cl + 1, rl, rh, cl,
                     "IndexArray-Sorry allocation failure\n", false);
}

void **IndexSubArray(void *plane, int rep, long offset, long stride, int rl, int rh, int cl, int ch)
{
    if (stride < static_cast<long>(ch) - cl + 1)
        zn::Log(zn::LogLevel::Info, "IndexSubArray-Incompatible dimensions\n");
    return MakeTable(plane, rep, offset, stride, rl, rh, cl, "IndexSubArray-Sorry allocation failure\n",
                     true);
}

void FreeIndexArray(void **table, int rl)
{
    if (table)
        delete[] reinterpret_cast<void **>(reinterpret_cast<uintptr_t>(table) +
                                           static_cast<long>(rl) * sizeof(void *));
}
