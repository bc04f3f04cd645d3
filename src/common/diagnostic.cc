// Diagnostics on standard error, each prefixed with the program's name.
#include "common/diagnostic.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <sys/uio.h>
#include <unistd.h>

const char* program_name = "";

namespace {

// The length of the status line on the terminal, 0 when none is shown.
int status_length;

std::string* held_messages;
// How many held_diagnostics_change live: read by a signal's handler.
volatile std::sig_atomic_t held_messages_changing = 0;

} // namespace

void set_program_name(const char* argv0) {
    const char* slash = std::strrchr(argv0, '/');
    program_name = slash ? slash + 1 : argv0;
}

std::string shown_name(const char* name) {
    std::string shown;
    for (const char* at = name; *at; ++at) {
        auto byte = static_cast<unsigned char>(*at);
        static const char LETTERS[] = "abtnvfr";
        if (byte == '\\') {
            shown += "\\\\";
        } else if (byte >= 0x07 && byte <= 0x0D) {
            shown += '\\';
            shown += LETTERS[byte - 0x07];
        } else if (byte < 0x20 || byte == 0x7F) {
            char octal[5];
            std::snprintf(octal, sizeof octal, "\\%03o", byte);
            shown += octal;
        } else {
            shown += *at;
        }
    }
    return shown;
}

std::string* hold_diagnostics(std::string* held) {
    std::string* replaced = held_messages;
    held_messages = held;
    return replaced;
}

void print_diagnostic(const char* format, ...) {
    if (held_messages) {
        held_diagnostics_change change;
        va_list arguments;
        va_start(arguments, format);
        char line[512];
        int length = std::vsnprintf(line, sizeof line, format, arguments);
        va_end(arguments);
        if (length >= static_cast<int>(sizeof line)) {
            // A long name: the message again, into room of its own size.
            std::string longer(static_cast<std::size_t>(length) + 1, '\0');
            va_start(arguments, format);
            std::vsnprintf(&longer[0], longer.size(), format, arguments);
            va_end(arguments);
            longer.pop_back();
            *held_messages += std::string(program_name) + ": " + longer + "\n";
        } else if (length >= 0) {
            *held_messages += std::string(program_name) + ": " + line + "\n";
        }
        return;
    }
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

void print_fixed_diagnostic(const char* message) {
    static char separator[] = ": ";
    static char line_end[] = "\n";
    iovec pieces[] = {{const_cast<char*>(program_name), std::strlen(program_name)},
                      {separator, 2},
                      {const_cast<char*>(message), std::strlen(message)},
                      {line_end, 1}};
    (void)!writev(STDERR_FILENO, pieces, 4);
}

void write_held_diagnostics(const std::string& held) {
    if (held.empty())
        return;
    flockfile(stderr);
    clear_status_line();
    std::fwrite(held.data(), 1, held.size(), stderr);
    funlockfile(stderr);
}

void write_held_diagnostics_on_the_way_out(const std::string& held) {
    const char* from = held.data();
    std::size_t left = held.size();
    while (left > 0) {
        ssize_t written = write(STDERR_FILENO, from, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        from += written;
        left -= static_cast<std::size_t>(written);
    }
}

held_diagnostics_change::held_diagnostics_change() {
    held_messages_changing = held_messages_changing + 1;
}

held_diagnostics_change::~held_diagnostics_change() {
    held_messages_changing = held_messages_changing - 1;
}

bool held_diagnostics_changing() {
    return held_messages_changing != 0;
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
