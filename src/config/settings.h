// The emulator's settings as the configuration sets them. The converter only
// checks them: they are collected in pending_values while a file is parsed and
// reach settings when the whole file has been accepted. Every field starts
// unset: -1, or 0 for the dump options, lines and columns, null for a string.
#pragma once

constexpr int DRIVE_COUNT = 16;

/// Values of one parse, merged into settings only when the file is accepted.
struct pending_record {
    int charset_column;     ///< column of builtin_charsets for charset_table
    int alt_charset_column; ///< column of builtin_charsets for alt_charset_table
    int console_mode;
    int application_cursor;
    int keep_files_open;
    int screen_delay;
    int log_level;
    int default_drive;
    int cpu_delay_count;
    int cpu_delay_nanoseconds;
    int colors_enabled;
    int colors_foreground;
    int colors_background;
    int dump_options;
};

struct settings_record {
    int console_mode;       ///< 1 "full", 0 "line"
    int application_cursor; ///< 1 true, 0 false
    int exchange_delete;    ///< 1 true, 0 false; written directly
    int screen_delay;       ///< 0..2147483647, or -2 for "key"
    int printer_mode;       ///< 0 "text", 1 "raw"; written directly
    int punch_mode;         ///< written directly
    int reader_mode;        ///< written directly
    int log_level;          ///< 0..5
    int default_drive;      ///< 0..15 for a..p
    int keep_files_open;    ///< the negation of "close files"
    int cpu_delay_count;
    int cpu_delay_nanoseconds;
    int colors_enabled;
    int colors_foreground;
    int colors_background;
    int lines;          ///< 5..95 or -1 for "current"; 0 unset; written directly
    int columns;        ///< 20..95 or -1 for "current"; 0 unset; written directly
    char* printer_file; ///< written directly, as are the other strings
    char* punch_file;
    char* reader_file;
    char* log_file;
    int dump_options; ///< bits of the dump options
    char* drive_paths[DRIVE_COUNT];
    int drive_read_only[DRIVE_COUNT];
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
