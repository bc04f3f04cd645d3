// The emulator's settings as the configuration sets them. The converter only
// checks them: they are collected in pending_values while a file is parsed and
// reach settings when the whole file has been accepted. Every field starts
// unset: UNSET, or 0 for the dump options, lines and columns, null for a
// string.
#pragma once

constexpr int DRIVE_COUNT = 16;
/// The value of an int setting that no statement has given.
constexpr int UNSET = -1;

/// Values of one parse, merged into settings only when the file is accepted.
/// A record made with {} is the unset record.
struct pending_record {
    int charset_column = UNSET;     ///< column of builtin_charsets for charset_table
    int alt_charset_column = UNSET; ///< column of builtin_charsets for alt_charset_table
    int console_mode = UNSET;
    int application_cursor = UNSET;
    int keep_files_open = UNSET;
    int screen_delay = UNSET;
    int log_level = UNSET;
    int default_drive = UNSET;
    int cpu_delay_count = UNSET;
    int cpu_delay_nanoseconds = UNSET;
    int colors_enabled = UNSET;
    int colors_foreground = UNSET;
    int colors_background = UNSET;
    int dump_options = 0;
};

/// The accepted settings; a record made with {} is the unset record.
struct settings_record {
    int console_mode = UNSET;       ///< 1 "full", 0 "line"
    int application_cursor = UNSET; ///< 1 true, 0 false
    int exchange_delete = UNSET;    ///< 1 true, 0 false; written directly
    int screen_delay = UNSET;       ///< 0..2147483647, or -2 for "key"
    int printer_mode = UNSET;       ///< 0 "text", 1 "raw"; written directly
    int punch_mode = UNSET;         ///< written directly
    int reader_mode = UNSET;        ///< written directly
    int log_level = UNSET;          ///< 0..5
    int default_drive = UNSET;      ///< 0..15 for a..p
    int keep_files_open = UNSET;    ///< the negation of "close files"
    int cpu_delay_count = UNSET;
    int cpu_delay_nanoseconds = UNSET;
    int colors_enabled = UNSET;
    int colors_foreground = UNSET;
    int colors_background = UNSET;
    int lines = 0;                ///< 5..95 or -1 for "current"; 0 unset; written directly
    int columns = 0;              ///< 20..95 or -1 for "current"; 0 unset; written directly
    char* printer_file = nullptr; ///< written directly, as are the other strings
    char* punch_file = nullptr;
    char* reader_file = nullptr;
    char* log_file = nullptr;
    int dump_options = 0; ///< bits of the dump options
    char* drive_paths[DRIVE_COUNT] = {};
    int drive_read_only[DRIVE_COUNT] = {};
};

extern pending_record pending_values;
extern settings_record settings;

/// Sets every field of pending_values to unset, as at the start of a parse.
void clear_pending_values();

/// Copies each set field of pending_values into settings where that field is
/// still unset. The cpu delay pair is copied together.
void merge_pending_values();

/// Returns settings to its unset state at process start, freeing its
/// strings. For tests only.
void reset_settings_for_testing();
