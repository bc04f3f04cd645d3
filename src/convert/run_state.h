// The state of one run: which file is the source and which the target, in
// which format each is, their open streams and the option flags. The driver
// sets the names and flags during start-up; each file's conversion attaches
// the streams to its own descriptors, and the reverse conversion of a round
// trip swaps the directions for its length. The engine only reads it.
#pragma once

#include "common/byte_stream.h"

/// The names that stand for the standard streams in messages.
constexpr char STDIN_NAME[] = "<stdin>";
constexpr char STDOUT_NAME[] = "<stdout>";

extern const char* source_name;
extern bool source_is_stdin;
/// True: the source is host text (-u); false: CP/M text (-c).
extern bool source_is_host;
extern byte_reader source_stream;

extern const char* target_name;
extern bool target_is_stdout;
/// True: the target is host text (-u); false: CP/M text (-c).
extern bool target_is_host;
extern byte_writer target_stream;

/// -z: every CP/M target ends with at least one ^Z.
extern bool always_terminate;
/// -i: untranslatable characters are dropped without a report.
extern bool ignore_unconvertible;
/// -e: untranslatable characters make the run fail.
extern bool unconvertible_is_error;

/// --binary: folder runs (and checks) convert binary files as well.
extern bool convert_binary_files;
/// --check: every conversion runs, nothing is written, and each file gets a
/// line on standard output.
extern bool check_only;
/// --crlf: in host text going to CP/M, CR LF is one line end (DOS text).
extern bool crlf_line_ends;
/// --quiet: no skip lines and no progress line.
extern bool quiet;
/// --update: a file whose target is at least as new as its source is left.
extern bool update_only;
/// --keep-date: a new target gets its source's access and modification times.
extern bool keep_dates;
/// --verbose: the configuration read, and each file a folder run converted.
extern bool verbose;

/// Whether descriptor fd (0, 1 or 2) was closed when the run began; the
/// driver holds such a descriptor with /dev/null, but it stays closed to the
/// user, also when named by path.
bool was_closed_at_start(int fd);
void set_closed_at_start(int fd);

/// Returns the run state to its state at process start. For tests only.
void reset_run_state_for_testing();
