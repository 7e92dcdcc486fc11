// HiperLAN medium access: the users sharing the 20 Mbit/s medium each pick a slot of the time a
// packet of this stream may take; users who picked the same slot contend with random back-offs, the
// winner is served and the losers try again in the next slot. A packet that finds no slot is lost.
#include "mpeg/channel/wireless_channel.h"

#include "platform/random.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <iterator>
#include <vector>

namespace zn {

namespace {

// The medium's capacity in packets per packet period: 24094.11 kbit/s of user data.
constexpr double kMediumKbps = 24094.11;
constexpr int kMaxContenders = 10000;

} // namespace

int ContentionSlots(int kbps)
{
    // A stream that claims no bandwidth is treated as one of 1 kbit/s: any slot count is arbitrary then,
    // and this one keeps the packet served as a near-empty stream would be.
    return static_cast<int>(std::floor(kMediumKbps / std::max(kbps, 1)));
}

int ContentionWinner(int n)
{
    n = std::min(n, kMaxContenders);
    int best = INT_MIN, winner = 0;
    for (int i = 0; i < n; ++i) {
        const int v = GeometricInterval(0.5);
        if (v >= best) { // the later contender wins a tie
            best = v;
            winner = i;
        }
    }
    return winner;
}

int ContendForSlot(int users, int kbps)
{
    const int slots = ContentionSlots(kbps);
    users = std::max(users, 1);
    // Users by the slot they picked, each list in user order.
    std::vector<std::vector<int>> picked(static_cast<size_t>(std::max(slots, 1)));
    for (int u = 0; u < users; ++u) {
        const float r = static_cast<float>(Rand()) / 32768.0f;
        const int t = static_cast<int>(std::floor(r * static_cast<float>(slots)));
        picked[static_cast<size_t>(std::clamp(t, 0, std::max(slots - 1, 0)))].push_back(u);
    }
    int result = slots;                   // lost unless served
    std::vector<int> waiting, contenders; // losers moved on from the previous slot, in user order
    for (int t = 0; t < slots; ++t) {
        const std::vector<int> &fresh = picked[static_cast<size_t>(t)];
        contenders.clear();
        std::merge(waiting.begin(), waiting.end(), fresh.begin(), fresh.end(),
                   std::back_inserter(contenders));
        waiting.clear();
        if (contenders.empty())
            continue;
        const int w = ContentionWinner(static_cast<int>(contenders.size()));
        for (size_t i = 0; i < contenders.size(); ++i) {
            if (static_cast<int>(i) != w) {
                waiting.push_back(contenders[i]);
            } else if (contenders[i] == 0) {
                result = -1 - t; // the other users' slots still draw their back-offs
            }
        }
    }
    return result;
}

} // namespace zn
