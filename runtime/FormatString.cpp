#include "runtime/FormatString.h"

#include <cstdio>
#include <memory>
#include <new>

namespace kestrel {

std::string FormatStringV(const char* format, va_list args) {
    if (format == nullptr) return {};
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) return {};
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[static_cast<size_t>(length) + 1]);
    if (!buffer) return {};
    va_list produce;
    va_copy(produce, args);
    const int written = std::vsnprintf(buffer.get(), static_cast<size_t>(length) + 1, format, produce);
    va_end(produce);
    if (written < 0) return {};
    return std::string(buffer.get(), static_cast<size_t>(written < length ? written : length));
}

std::string FormatString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string result = FormatStringV(format, args);
    va_end(args);
    return result;
}

std::string FormatUnsigned(uint32_t value) { return FormatString("%u", value); }

}  // namespace kestrel
