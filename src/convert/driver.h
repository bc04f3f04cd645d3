// The converter's entry point: the command line (short and long options),
// the configuration, and the choice between one file and a folder; the
// conversion itself and the commit of its target are file_conversion's and
// target_file's.
//
// One error convention at each level of this folder:
// - The process: run_converter returns the exit status, here alone.
// - A file, and a whole run of one file or a folder: a file_outcome
//   (convert_file, check_file, convert_folder), its messages given.
// - A step of a file that may fail (an open, the conversion, a commit, a
//   stream's lookup): 0 (or the descriptor it opened), or -1 after its one
//   message; another value it finds goes in the caller's slot
//   (find_named_stream's fd).
// - A batch of waiting files: commit gives each failure its own message,
//   and failures() counts them for the run's last line.
// - What prints nothing answers a question: a predicate returns bool
//   (is_folder, has_binary_bytes, converts_back_to_source), a lookup its
//   value or -1 (descriptor_named_by, open_target_to_compare).
#pragma once

/// Runs the converter on its arguments and returns the exit status: 0 on
/// success or after -h, 1 on any failure; a check's 0, 1 or 2 says whether a
/// run would change anything.
int run_converter(int argc, char* argv[]);
