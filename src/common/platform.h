// What differs between the systems the converter runs on, in one place: each
// call here has a Linux path and a POSIX path beside it, and a system
// without the feature gets the documented fallback.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

/// Reads the POSIX access ACL of the file at path in the folder open as dir
/// (or AT_FDCWD), not following a link. Returns 1 with acl set to it, 0 when
/// the file has none (or the system keeps none: ACLs are copied on Linux
/// only), -1 when it may have one that cannot be read.
int read_access_acl(int dir, const char* path, std::string& acl);

/// Gives the file open as fd the access ACL read by read_access_acl; 0, or
/// -1 with errno set.
int write_access_acl(int fd, const std::string& acl);

/// How many descriptors this process may still open: the limit less those
/// open now, counted up to the limit or to at_most, whichever is less.
std::size_t free_descriptors(std::size_t at_most);

/// A file's times to the nanosecond: macOS spells the fields st_mtimespec
/// and st_atimespec, the others st_mtim and st_atim.
timespec modification_time(const struct stat& status);
timespec access_time(const struct stat& status);

/// Starts writing count bytes of fd from offset back to the disk (all of it
/// with count 0), without waiting; a failure is reported by the fsync that
/// follows through the same descriptor. Linux only (sync_file_range);
/// elsewhere the fsync does it all.
void start_writeback(int fd, off_t offset, off_t count);

/// Whether one syncfs can stand for an fsync of every file in a batch: on
/// Linux from 5.8, whose syncfs reports every writeback error on the file
/// system since the descriptor it is given was opened. release is uname's.
bool syncfs_reports_errors(const char* release);
/// The same for the running kernel, asked once; false on other systems.
bool batch_sync_reports_errors();

/// syncfs(2) on fd's file system, and fsync(2) of fd: 0, or -1 with errno.
/// Tests replace them to play a failing disk.
extern int (*sync_file_system)(int fd);
extern int (*sync_file)(int fd);

/// The program's own file, links resolved, for what is installed beside it:
/// the kernel's answer on Linux, macOS and FreeBSD, else argv0 when it holds
/// a slash. Empty when it cannot be told.
std::string program_file(const char* argv0);
