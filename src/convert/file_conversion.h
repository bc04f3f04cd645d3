// One source converted into one target: the same steps for a single run and
// for each file of a folder.
#pragma once

#include <functional>

#include "convert/named_file.h"
#include "convert/target_file.h"

/// One file to convert.
struct file_to_convert {
    named_file source;
    bool source_is_stdin = false;
    named_file target;
    bool target_is_stdout = false;
    /// A folder run's file: anything but a regular file is skipped, and so is
    /// a binary file unless binary files are converted too. Its names are
    /// file names, never streams.
    bool from_folder = false;
    /// A folder run from a folder to itself.
    bool in_place = false;
    /// Frees descriptors where the process has none left (a folder run
    /// commits the files waiting in its batch); true when it freed some.
    std::function<bool()> make_room;
};

enum class file_outcome { CONVERTED, FAILED, SKIPPED };

/// What became of a file, and of a whole run. A file: CONVERTED, its text
/// written and its target still to be committed; FAILED, after its messages;
/// SKIPPED, after its skip line, or none for a target that is up to date or
/// already stands for its source. A check writes nothing and says what a run
/// would do: CONVERTED, a file would be written; SKIPPED, none; FAILED, the
/// file would fail. A run: FAILED when any file failed, else CONVERTED when
/// any was (or would be) written, else SKIPPED.
/// Opens the source and target, runs the engine and closes the source; on
/// any outcome but CONVERTED the target is abandoned and an existing target
/// is as it was.
file_outcome convert_file(const file_to_convert& file, target_file& target);
