// The configuration statement parser: reads the configuration file line by
// line, one statement a line, reports every faulty line, and accepts or
// rejects the file as a whole.
#pragma once

#include <cstddef>

/// Room for one line: at most 1022 characters, its newline and a null.
constexpr std::size_t LINE_BUFFER_SIZE = 1024;

extern wchar_t line_buffer[LINE_BUFFER_SIZE];
/// The 1-based number of the line being parsed; every line counts.
extern int config_line_number;

/// How a statement ended.
enum statement_result {
    STATEMENT_ACCEPTED, ///< the current token is the one after the statement
    STATEMENT_FAULTY,   ///< one message printed; the parse goes on with the next line
    STATEMENT_FATAL,    ///< message printed; the parse ends at once
};

/// Parses config_stream. On acceptance merges pending_values into settings
/// and completes both translation tables. Returns 0 when the file is accepted
/// and -1 when it is rejected.
int parse_configuration();

/// Returns the line number to its state at process start. For tests only.
void reset_statement_parser_for_testing();
