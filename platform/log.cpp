// The log sink: one process-wide function, silent until someone installs it.
#include "platform/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace zn {

namespace {
LogSink &Sink()
{
    static LogSink sink = []() -> LogSink {
        if (std::getenv("ZANTHO_LOG"))
            return [](LogLevel, const std::string &t) { std::fprintf(stderr, "%s\n", t.c_str()); };
        return {};
    }();
    return sink;
}
} // namespace

void Log(LogLevel level, const std::string &text)
{
    if (auto &s = Sink())
        s(level, text);
}

void LogF(LogLevel level, const char *fmt, ...)
{
    if (!Sink())
        return;
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::vector<char> buf(n > 0 ? static_cast<size_t>(n) + 1 : 1, '\0');
    std::vsnprintf(buf.data(), buf.size(), fmt, args);
    va_end(args);
    Log(level, buf.data());
}

LogSink SetLogSink(LogSink sink)
{
    LogSink previous = std::move(Sink());
    Sink() = std::move(sink);
    return previous;
}

} // namespace zn
