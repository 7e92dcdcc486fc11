// Engine diagnostics: what the coding engines would print on standard output and standard error.
// Silent by default; a test or a debugging session can install a sink.
#pragma once

#include <functional>
#include <string>

namespace zn {

enum class LogLevel { Info, Error };
using LogSink = std::function<void(LogLevel, const std::string &)>;

void Log(LogLevel level, const std::string &text);
void LogF(LogLevel level, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
LogSink SetLogSink(LogSink sink);

} // namespace zn
