// Active tables and lookups. The reverse direction is answered from an index
// that fill_charset_table builds once a table is complete; it gives the same
// answer as the search of codes 32-255 in ascending order, lowest code first.
#include "charset/charset_tables.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "common/checked_alloc.h"

charset_entries charset_table;
charset_entries alt_charset_table;
int use_alt_charset;
wchar_t* unprintable_char;

namespace {

constexpr int FIRST_SEARCHED_CODE = 32;
constexpr int DELETE_CODE = 127;

bool is_control_code(std::uint32_t value) {
    return value < 32 || value == DELETE_CODE;
}

// The reverse index of one table: characters below 256 go straight to their
// code, the others are kept sorted by character for a binary search.
struct reverse_index {
    bool built;
    std::int16_t low[CPM_CODE_COUNT];
    struct pair {
        wchar_t character;
        std::uint8_t code;
    };
    pair high[CPM_CODE_COUNT];
    int high_count;
};

reverse_index charset_index;
reverse_index alt_charset_index;

charset_entries& active_table() {
    return use_alt_charset ? alt_charset_table : charset_table;
}

reverse_index& index_of(const charset_entries& table) {
    return &table == &alt_charset_table ? alt_charset_index : charset_index;
}

void build_reverse_index(const charset_entries& table, reverse_index& index) {
    std::fill(std::begin(index.low), std::end(index.low), -1);
    index.high_count = 0;
    // Descending, so that a lower code that holds the same character
    // overwrites a higher one.
    for (int code = CPM_CODE_COUNT - 1; code >= FIRST_SEARCHED_CODE; --code) {
        const wchar_t* entry = table[code];
        if (code == DELETE_CODE || !entry || entry[0] == 0)
            continue;
        auto character = static_cast<std::uint32_t>(entry[0]);
        if (character < CPM_CODE_COUNT)
            index.low[character] = static_cast<std::int16_t>(code);
        else
            index.high[index.high_count++] = {entry[0], static_cast<std::uint8_t>(code)};
    }
    std::sort(index.high, index.high + index.high_count,
              [](const reverse_index::pair& a, const reverse_index::pair& b) {
                  return a.character < b.character ||
                         (a.character == b.character && a.code < b.code);
              });
    index.built = true;
}

} // namespace

void fill_charset_table(charset_entries& table, int column) {
    for (int code = 0; code < CPM_CODE_COUNT; ++code) {
        if (table[code])
            continue;
        wchar_t cell = builtin_charsets[code][column];
        if (cell == 0)
            continue;
        auto* copy = static_cast<wchar_t*>(checked_alloc(2 * sizeof(wchar_t)));
        copy[0] = cell;
        copy[1] = 0;
        table[code] = copy;
    }
    build_reverse_index(table, index_of(table));
}

void reindex_charset_table(charset_entries& table) {
    build_reverse_index(table, index_of(table));
}

int cpm_to_host_char(int code) {
    if (is_control_code(static_cast<std::uint32_t>(code)))
        return code;
    const wchar_t* entry = active_table()[code];
    if (entry)
        return entry[0];
    if (unprintable_char)
        return unprintable_char[0];
    return -1;
}

int host_to_cpm_char_by_search(wchar_t c) {
    auto value = static_cast<std::uint32_t>(c);
    if (is_control_code(value))
        return static_cast<int>(value);
    const charset_entries& table = active_table();
    for (int code = FIRST_SEARCHED_CODE; code < CPM_CODE_COUNT; ++code) {
        if (code != DELETE_CODE && table[code] && table[code][0] == c)
            return code;
    }
    return -1;
}

int host_to_cpm_char(wchar_t c) {
    auto value = static_cast<std::uint32_t>(c);
    if (is_control_code(value))
        return static_cast<int>(value);
    const reverse_index& index = index_of(active_table());
    if (!index.built)
        return host_to_cpm_char_by_search(c);
    if (value < CPM_CODE_COUNT)
        return index.low[value];
    const reverse_index::pair* end = index.high + index.high_count;
    const reverse_index::pair* found =
        std::lower_bound(index.high, end, c, [](const reverse_index::pair& entry, wchar_t key) {
            return entry.character < key;
        });
    return found != end && found->character == c ? found->code : -1;
}

void clear_charset_table(charset_entries& table) {
    for (wchar_t*& entry : table) {
        std::free(entry);
        entry = nullptr;
    }
}

void reset_charsets_for_testing() {
    clear_charset_table(charset_table);
    clear_charset_table(alt_charset_table);
    std::free(unprintable_char);
    charset_index.built = false;
    alt_charset_index.built = false;
    use_alt_charset = 0;
    unprintable_char = nullptr;
}
