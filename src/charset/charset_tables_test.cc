// The lookups in both directions under the built-in sets and configured
// entries, and the reverse index against the plain search.
#include "charset/charset_tables.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>

namespace {

wchar_t* text(const wchar_t* value) {
    auto* copy = static_cast<wchar_t*>(std::malloc((std::wcslen(value) + 1) * sizeof(wchar_t)));
    std::wcscpy(copy, value);
    return copy;
}

// A starting state: the sets of both tables, plus configured entries.
struct charset_setup {
    int primary = CHARSET_VT52;
    int alternate = CHARSET_VT52;
    bool use_alternate = false;
    const wchar_t* substitute = nullptr;
    struct entry {
        int code;
        const wchar_t* value;
        bool alternate;
    };
    std::vector<entry> entries;
};

void apply(const charset_setup& setup) {
    reset_charsets_for_testing();
    for (const auto& entry : setup.entries)
        (entry.alternate ? alt_charset_table : charset_table)[entry.code] = text(entry.value);
    if (setup.substitute)
        unprintable_char = text(setup.substitute);
    fill_charset_table(charset_table, setup.primary);
    fill_charset_table(alt_charset_table, setup.alternate);
    use_alt_charset = setup.use_alternate ? 1 : 0;
}

enum direction { TO_HOST, TO_CPM };

struct lookup_case {
    const char* name;
    charset_setup setup;
    direction way;
    int from;
    int expected;
};

PRINTS_AS_ITS_NAME(lookup_case)

class Lookup : public testing::TestWithParam<lookup_case> {};

TEST_P(Lookup, GivesTheCharacterOrCode) {
    const lookup_case& c = GetParam();
    apply(c.setup);
    if (c.way == TO_HOST) {
        EXPECT_EQ(cpm_to_host_char(c.from), c.expected);
    } else {
        EXPECT_EQ(host_to_cpm_char(static_cast<wchar_t>(c.from)), c.expected);
        EXPECT_EQ(host_to_cpm_char_by_search(static_cast<wchar_t>(c.from)), c.expected);
    }
}

const charset_setup DEFAULT{};
const charset_setup LATIN1{CHARSET_LATIN1, CHARSET_VT52, false, nullptr, {}};
const charset_setup VORBIX{CHARSET_VORBIX, CHARSET_VT52, false, nullptr, {}};
const charset_setup LATIN1_WITH_SUBSTITUTE{CHARSET_LATIN1, CHARSET_VT52, false, L"?", {}};
const charset_setup ENTRY_65_IS_X{CHARSET_VT52, CHARSET_VT52, false, nullptr, {{65, L"x", false}}};
const charset_setup ENTRY_1_IS_E_ACUTE{
    CHARSET_VT52, CHARSET_VT52, false, nullptr, {{1, L"\u00e9", false}}};
const charset_setup EMPTY_ENTRY_200{
    CHARSET_VT52, CHARSET_VT52, false, nullptr, {{200, L"", false}}};
const charset_setup SUBSTITUTE{CHARSET_VT52, CHARSET_VT52, false, L"?", {}};
const charset_setup EMPTY_SUBSTITUTE{CHARSET_VT52, CHARSET_VT52, false, L"", {}};
const charset_setup ALT_ASCII{CHARSET_LATIN1, CHARSET_ASCII, true, nullptr, {}};
const charset_setup ALT_ENTRY{CHARSET_VT52, CHARSET_VT52, true, nullptr, {{66, L"y", true}}};
const charset_setup ENTRY_IN_OTHER_TABLE{
    CHARSET_VT52, CHARSET_VT52, false, nullptr, {{66, L"y", true}}};

const lookup_case LOOKUPS[] = {
    {"DefaultLetter", DEFAULT, TO_HOST, 65, L'A'},
    {"DefaultTab", DEFAULT, TO_HOST, 9, 9},
    {"DefaultNul", DEFAULT, TO_HOST, 0, 0},
    {"DefaultDelete", DEFAULT, TO_HOST, 127, 127},
    {"DefaultHighCode", DEFAULT, TO_HOST, 128, -1},
    {"DefaultTilde", DEFAULT, TO_HOST, 126, L'~'},
    {"DefaultReverseLetter", DEFAULT, TO_CPM, L'A', 65},
    {"DefaultReverseDelete", DEFAULT, TO_CPM, 0x7F, 127},
    {"DefaultReverseCr", DEFAULT, TO_CPM, 0x0D, 13},
    {"DefaultReverseCtrlZ", DEFAULT, TO_CPM, 0x1A, 26},
    {"DefaultReverseEAcute", DEFAULT, TO_CPM, 0xE9, -1},
    {"DefaultReverseGraphicsRow", DEFAULT, TO_CPM, 0x2588, -1},
    {"DefaultReverseBeyondUnicode", DEFAULT, TO_CPM, 0x7FFFFFFF, -1},
    {"Latin1EnDash", LATIN1, TO_HOST, 173, 0x2013},
    {"Latin1ReverseEnDash", LATIN1, TO_CPM, 0x2013, 173},
    {"Latin1ReverseSoftHyphen", LATIN1, TO_CPM, 0xAD, -1},
    {"Latin1ReverseEAcute", LATIN1, TO_CPM, 0xE9, 233},
    {"Latin1Code150", LATIN1, TO_HOST, 150, -1},
    {"Latin1Code150Substitute", LATIN1_WITH_SUBSTITUTE, TO_HOST, 150, L'?'},
    {"Latin1Code255", LATIN1, TO_HOST, 255, 0xFF},
    {"VorbixReverseEnDashLowest", VORBIX, TO_CPM, 0x2013, 150},
    {"VorbixCode173", VORBIX, TO_HOST, 173, 0x2013},
    {"VorbixCode150", VORBIX, TO_HOST, 150, 0x2013},
    {"VorbixCode129", VORBIX, TO_HOST, 129, 0x2260},
    {"VorbixReverseEuro", VORBIX, TO_CPM, 0x20AC, 128},
    {"VorbixDeleteStillPasses", VORBIX, TO_HOST, 127, 127},
    {"VorbixReverseGraphicsRow", VORBIX, TO_CPM, 0x2588, -1},
    {"EntryOverridesSet", ENTRY_65_IS_X, TO_HOST, 65, L'x'},
    {"EntryTakesOverReverse", ENTRY_65_IS_X, TO_CPM, L'x', 65},
    {"EntryHidesSetCharacter", ENTRY_65_IS_X, TO_CPM, L'A', -1},
    {"ControlEntryIgnored", ENTRY_1_IS_E_ACUTE, TO_HOST, 1, 1},
    {"ControlEntryNotSearched", ENTRY_1_IS_E_ACUTE, TO_CPM, 0xE9, -1},
    {"EmptyEntryIsNul", EMPTY_ENTRY_200, TO_HOST, 200, 0},
    {"SubstituteForMissingCode", SUBSTITUTE, TO_HOST, 200, L'?'},
    {"SubstituteNotUsedInReverse", SUBSTITUTE, TO_CPM, 0xE9, -1},
    {"ReverseOfSubstituteCharacterFromTable", SUBSTITUTE, TO_CPM, L'?', 63},
    {"EmptySubstituteIsNul", EMPTY_SUBSTITUTE, TO_HOST, 200, 0},
    {"AlternateTableOnly", ALT_ASCII, TO_HOST, 233, -1},
    {"AlternateTableLetter", ALT_ASCII, TO_HOST, 65, L'A'},
    {"AlternateReverse", ALT_ASCII, TO_CPM, 0xE9, -1},
    {"AlternateEntry", ALT_ENTRY, TO_HOST, 66, L'y'},
    {"AlternateEntryReverse", ALT_ENTRY, TO_CPM, L'y', 66},
    {"AlternateEntryUnusedWithoutFlag", ENTRY_IN_OTHER_TABLE, TO_HOST, 66, L'B'},
};

INSTANTIATE_TEST_SUITE_P(, Lookup, testing::ValuesIn(LOOKUPS), testing::PrintToStringParamName());

TEST(Charsets, BuiltinColumnsAsTabulated) {
    for (int code = 0; code < CPM_CODE_COUNT; ++code) {
        bool printable = code >= 32 && code <= 126;
        bool latin_high = code >= 160;
        EXPECT_EQ(builtin_charsets[code][CHARSET_ASCII], printable ? code : 0) << code;
        if (code >= 32) {
            wchar_t vt52 = builtin_charsets[code][CHARSET_VT52];
            EXPECT_EQ(vt52, printable ? code : 0) << code;
        }
        wchar_t latin = printable || latin_high ? (code == 173 ? 0x2013 : code) : 0;
        if (code >= 32) {
            EXPECT_EQ(builtin_charsets[code][CHARSET_LATIN1], latin) << code;
        }
        if (code >= 32 && code != 127 && !(code >= 128 && code < 160)) {
            EXPECT_EQ(builtin_charsets[code][CHARSET_VORBIX], latin) << code;
        }
    }
}

// The rows of the built-in sets that are not the identity, stated entry by
// entry: vorbix 128-159 and the en dash that latin1 and vorbix hold at 173.
TEST(Charsets, TabulatedRowsEntryByEntry) {
    const wchar_t VORBIX_128_TO_159[32] = {
        0x20AC, 0x2260, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 128-135
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x0132, 0x017D, 0x2264, // 136-143
        0x2265, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 144-151
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x0133, 0x017E, 0x0178, // 152-159
    };
    for (int code = 128; code < 160; ++code) {
        EXPECT_EQ(builtin_charsets[code][CHARSET_VORBIX], VORBIX_128_TO_159[code - 128]) << code;
        for (int absent : {CHARSET_VT52, CHARSET_ASCII, CHARSET_LATIN1})
            EXPECT_EQ(builtin_charsets[code][absent], 0) << code << " in set " << absent;
    }
    EXPECT_EQ(builtin_charsets[173][CHARSET_LATIN1], 0x2013);
    EXPECT_EQ(builtin_charsets[173][CHARSET_VORBIX], 0x2013);
}

// The control rows, stated entry by entry: vt52 has graphics at 1-31 (none
// at 0), vorbix the same at 0-31 and a diamond at 127; ascii and latin1
// have none.
TEST(Charsets, ControlRowsEntryByEntry) {
    // clang-format off
    const wchar_t GRAPHICS[32] = {
        0x00B7, 0x2588, 0x258C, 0x2590, 0x2580, 0x2584, 0x2591, 0x2592, //  0-7
        0x2593, 0x2500, 0x2502, 0x250C, 0x2510, 0x2514, 0x2518, 0x253C, //  8-15
        0x251C, 0x2524, 0x252C, 0x2534, 0x2190, 0x2191, 0x2192, 0x2193, // 16-23
        0x00B0, 0x00B1, 0x2080, 0x2081, 0x2082, 0x2083, 0x2084, 0x00B6, // 24-31
    };
    // clang-format on
    for (int code = 0; code < 32; ++code) {
        EXPECT_EQ(builtin_charsets[code][CHARSET_VT52], code == 0 ? 0 : GRAPHICS[code]) << code;
        EXPECT_EQ(builtin_charsets[code][CHARSET_VORBIX], GRAPHICS[code]) << code;
        EXPECT_EQ(builtin_charsets[code][CHARSET_ASCII], 0) << code;
        EXPECT_EQ(builtin_charsets[code][CHARSET_LATIN1], 0) << code;
    }
    EXPECT_EQ(builtin_charsets[127][CHARSET_VORBIX], 0x25C6);
    for (int absent : {CHARSET_VT52, CHARSET_ASCII, CHARSET_LATIN1})
        EXPECT_EQ(builtin_charsets[127][absent], 0) << absent;
}

TEST(Charsets, FillCompletesOnlyAbsentEntries) {
    reset_charsets_for_testing();
    wchar_t* configured = text(L"z");
    charset_table[65] = configured;
    fill_charset_table(charset_table, CHARSET_ASCII);
    EXPECT_EQ(charset_table[65], configured);
    for (int code = 0; code < CPM_CODE_COUNT; ++code) {
        bool present = (code >= 32 && code <= 126);
        EXPECT_EQ(charset_table[code] != nullptr, present) << code;
    }
    EXPECT_STREQ(charset_table[66], L"B");

    wchar_t* before[CPM_CODE_COUNT];
    std::copy(std::begin(charset_table), std::end(charset_table), before);
    fill_charset_table(charset_table, CHARSET_VORBIX);
    for (int code = 32; code <= 126; ++code)
        EXPECT_EQ(charset_table[code], before[code]) << code;
    EXPECT_STREQ(charset_table[128], L"\u20ac");
}

TEST(Charsets, UnfilledTablesFindNothing) {
    reset_charsets_for_testing();
    EXPECT_EQ(cpm_to_host_char(65), -1);
    EXPECT_EQ(host_to_cpm_char(L'A'), -1);
    EXPECT_EQ(host_to_cpm_char(L'\n'), 10);
}

// The index must give the search's answer for every character the tables can
// hold, including duplicates, empty entries and characters above U+00FF.
TEST(Charsets, ReverseIndexAgreesWithSearch) {
    charset_setup busy{CHARSET_VORBIX, CHARSET_LATIN1, false, L"#", {}};
    busy.entries = {{200, L"A", false},          {40, L"\u2013", false},
                    {201, L"", false},           {255, L"\U0001F600", false},
                    {254, L"\U0001F600", false}, {33, L"\u00e9", false},
                    {100, L"\u20ac", true},      {99, L"\u20ac", true}};
    for (bool alternate : {false, true}) {
        busy.use_alternate = alternate;
        apply(busy);
        for (wchar_t c = 0; c < 0x3000; ++c)
            ASSERT_EQ(host_to_cpm_char(c), host_to_cpm_char_by_search(c)) << std::hex << c;
        EXPECT_EQ(host_to_cpm_char(0x1F600), host_to_cpm_char_by_search(0x1F600));
    }
    busy.use_alternate = false;
    apply(busy);
    EXPECT_EQ(host_to_cpm_char(L'A'), 65);
    EXPECT_EQ(host_to_cpm_char(0x2013), 40);
    EXPECT_EQ(host_to_cpm_char(0x1F600), 254);
}

} // namespace
