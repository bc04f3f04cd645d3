// The lexer. Blanks, digits, letters and alphanumerics are the configuration
// language's own (character_classes.h), the same on every host; numbers follow
// wcstoull's rules in the base their prefix selects.
#include "config/lexer.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwchar>

#include "common/checked_alloc.h"
#include "config/character_classes.h"
#include "config/config_diagnostic.h"

wchar_t* line_cursor;
int token_kind = TOKEN_NONE;
wchar_t* token_text;
wchar_t* token_string;
std::uint64_t token_number;

namespace {

constexpr std::size_t STRING_GROWTH = 16;

void scan_number() {
    errno = 0;
    wchar_t* start = line_cursor;
    int base = 10;
    // Only a lower-case "0x" selects base 16; any other leading zero selects
    // base 8, so "08" is the number 0 followed by the number 8.
    if (line_cursor[0] == L'0' && line_cursor[1] == L'x') {
        base = 16;
        start = line_cursor + 2;
    } else if (line_cursor[0] == L'0') {
        base = 8;
    }
    wchar_t* end;
    unsigned long long value = std::wcstoull(start, &end, base);
    token_number = value;
    if (value == ULLONG_MAX && errno == ERANGE) {
        print_config_diagnostic("integer out of range");
        return;
    }
    token_kind = TOKEN_NUMBER;
    line_cursor = end;
}

void scan_identifier() {
    wchar_t* end = line_cursor + 1;
    while (is_letter_or_digit_character(*end) || *end == L'_')
        ++end;
    std::size_t length = static_cast<std::size_t>(end - line_cursor);
    token_text = static_cast<wchar_t*>(checked_alloc((length + 1) * sizeof(wchar_t)));
    std::wmemcpy(token_text, line_cursor, length);
    token_text[length] = 0;
    token_kind = TOKEN_IDENTIFIER;
    line_cursor = end;
}

void scan_string() {
    ++line_cursor;
    std::size_t capacity = 0;
    std::size_t count = 0;
    for (;;) {
        wchar_t c = *line_cursor;
        std::size_t consumed = 1;
        if (c == L'\\') {
            c = line_cursor[1];
            if (c != L'"' && c != L'\'' && c != L'\\') {
                ++line_cursor;
                print_config_diagnostic("invalid %s", "escape sequence");
                discard_token();
                return;
            }
            consumed = 2;
        } else if (c == L'"') {
            break;
        } else if (c == 0) {
            print_config_diagnostic("unterminated string");
            discard_token();
            return;
        }
        if (count == capacity) {
            // The buffer is in token_string from its first allocation, so
            // that an error further on frees it.
            capacity += STRING_GROWTH;
            token_string =
                static_cast<wchar_t*>(checked_realloc(token_string, capacity * sizeof(wchar_t)));
        }
        token_string[count++] = c;
        line_cursor += consumed;
    }
    ++line_cursor;
    token_string =
        static_cast<wchar_t*>(checked_realloc(token_string, (count + 1) * sizeof(wchar_t)));
    token_string[count] = 0;
    token_kind = TOKEN_STRING;
}

} // namespace

void discard_token() {
    token_kind = TOKEN_NONE;
    std::free(token_string);
    token_string = nullptr;
    std::free(token_text);
    token_text = nullptr;
}

void next_token() {
    discard_token();
    while (*line_cursor != 0 && is_blank_character(*line_cursor))
        ++line_cursor;
    wchar_t c = *line_cursor;
    // TOKEN_END leaves the cursor in place, so every further scan of the line
    // gives TOKEN_END again and nothing after '#' or ';' is looked at.
    if (c == 0 || c == L'#' || c == L';') {
        token_kind = TOKEN_END;
    } else if (is_digit_character(c)) {
        scan_number();
    } else if (is_letter_character(c)) {
        scan_identifier();
    } else if (c == L'"') {
        scan_string();
    } else if (c == L',') {
        token_kind = TOKEN_COMMA;
        ++line_cursor;
    } else if (c == L'=') {
        token_kind = TOKEN_EQUALS;
        ++line_cursor;
    } else {
        print_config_diagnostic("invalid %s", "token");
    }
}
