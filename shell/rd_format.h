// printf-style formatting that always uses the C locale, whatever LC_NUMERIC the user runs with.
// R(D) reports and PostScript files are read by other programs: "2.50" must never become "2,50".
#pragma once

#include <cstdarg>
#include <string>

namespace zn {

std::string CFormat(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string CFormatV(const char *fmt, va_list args) __attribute__((format(printf, 1, 0)));

} // namespace zn
