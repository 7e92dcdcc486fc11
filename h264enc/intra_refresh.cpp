// Random intra refresh (see the header).
#include "h264enc/intra_refresh.h"

#include "h264enc/coding_tools.h"
#include "platform/random.h"

#include <algorithm>
#include <new>

namespace h264enc {

long long &intra_refresh_walk()
{
    static long long walk = 0;
    return walk;
}

void intra_refresh_init(IntraRefresh &r, int width_mbs, int height_mbs, int per_picture)
{
    zn::SeedRand(1);
    r.mb_count = width_mbs * height_mbs;
    r.per_picture = per_picture;
    try {
        r.order.assign(static_cast<size_t>(std::max(r.mb_count, 0)), -1);
        r.current.assign(static_cast<size_t>(std::max(per_picture, 0)), -1);
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("intra_refresh_init: order");
    }
    for (int j = 0; j < r.mb_count; ++j) {
        int k;
        do
            k = zn::Rand() % r.mb_count;
        while (r.order[static_cast<size_t>(k)] != -1);
        r.order[static_cast<size_t>(k)] = j;
    }
}

void intra_refresh_next_picture(IntraRefresh &r)
{
    if (r.per_picture <= 0 || r.mb_count <= 0)
        return;
    long long &walk = intra_refresh_walk();
    walk += r.per_picture;
    for (int i = 0; i < r.per_picture; ++i)
        r.current[static_cast<size_t>(i)] = r.order[static_cast<size_t>((walk + i) % r.mb_count)];
}

int intra_refresh_forced(const IntraRefresh &r, int n)
{
    return std::find(r.current.begin(), r.current.end(), n) != r.current.end() && n >= 0 ? 1 : 0;
}

void intra_refresh_free(IntraRefresh &r)
{
    r = IntraRefresh();
}

} // namespace h264enc
