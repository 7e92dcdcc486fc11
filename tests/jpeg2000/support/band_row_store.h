// Test double in the quantiser's place: keeps every band row pushed by the analysis and serves the
// rows back, in the same order, to the synthesis. An optional hook rounds or otherwise alters the
// float rows on the way (a quantiser stand-in).
#pragma once

#include "jpeg2000/wavelet_transform.h"

#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace zntest {

class BandRowStore : public zn::j2k::band_row_sink, public zn::j2k::band_row_source
{
public:
    using Key = std::tuple<int, int, int>; // component, level, band

    void push_int_row(const int32_t *row, int c, int l, int b, int n) override
    {
        m_int[{c, l, b}].emplace_back(row, row + n);
        m_order.push_back({c, l, b});
    }
    void push_float_row(const float *row, int c, int l, int b, int n) override
    {
        std::vector<float> r(row, row + n);
        if (float_hook)
            for (float &v : r)
                v = float_hook(v);
        m_float[{c, l, b}].push_back(r);
        m_order.push_back({c, l, b});
    }
    void pull_int_row(int32_t *row, int c, int l, int b, int n) override
    {
        auto &q = m_int[{c, l, b}];
        if (q.empty() || int(q.front().size()) != n)
            throw std::logic_error("band row pulled that was not pushed");
        std::copy(q.front().begin(), q.front().end(), row);
        q.pop_front();
    }
    void pull_float_row(float *row, int c, int l, int b, int n) override
    {
        auto &q = m_float[{c, l, b}];
        if (q.empty() || int(q.front().size()) != n)
            throw std::logic_error("band row pulled that was not pushed");
        std::copy(q.front().begin(), q.front().end(), row);
        q.pop_front();
    }

    // All rows of one band, for inspection.
    std::vector<std::vector<int32_t>> IntBand(int c, int l, int b) const
    {
        auto it = m_int.find({c, l, b});
        return it == m_int.end() ? std::vector<std::vector<int32_t>>{}
                                 : std::vector<std::vector<int32_t>>(it->second.begin(), it->second.end());
    }
    std::vector<std::vector<float>> FloatBand(int c, int l, int b) const
    {
        auto it = m_float.find({c, l, b});
        return it == m_float.end() ? std::vector<std::vector<float>>{}
                                   : std::vector<std::vector<float>>(it->second.begin(), it->second.end());
    }
    bool AllServed() const
    {
        for (auto &[k, q] : m_int)
            if (!q.empty())
                return false;
        for (auto &[k, q] : m_float)
            if (!q.empty())
                return false;
        return true;
    }

    std::function<float(float)> float_hook;

private:
    std::map<Key, std::deque<std::vector<int32_t>>> m_int;
    std::map<Key, std::deque<std::vector<float>>> m_float;
    std::vector<Key> m_order;
};

} // namespace zntest
