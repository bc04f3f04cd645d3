// --check: one file's whole conversion with nothing written, and a line on
// standard output that says what a conversion would meet.
#pragma once

#include "convert/file_conversion.h"

/// Checks the file whose source is open as source_fd and attached to the
/// source stream (binary: found to be a binary file); closes nothing. Prints
/// "NAME: WORDS" on standard output and says what a run would do with the
/// file (see file_outcome).
file_outcome check_file(const file_to_convert& file, int source_fd, bool binary);
