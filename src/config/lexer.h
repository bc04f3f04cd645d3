// The configuration lexer: cuts the current line into tokens, one per call of
// next_token. The current token lives in the variables below, which callers
// read directly after each call.
#pragma once

#include <cstdint>

/// Token kinds; each value is the character shown, except for the first two.
enum token_kind_value {
    TOKEN_NONE = -1, ///< before the first scan, and after every lexical error
    TOKEN_END = 0,   ///< the end of the line, '#' or ';'
    TOKEN_IDENTIFIER = 'i',
    TOKEN_NUMBER = '0',
    TOKEN_STRING = 's',
    TOKEN_EQUALS = '=',
    TOKEN_COMMA = ',',
};

/// The next character to scan, inside line_buffer.
extern wchar_t* line_cursor;

extern int token_kind;
/// The text of the current TOKEN_IDENTIFIER, else null. Owned by the lexer.
extern wchar_t* token_text;
/// The content of the current TOKEN_STRING, else null. A caller may take it
/// over by setting token_string to null.
extern wchar_t* token_string;
/// The value of the last number scanned.
extern std::uint64_t token_number;

/// Scans one token at line_cursor and reports lexical errors.
void next_token();

/// Makes the current token TOKEN_NONE and frees its text.
void discard_token();
