// Lookups in the generated tables, by binary search over sorted ranges.
#include "config/character_classes.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace {

struct code_range {
    std::uint32_t first, last;
};

/// Codes first to last, every stride-th, whose lower case is delta further.
struct case_range {
    std::uint32_t first, last;
    std::int32_t delta;
    std::uint32_t stride;
};

#include "config/character_class_tables.inc"

template <typename Range, std::size_t N>
const Range* range_holding(const Range (&ranges)[N], wchar_t c) {
    auto code = static_cast<std::uint32_t>(c);
    const Range* found = std::upper_bound(
        std::begin(ranges), std::end(ranges), code,
        [](std::uint32_t value, const Range& range) { return value < range.first; });
    if (found == std::begin(ranges) || code > (found - 1)->last)
        return nullptr;
    return found - 1;
}

} // namespace

const char* character_class_version() {
    return UNICODE_VERSION;
}

bool is_blank_character(wchar_t c) {
    return range_holding(BLANK_RANGES, c) != nullptr;
}

bool is_digit_character(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

bool is_letter_character(wchar_t c) {
    return range_holding(LETTER_RANGES, c) != nullptr;
}

bool is_letter_or_digit_character(wchar_t c) {
    return is_digit_character(c) || is_letter_character(c);
}

wchar_t lower_case_character(wchar_t c) {
    const case_range* range = range_holding(LOWER_CASE_RANGES, c);
    if (!range || (static_cast<std::uint32_t>(c) - range->first) % range->stride != 0)
        return c;
    return static_cast<wchar_t>(static_cast<std::int32_t>(c) + range->delta);
}
