// Character sets by name, for --charset and --charsets: the four built-in
// sets, and the set files installed with the program, NAME.conf in
// share/vorbix-convert/charsets beside its bin folder (or, for a program run
// from its build folder, in the source tree's examples/charsets).
//
// Error convention: 0, or -1 after the messages, as in the loader.
#pragma once

/// Makes the set called name the one table of the run, for -a as well, once
/// the configuration has been loaded (its drives and substitute stay): a
/// built-in set, or a set file, read and checked as a configuration file is.
/// An unknown name is reported with the list of names.
int use_named_charset(const char* name, const char* argv0);

/// Writes each set's name and one line about it to standard output.
int list_named_charsets(const char* argv0);
