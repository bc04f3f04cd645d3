// The one way the converter reports anything: a line on standard error that
// starts with the program's name.
#pragma once

#include <string>

/// The part of argv[0] after its last slash; empty until set_program_name.
extern const char* program_name;

/// Takes the program's name from argv[0]: the text after the last '/',
/// all of it when there is none, empty when it ends in '/'.
void set_program_name(const char* argv0);

/// name as messages and check lines show it, as "ls -b" does: a control
/// character escaped (\n, \t, \033, ...) and a backslash doubled, so that
/// no name can break a line or pass for another.
std::string shown_name(const char* name);

/// Writes "<program_name>: ", the printf-formatted message and a newline to
/// standard error, as one line.
void print_diagnostic(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// Writes "<program_name>: ", message and a newline straight to standard
/// error, past any held messages, without formatting or allocating: the one
/// way to speak when memory has run out.
void print_fixed_diagnostic(const char* message);

/// While held is set, messages are appended to it, each a whole line with its
/// prefix, instead of being written: a folder run holds the messages of the
/// files that follow one still waiting to be committed, so that every message
/// comes in the order of the files. Null writes them again.
/// Returns the holder it replaces.
std::string* hold_diagnostics(std::string* held);

/// Writes messages that were held, as they were held.
void write_held_diagnostics(const std::string& held);

/// Writes held messages with write(2) alone: safe in a signal handler and
/// without memory, for the way out of the run.
void write_held_diagnostics_on_the_way_out(const std::string& held);

/// Marks the held messages as being changed while it lives (appended to,
/// moved, cleared): a signal that lands meanwhile must not read them.
class held_diagnostics_change {
  public:
    held_diagnostics_change();
    ~held_diagnostics_change();
    held_diagnostics_change(const held_diagnostics_change&) = delete;
    held_diagnostics_change& operator=(const held_diagnostics_change&) = delete;
};

/// Whether a held_diagnostics_change lives at this moment.
bool held_diagnostics_changing();

/// Shows a printf-formatted line on standard error that the next one, the
/// next message or clear_status_line replaces: progress on a terminal.
void show_status_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// Erases the status line, if one is shown.
void clear_status_line();
