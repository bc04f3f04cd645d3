// A whole folder in one run: every regular file directly in the source
// folder converted into the target folder under the same name.
#pragma once

#include <string>

#include "convert/file_conversion.h"

/// A folder of a folder run: its host path, and the name messages give it,
/// as the command line did (a path, or "X:" for a whole drive, whose files
/// are then named "X:NAME").
struct run_folder {
    const char* path;
    std::string shown;
    bool whole_drive = false;
};

/// Whether name is a folder, or a symbolic link to one.
bool is_folder(const char* name);

/// Converts each file of source_folder whose name does not begin with "."
/// into target_folder, in byte order of the names, each as a single run
/// would; anything but a regular file (or a link to one) is skipped with a
/// line. A file that fails leaves its target as it was and the run goes on.
/// Returns what became of the run (see file_outcome), after a count of the
/// failures when any file failed (a check's lines say which). Into a whole
/// drive, each file written under a name CP/M cannot hold is warned of.
file_outcome convert_folder(const run_folder& source, const run_folder& target);
