#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace camsim {

// The camera's reading of a request target: "path?name=value&...".
class CQueryString {
public:
    struct Param {
        std::string name;
        std::string value;
    };

    // Path without a leading slash; query without the '?'.
    static void SplitTarget(std::string_view target, std::string* path, std::string* query);
    // Parameters in order, names and values percent-decoded ('+' stays).
    static std::vector<Param> Parse(std::string_view query);
    static std::string Decode(std::string_view text);
    // Decimal digits only, no sign, fits 32 bits.
    static bool ParseUnsigned(std::string_view text, uint32_t* value);
    // "W,H", "WxH" or a name: QCIF, CIF, 2CIF, 4CIF, QVGA, VGA.
    static bool ParseSize(std::string_view text, unsigned* width, unsigned* height);
    // "<prefix><digits><suffix>" -> the number; false otherwise.
    static bool ParseNumbered(std::string_view text, std::string_view prefix, std::string_view suffix,
                              uint32_t* number);
};

}  // namespace camsim
