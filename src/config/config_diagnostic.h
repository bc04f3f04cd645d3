// Messages about the content of the configuration file. Each names the file
// and the line: "<config_path>(<config_line_number>): <message>".
#pragma once

/// Prints the printf-formatted message behind the file name and line number.
void print_config_diagnostic(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// The common shapes: "%s expected", "%s redefined" and "invalid %s".
void report_expected(const char* what);
void report_redefined(const char* what);
void report_invalid(const char* what);

/// The causes of a rejected line that a user can mend in one keystroke once
/// they are named, each hinted at most once per file.
enum config_hint {
    HINT_DOS_LINE_ENDS,
    HINT_NO_LAST_LINE_END,
    HINT_BYTE_ORDER_MARK,
    HINT_CHARSET_NAMES,
};

/// Prints the hint for the current line unless the file has had it.
void print_config_hint(config_hint hint);
/// Forgets the hints given: a new file begins.
void reset_config_hints();
