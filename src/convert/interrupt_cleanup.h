// What an interrupted run leaves behind: nothing. On SIGINT, SIGTERM, SIGHUP
// and SIGPIPE every temporary file that the run has created and not yet renamed
// (the one being written and those waiting in a batch) is removed, and the
// run then ends by the signal, as it would have without the cleanup. A run
// out of memory removes them the same way before it exits.
#pragma once

#include <cstddef>

/// How many temporary files can be remembered at once: a folder run's largest
/// batch and the file being written, with room to spare.
constexpr std::size_t MOST_TEMPORARY_FILES = 1100;

/// Installs the cleanup for each of the four signals that the run was not
/// started with ignored (as under nohup), and for running out of memory; and
/// ignores SIGXFSZ, so that a file-size limit makes a write fail with "File
/// too large" instead of killing the run.
void install_interrupt_cleanup();

/// Adds name, in the folder open as dir (or AT_FDCWD), to the temporary
/// files removed on an interrupt, before the file is created; name must stay
/// valid, and dir open, until it is forgotten.
void remember_temporary_file(int dir, const char* name);

/// Takes name off the list, once the file has been renamed or removed.
void forget_temporary_file(const char* name);
