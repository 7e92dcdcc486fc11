// Bit errors of the physical channel: independent errors, or the two-state Gilbert-Elliot channel
// whose fading state produces bursts. Every draw comes from the program's generator (0..32767), so a
// seeded run repeats exactly.
#include "mpeg/channel/wireless_channel.h"

#include "platform/random.h"

#include <climits>
#include <cmath>

namespace zn {

double UniformDraw()
{
    return Rand() / 32768.0;
}

bool RandomBitError(double p)
{
    return UniformDraw() < p;
}

bool GilbertElliotError(ChannelModel &c)
{
    const double u1 = UniformDraw();
    const double u2 = UniformDraw();
    if (c.state == 0) {
        if (u2 < c.d4)
            c.state = 1;
        return u1 < c.d2;
    }
    if (u2 < c.d3)
        c.state = 0;
    return u1 < c.d1;
}

int GeometricInterval(double p)
{
    const double u = UniformDraw();
    // A draw of exactly 0 is the far end of the distribution: an endless interval.
    if (u <= 0.0 || p <= 0.0)
        return INT_MAX;
    if (p >= 1.0)
        return 0;
    const double v = std::trunc(std::log(u) / std::log(1.0 - p));
    return v >= INT_MAX ? INT_MAX : static_cast<int>(v);
}

void ChannelBitErrors(uint8_t *errors, ChannelModel &c, int n)
{
    if (c.model == 2) {
        for (int i = 0; i < n; ++i)
            errors[i] = GilbertElliotError(c) ? 1 : 0;
    } else {
        for (int i = 0; i < n; ++i)
            errors[i] = RandomBitError(c.d1) ? 1 : 0;
    }
}

void GilbertElliotSteps(ChannelModel &c, int64_t steps)
{
    for (int64_t i = 0; i < steps; ++i)
        GilbertElliotError(c);
}

} // namespace zn
