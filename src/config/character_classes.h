// The character classes of the configuration language, the program's own so
// that a configuration file means the same on every C library: blanks,
// letters, digits and the lower case of keywords and drive letters, as
// glibc's C.UTF-8 locale has them for the Unicode version of the generated
// tables (tools/generate-character-classes).
#pragma once

/// The Unicode version of the tables.
const char* character_class_version();

/// A blank between tokens: tab, and the spaces other than the no-break ones.
bool is_blank_character(wchar_t c);
/// The digits 0-9, and nothing else.
bool is_digit_character(wchar_t c);
/// A letter: what may begin a keyword or name.
bool is_letter_character(wchar_t c);
/// A letter or a digit: what may go on in a keyword or name.
bool is_letter_or_digit_character(wchar_t c);
/// The simple lower-case mapping of c; c itself where it has none.
wchar_t lower_case_character(wchar_t c);
