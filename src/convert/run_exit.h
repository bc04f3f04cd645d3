// The run's one way out. However the run ends (normally, on a faulty command
// line, by SIGINT, SIGTERM, SIGHUP or SIGPIPE, or out of memory) it ends
// here: every temporary file that the run created and did not rename (the
// one being written and those waiting in a batch) is removed, the messages
// held for the files still waiting are written, and the status is set: the
// run's own, the signal's (the signal is raised again, as it would have
// ended the run without the cleanup), or 1 with "out of memory".
#pragma once

#include <cstddef>

/// How many temporary files can be remembered at once: a folder run's largest
/// batch and the file being written, with room to spare.
constexpr std::size_t MOST_TEMPORARY_FILES = 1100;

/// Installs the way out for each of the four signals that the run was not
/// started with ignored (as under nohup), and for running out of memory; and
/// ignores SIGXFSZ, so that a file-size limit makes a write fail with "File
/// too large" instead of killing the run.
void install_run_exit();

/// Adds name, in the folder open as dir (or AT_FDCWD), to the temporary
/// files removed on the way out, before the file is created; name must stay
/// valid, and dir open, until it is forgotten.
void remember_temporary_file(int dir, const char* name);

/// Takes name off the list, once the file has been renamed or removed.
void forget_temporary_file(const char* name);

/// Has the way out write the messages held for waiting files through writer;
/// null takes it off. writer uses write(2) alone and allocates nothing;
/// in_allocation says that the way out was taken from a failed allocation,
/// which the held messages may be read during, where a signal may land while
/// they change.
void set_held_messages_writer(void (*writer)(bool in_allocation));

/// The end of a run that returns: removes what a failure left behind,
/// writes what is still held, and returns status, for main to return.
int end_run(int status);
