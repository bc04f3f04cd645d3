// The converter's entry point: the command line, the choice and opening of
// source and target, and the final rename or removal of the temporary file.
#pragma once

/// Runs the converter on its arguments and returns the exit status: 0 on
/// success or after -h, 1 on any failure.
int run_converter(int argc, char* argv[]);
