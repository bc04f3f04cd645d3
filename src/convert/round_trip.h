// Whether a folder run's existing target already stands for its source, so
// that the run leaves it alone: the conversion gives exactly its bytes, or
// it is the copy that the source was converted from, unchanged since.
//
// The second case is what makes a drive round trip (drive to host and back)
// lose nothing: a host copy cannot hold what its character set lacks, and
// writing it back would drop that from the drive file. When converting the
// target the other way gives exactly the source's bytes, the source is an
// unchanged converted copy of the target, and the target is kept as it is.
#pragma once

#include <cstdint>
#include <sys/stat.h>

#include "convert/named_file.h"

/// Opens a folder run's existing target to compare with: a regular file at
/// the name (not a link), and not the source itself (source). Returns the
/// descriptor, with size set to the target's, or -1 when there is none to
/// compare; never a message.
int open_target_to_compare(const named_file& target, const struct stat& source,
                           std::uint64_t& size);

/// Whether converting the target, open as target_fd, the other way (with the
/// run's tables, -a, -z and substitute, its untranslatable characters dropped
/// silently and every message held back) gives exactly the bytes of the
/// source, open as source_fd. Both are read from their start; the run state
/// is as it was afterwards.
bool converts_back_to_source(int source_fd, int target_fd);
