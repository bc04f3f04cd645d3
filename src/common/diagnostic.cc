// Diagnostics on standard error, each prefixed with the program's name.
#include "common/diagnostic.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

const char* program_name = "";

namespace {

// The length of the status line on the terminal, 0 when none is shown.
int status_length;

} // namespace

void set_program_name(const char* argv0) {
    const char* slash = std::strrchr(argv0, '/');
    program_name = slash ? slash + 1 : argv0;
}

void print_diagnostic(const char* format, ...) {
    // Standard error is unbuffered; locking it keeps the three pieces of one
    // message together in a single line.
    flockfile(stderr);
    clear_status_line();
    std::fprintf(stderr, "%s: ", program_name);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
    funlockfile(stderr);
}

void show_status_line(const char* format, ...) {
    flockfile(stderr);
    clear_status_line();
    va_list arguments;
    va_start(arguments, format);
    int length = std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    status_length = length > 0 ? length : 0;
    funlockfile(stderr);
}

void clear_status_line() {
    if (status_length == 0)
        return;
    // Back to the start of the line, blanks over the text, and back again:
    // no terminal control sequence is needed.
    std::fprintf(stderr, "\r%*s\r", status_length, "");
    status_length = 0;
}
