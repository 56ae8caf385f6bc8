#pragma once
#include <cstdarg>
#include <cstdint>
#include <string>

namespace kestrel {

// printf-style formatting into a new string (measure, then format).
std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatStringV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
std::string FormatUnsigned(uint32_t value);

}  // namespace kestrel
