#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

namespace rqm5 {

inline bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

inline std::uint32_t HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<std::uint32_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<std::uint32_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<std::uint32_t>(c - 'a' + 10);
    return 0;
}

// Hexadecimal text (record fields, address boxes) reads as an unsigned number from its leading
// hexadecimal digits, in either case; a text without a leading digit reads as 0. A value too large
// for 32 bits saturates, so that an over-long text can never wrap round into a valid address.
inline std::uint32_t ReadHexPrefix(std::string_view text) {
    std::uint64_t value = 0;
    for (char c : text) {
        if (!IsHexDigit(c)) break;
        value = value * 16 + HexDigitValue(c);
        if (value > std::numeric_limits<std::uint32_t>::max()) {
            return std::numeric_limits<std::uint32_t>::max();
        }
    }
    return static_cast<std::uint32_t>(value);
}

// The field of `length` characters at `offset` (counted from 0); characters past the end of the
// text are simply absent, so a cut field reads only the digits that are there.
inline std::uint32_t ReadHexField(std::string_view text, std::size_t offset, std::size_t length) {
    if (offset >= text.size()) return 0;
    return ReadHexPrefix(text.substr(offset, length));
}

}  // namespace rqm5
