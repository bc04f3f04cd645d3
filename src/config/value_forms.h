// The value forms that several statements share: a boolean, a screen
// dimension, a device's file or mode, dump options, colors, a drive letter and
// a file name, and the token checks they and the statements are made of.
//
// Every operation here that can fail returns 0, or -1 after printing one
// message (wide_to_file_name prints nothing; its caller reports). A parsing
// form is entered with the statement's last keyword as the current token,
// stores its value in the caller's slots, and returns 0 with the token after
// the value current. The lookup drive_index returns its value or -1, and the
// predicate is_word answers true or false; neither prints.
#pragma once

/// Whether the current token is the identifier word (compared exactly).
bool is_word(const wchar_t* word);

/// Scans, and requires a token of kind; otherwise prints "<what> expected".
int scan_expecting(int kind, const char* what);

/// Scans, and requires the identifier word; otherwise prints "<what> expected".
int scan_expecting_word(const wchar_t* word, const char* what);

/// = true | false, giving 1 or 0.
int parse_boolean(int& slot);

/// The drive number, 0 for a to 15 for p in either case, or -1. Prints nothing.
int drive_index(wchar_t letter);

/// Converts text to a file name in the host encoding, stored in slot (null
/// when a character cannot be encoded). Returns 0 or -1; prints nothing.
int wide_to_file_name(const wchar_t* text, char*& slot);

/// = <number from lower_bound to 95> | current (stored as -1).
int parse_screen_dimension(const char* name, int lower_bound, int& slot);

/// file = "<name>" | mode = text | raw (0 or 1); each may be given once.
int parse_device_settings(const char* device, char*& file_slot, int& mode_slot);

/// = <option> { , <option> }, as bits; "all" stands for 0x36.
int parse_dump_options(int& slot);

/// = true | false [ , <foreground 0..7> , <background 0..7> ]
int parse_colors(int& enabled, int& foreground, int& background);
