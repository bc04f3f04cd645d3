// --check: one file's whole conversion with nothing written, and a line on
// standard output that says what a conversion would meet.
#pragma once

#include "convert/file_conversion.h"

/// Checks the file whose source is open as source_fd; closes nothing.
/// Prints "NAME: WORDS" on standard output and returns CONVERTED when the
/// words are only "ok", "same" or "binary", else FAILED.
file_outcome check_file(const file_to_convert& file, int source_fd);
