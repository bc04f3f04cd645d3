// The four character sets built into the converter, one column each, indexed
// by CP/M code.
#pragma once

#include <array>
#include <cwchar>

constexpr int CPM_CODE_COUNT = 256;
constexpr int BUILTIN_CHARSET_COUNT = 4;

/// Columns of builtin_charsets. VT52 is the default set.
enum builtin_charset_column {
    CHARSET_VT52 = 0,
    CHARSET_ASCII = 1,
    CHARSET_LATIN1 = 2,
    CHARSET_VORBIX = 3,
};

/// One cell: 0 when the set has no character for the code, otherwise the one
/// character (a Unicode code point) that the code stands for.
using builtin_cell = wchar_t;
using builtin_charset_rows =
    std::array<std::array<builtin_cell, BUILTIN_CHARSET_COUNT>, CPM_CODE_COUNT>;

namespace builtin_charset_detail {

// Graphics characters for the control rows of "vt52" (rows 1-31) and
// "vorbix" (rows 0-31 and 127). The lookups pass control codes through
// unchanged, so these cells never reach a conversion.
constexpr wchar_t CONTROL_ROW_GRAPHICS[33] = {
    0x00B7, 0x2588, 0x258C, 0x2590, 0x2580, 0x2584, 0x2591, 0x2592, 0x2593, 0x2500, 0x2502,
    0x250C, 0x2510, 0x2514, 0x2518, 0x253C, 0x251C, 0x2524, 0x252C, 0x2534, 0x2190, 0x2191,
    0x2192, 0x2193, 0x00B0, 0x00B1, 0x2080, 0x2081, 0x2082, 0x2083, 0x2084, 0x00B6, 0x25C6,
};

// Rows 128-159 of "vorbix".
constexpr wchar_t VORBIX_HIGH_CONTROL_ROWS[32] = {
    0x20AC, 0x2260, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x0132, 0x017D, 0x2264, 0x2265, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x0133, 0x017E, 0x0178,
};

constexpr wchar_t EN_DASH = 0x2013;

constexpr builtin_charset_rows make_builtin_charsets() {
    builtin_charset_rows rows{};
    for (int code = 32; code <= 126; ++code)
        for (int column = 0; column < BUILTIN_CHARSET_COUNT; ++column)
            rows[code][column] = static_cast<wchar_t>(code);
    for (int code = 1; code <= 31; ++code)
        rows[code][CHARSET_VT52] = CONTROL_ROW_GRAPHICS[code];
    for (int code = 0; code <= 31; ++code)
        rows[code][CHARSET_VORBIX] = CONTROL_ROW_GRAPHICS[code];
    rows[127][CHARSET_VORBIX] = CONTROL_ROW_GRAPHICS[32];
    for (int code = 128; code <= 159; ++code)
        rows[code][CHARSET_VORBIX] = VORBIX_HIGH_CONTROL_ROWS[code - 128];
    for (int code = 160; code <= 255; ++code) {
        // Row 173 holds the en dash, not the soft hyphen of ISO 8859-1.
        wchar_t character = code == 173 ? EN_DASH : static_cast<wchar_t>(code);
        rows[code][CHARSET_LATIN1] = character;
        rows[code][CHARSET_VORBIX] = character;
    }
    return rows;
}

} // namespace builtin_charset_detail

/// The built-in sets: row = CP/M code, column = builtin_charset_column.
inline constexpr builtin_charset_rows builtin_charsets =
    builtin_charset_detail::make_builtin_charsets();

/// The names by which the configuration selects each column, in column order.
inline constexpr const wchar_t* BUILTIN_CHARSET_NAMES[BUILTIN_CHARSET_COUNT] = {
    L"vt52",
    L"ascii",
    L"latin1",
    L"vorbix",
};
