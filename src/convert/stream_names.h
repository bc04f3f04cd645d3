// Names that stand for an open stream of this process rather than for a
// file: such a source or target is read or written through the descriptor,
// never created, replaced or renamed, however the name is spelled.
#pragma once

#include <string>

/// The descriptor that name stands for, else -1. The forms are /dev/stdin,
/// /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N and
/// /proc/PID/fd/N, after repeated slashes and "." components are taken out;
/// a name that resolves to one of them through its folder or through
/// symbolic links stands for the same descriptor.
int descriptor_named_by(const char* name);

/// Looks up name as a stream: 0 with fd set to its descriptor (-1 when name
/// is a file name), or -1 after "couldn't open %s: Bad file descriptor"
/// (shown names it) when it names a standard stream that was closed when
/// the run began, or a descriptor that is not open.
int find_named_stream(const char* shown, const char* name, int& fd);

/// The folder that holds path, as a name to open: "." for a name alone,
/// "/" for a name directly under the root.
std::string folder_of(const std::string& path);

/// Whether the folder that holds path (relative to the folder open as dir,
/// or AT_FDCWD) is /dev, where nothing is ever created or renamed.
bool is_in_device_folder(int dir, const char* path);
