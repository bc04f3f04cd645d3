// The character-set statements. "char", "alt char" and "unprintable" write
// straight into the tables and the substitute; "charset" and "alt charset"
// only choose the columns that complete the tables once the file is accepted.
#include "config/charset_statements.h"

#include <cwchar>

#include "charset/charset_tables.h"
#include "config/config_diagnostic.h"
#include "config/lexer.h"
#include "config/settings.h"
#include "config/value_forms.h"

namespace {

constexpr std::uint64_t HIGHEST_CPM_CODE = 255;

// Reads = "<text>" with at most one character and hands the text over to
// destination, which takes ownership of it. Returns 0, or -1 after a message.
int take_one_character_string(wchar_t*& destination) {
    if (scan_expecting(TOKEN_EQUALS, "=") != 0 || scan_expecting(TOKEN_STRING, "string") != 0)
        return -1;
    if (std::wcslen(token_string) > 1) {
        print_config_diagnostic("string may contain only one character");
        return -1;
    }
    destination = token_string;
    token_string = nullptr;
    next_token();
    return 0;
}

} // namespace

statement_result parse_charset_statement(bool alternate) {
    int& column = alternate ? pending_values.alt_charset_column : pending_values.charset_column;
    if (column != UNSET) {
        report_redefined(alternate ? "alt charset" : "charset");
        return STATEMENT_FAULTY;
    }
    if (scan_expecting(TOKEN_EQUALS, "=") != 0 ||
        scan_expecting(TOKEN_IDENTIFIER, "charset name") != 0)
        return STATEMENT_FAULTY;
    for (int candidate = 0; candidate < BUILTIN_CHARSET_COUNT; ++candidate) {
        if (std::wcscmp(token_text, BUILTIN_CHARSET_NAMES[candidate]) == 0) {
            column = candidate;
            next_token();
            return STATEMENT_ACCEPTED;
        }
    }
    report_invalid("charset name");
    print_config_hint(HINT_CHARSET_NAMES);
    return STATEMENT_FAULTY;
}

statement_result parse_char_statement(bool alternate) {
    charset_entries& table = alternate ? alt_charset_table : charset_table;
    next_token();
    if (token_kind != TOKEN_NUMBER || token_number > HIGHEST_CPM_CODE) {
        report_expected("number (0..255)");
        return STATEMENT_FAULTY;
    }
    wchar_t*& entry = table[token_number];
    if (entry) {
        report_redefined(alternate ? "alt char" : "char");
        return STATEMENT_FAULTY;
    }
    if (take_one_character_string(entry) != 0)
        return STATEMENT_FAULTY;
    return STATEMENT_ACCEPTED;
}

statement_result parse_unprintable_statement() {
    if (unprintable_char) {
        report_redefined("unprintable char");
        return STATEMENT_FAULTY;
    }
    if (take_one_character_string(unprintable_char) != 0)
        return STATEMENT_FAULTY;
    return STATEMENT_ACCEPTED;
}
