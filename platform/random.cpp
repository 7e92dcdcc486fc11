// A linear congruential generator with the classic constants 214013 / 2531011, returning bits 16..30.
// Its range is exactly 0..32767 on every platform, unlike the C library's rand() here.
#include "platform/random.h"

#include <chrono>
#include <optional>

namespace zn {

namespace {
uint32_t g_state = 1;
std::optional<uint32_t> g_pinned;
} // namespace

int Rand()
{
    g_state = g_state * 214013u + 2531011u;
    return static_cast<int>((g_state >> 16) & 0x7fff);
}

void SeedRand(uint32_t seed) { g_state = seed; }

void SeedRandFromClock()
{
    if (g_pinned) {
        g_state = *g_pinned;
        return;
    }
    auto now = std::chrono::system_clock::now().time_since_epoch();
    g_state = static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

void PinRandSeed(uint32_t seed) { g_pinned = seed; }
void UnpinRandSeed() { g_pinned.reset(); }

} // namespace zn
