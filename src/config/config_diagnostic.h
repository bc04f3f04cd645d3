// Messages about the content of the configuration file. Each names the file
// and the line: "<config_path>(<config_line_number>): <message>".
#pragma once

/// Prints the printf-formatted message behind the file name and line number.
void print_config_diagnostic(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// The common shapes: "%s expected", "%s redefined" and "invalid %s".
void report_expected(const char* what);
void report_redefined(const char* what);
void report_invalid(const char* what);
