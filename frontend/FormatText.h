// printf-style formatting into a std::string, for the texts the front ends
// build from numbers.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string FormatText(const char* format, ...) {
    char buf[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return buf;
}
