// The converter's entry point: the command line (short and long options),
// the configuration, and the choice between one file and a folder; the
// conversion itself and the commit of its target are file_conversion's and
// target_file's.
#pragma once

/// Runs the converter on its arguments and returns the exit status: 0 on
/// success or after -h, 1 on any failure.
int run_converter(int argc, char* argv[]);
