// C-locale printf: the calling thread switches to a "C" locale object for the one call (uselocale is
// per-thread, so other threads and the process locale are left alone).
#include "platform/format.h"

#include <cstdio>
#include <locale.h>

namespace zn {

namespace {
locale_t CLocale()
{
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

class ScopedCLocale
{
public:
    ScopedCLocale() : m_old(CLocale() ? uselocale(CLocale()) : static_cast<locale_t>(nullptr)) {}
    ~ScopedCLocale()
    {
        if (m_old)
            uselocale(m_old);
    }
    ScopedCLocale(const ScopedCLocale &) = delete;
    ScopedCLocale &operator=(const ScopedCLocale &) = delete;

private:
    locale_t m_old;
};
} // namespace

std::string FormatV(const char *fmt, va_list args)
{
    ScopedCLocale guard;
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, args);
        out.resize(static_cast<size_t>(n));
    }
    return out;
}

std::string Format(const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::string out = FormatV(fmt, args);
    va_end(args);
    return out;
}

} // namespace zn
