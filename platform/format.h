// printf-style formatting into a std::string, always in the C locale whatever LC_NUMERIC the user runs
// with: messages, reports, tables and PostScript are read by people and programs that expect "2.50",
// never "2,50".
#pragma once

#include <cstdarg>
#include <string>

namespace zn {

std::string Format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char *fmt, va_list args) __attribute__((format(printf, 1, 0)));

} // namespace zn
