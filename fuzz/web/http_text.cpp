// The sender's own text handling on any bytes: the status line, decimal
// header values, WWW-Authenticate challenges, request targets and caller
// header lines. None may read outside its input, and each keeps its promise.
//
// Input: one selector byte, then the text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzInput.h"
#include "web/HttpText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t selector = data[0];
    const uint8_t* text = data + 1;
    const size_t n = size - 1;
    // A copy of exactly n bytes, so ASan sees any read past the end.
    std::string owned(reinterpret_cast<const char*>(text), n);
    const auto* bytes = reinterpret_cast<const uint8_t*>(owned.data());

    switch (selector % 5) {
    case 0: {
        const uint32_t code = Web::ParseStatusLine(bytes, n);
        FUZZ_CHECK(code <= 999);
        if (code != 0) FUZZ_CHECK(n >= 8 && owned.compare(0, 5, "HTTP/") == 0);
        break;
    }
    case 1: {
        uint32_t value = 0xFFFFFFFFu;
        if (Web::ParseDecimalU32(bytes, n, value)) {
            // The digits read back give the same number.
            std::string digits;
            for (char c : owned) {
                if (c >= '0' && c <= '9') digits += c;
            }
            FUZZ_CHECK(!digits.empty() && std::stoull(digits) == value);
        }
        break;
    }
    case 2: {
        const uint32_t scheme = Web::FirstAuthScheme(bytes, n);
        FUZZ_CHECK(scheme == 0 || scheme == 1 || scheme == 2 || scheme == 4 || scheme == 8 || scheme == 16);
        break;
    }
    case 3: {
        for (const bool unescaped : {false, true}) {
            const std::string target = Web::BuildRequestTarget(owned, unescaped);
            FUZZ_CHECK(!target.empty() && target[0] == '/');
            // Nothing that would end or split the request line goes out raw.
            for (char c : target) {
                const auto b = static_cast<uint8_t>(c);
                FUZZ_CHECK(b > 0x20 && b != 0x7F);
            }
        }
        break;
    }
    default: {
        std::string line;
        if (Web::NormalizeHeaderLine(owned, line)) {
            FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos && line.find('\0') == std::string::npos);
            const std::string name = Web::HeaderName(line);
            FUZZ_CHECK(!name.empty() && Web::IsHttpToken(name));
        }
        break;
    }
    }
    return 0;
}
