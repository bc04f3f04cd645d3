// A file as a run names it: the name its messages show, and where it is
// opened. A folder run holds its folders open and names each file inside
// them, so that a folder moved or replaced during the run changes nothing.
#pragma once

#include <fcntl.h>

struct named_file {
    /// The name in messages and check lines, control characters escaped.
    const char* shown = nullptr;
    /// The folder that path is taken in: a descriptor, or AT_FDCWD.
    int folder = AT_FDCWD;
    const char* path = nullptr;
};
