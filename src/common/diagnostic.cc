// Diagnostics on standard error, each prefixed with the program's name.
#include "common/diagnostic.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

const char* program_name = "";

void set_program_name(const char* argv0) {
    const char* slash = std::strrchr(argv0, '/');
    program_name = slash ? slash + 1 : argv0;
}

void print_diagnostic(const char* format, ...) {
    // Standard error is unbuffered; locking it keeps the three pieces of one
    // message together in a single line.
    flockfile(stderr);
    std::fprintf(stderr, "%s: ", program_name);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
    funlockfile(stderr);
}
