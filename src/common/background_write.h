// Writing on a second thread: while the system copies one buffer of output
// into the file, the conversion fills the next, so that on a machine with
// two cores the conversion costs little more than the copy itself. One
// write is in flight at a time.
#pragma once

#include <cstddef>

/// How a write went: the bytes the system took, and the error that stopped
/// it (0 when it took them all).
struct write_outcome {
    std::size_t written = 0;
    int error_number = 0;
};

/// Writes count bytes at bytes to fd, retrying after a signal and after a
/// short write, as the one loop every write of the program goes through.
write_outcome write_fully(int fd, const unsigned char* bytes, std::size_t count);

/// Starts write_fully(fd, bytes, count) on the background thread, which is
/// made on the first call; returns false, having started nothing, where no
/// thread can be made. The bytes must stay as they are until
/// finish_background_write().
bool start_background_write(int fd, const unsigned char* bytes, std::size_t count);

/// Waits for the write started last and says how it went.
write_outcome finish_background_write();
