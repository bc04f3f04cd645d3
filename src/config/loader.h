// Finding, opening and closing the configuration file: the entry to the
// configuration code, which reports every failure where it finds it.
//
// One error convention at each level of this folder:
// - load_configuration and parse_configuration: 0, or -1 after the messages.
// - A statement (parse_..._statement): a statement_result, accepted, faulty
//   (one message) or fatal (the parse ends at once). A keyword that begins no
//   statement is faulty, reported by the dispatch itself.
// - Below a statement, the value forms and the token checks they are made
//   of: 0, or -1 after one message, the value in the caller's slot.
// - What prints nothing answers a question: a predicate or probe returns
//   bool (is_word, read_line, open_candidate), a lookup its value or -1
//   (drive_index).
#pragma once

#include "common/byte_stream.h"

/// The configuration file's name as messages give it: the -f name,
/// "./.vorbix.conf", or "$HOME/.vorbix.conf".
extern const char* config_path;
/// The open configuration file while it is parsed; null otherwise.
extern byte_reader* config_stream;
/// No configuration file was found, and the tables are the built-in default
/// set's: worth saying where it makes a run drop characters.
extern bool default_set_in_use;

/// Loads the file named by path (option -f), or else the first of
/// "./.vorbix.conf" and "$HOME/.vorbix.conf" that opens; with none, completes
/// both tables from the default set. With announce, a line first names the
/// file read, or says that none was. Returns 0, or -1 after reporting why.
int load_configuration(const char* path, bool announce = false);
