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
    /// Frees descriptors where the process has none left (a folder run
    /// commits the files waiting in its batch); true when it freed some.
    std::function<bool()> make_room;
};

enum class file_outcome { CONVERTED, FAILED, SKIPPED };

/// Opens the source and target, runs the engine and closes the source. On
/// CONVERTED the text is written and target is still to be committed; on
/// FAILED (after its messages) or SKIPPED (after its skip line, or none for
/// a target that is up to date) target is abandoned and an existing target is
/// as it was. A check writes nothing, prints the file's line and is FAILED
/// when that line reports a fault.
file_outcome convert_file(const file_to_convert& file, target_file& target);
