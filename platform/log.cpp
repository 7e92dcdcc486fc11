// The log sink: one process-wide function, silent until someone installs it.
#include "platform/log.h"

#include "platform/format.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

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
    std::string text = FormatV(fmt, args);
    va_end(args);
    Log(level, text);
}

LogSink SetLogSink(LogSink sink)
{
    LogSink previous = std::move(Sink());
    Sink() = std::move(sink);
    return previous;
}

} // namespace zn
