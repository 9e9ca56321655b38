#include "winsys/NumberText.h"

#include <limits>

namespace {

std::string_view TrimBlanks(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

// Sign and magnitude of one decimal number; no digits, stray characters or a magnitude
// beyond 2^32 give nothing.
bool SplitNumber(std::string_view s, bool& negative, uint64_t& magnitude) {
    s = TrimBlanks(s);
    negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return false;
    magnitude = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        magnitude = magnitude * 10 + static_cast<uint64_t>(c - '0');
        if (magnitude > (uint64_t{1} << 32)) return false;
    }
    return true;
}

}  // namespace

std::optional<int32_t> ParseIntText(std::string_view text) {
    bool negative;
    uint64_t magnitude;
    if (!SplitNumber(text, negative, magnitude)) return std::nullopt;
    int64_t value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(value);
}

std::optional<uint32_t> ParseUIntText(std::string_view text) {
    bool negative;
    uint64_t magnitude;
    if (!SplitNumber(text, negative, magnitude)) return std::nullopt;
    if (negative && magnitude != 0) return std::nullopt;
    if (magnitude > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    return static_cast<uint32_t>(magnitude);
}
