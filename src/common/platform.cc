// Linux's extended attributes and writeback, the descriptor count, and the
// spelling of the file times.
#include "common/platform.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif
#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif
#ifdef __FreeBSD__
#include <sys/sysctl.h>
#endif
#include <climits>
#include <cstring>

namespace {

#ifdef __linux__
constexpr char ACCESS_ACL[] = "system.posix_acl_access";

// The ACL of the open file fd, through its descriptor, or through its name in
// /proc where the descriptor is a path alone (a file the user cannot read
// still has an ACL to keep).
int read_acl_of(int fd, bool path_only, std::string& acl) {
    char proc_name[40];
    std::snprintf(proc_name, sizeof proc_name, "/proc/self/fd/%d", fd);
    for (;;) {
        ssize_t size = path_only ? getxattr(proc_name, ACCESS_ACL, nullptr, 0)
                                 : fgetxattr(fd, ACCESS_ACL, nullptr, 0);
        if (size < 0)
            return errno == ENODATA || errno == ENOTSUP ? 0 : -1;
        acl.resize(static_cast<std::size_t>(size));
        ssize_t got = path_only ? getxattr(proc_name, ACCESS_ACL, &acl[0], acl.size())
                                : fgetxattr(fd, ACCESS_ACL, &acl[0], acl.size());
        if (got >= 0) {
            acl.resize(static_cast<std::size_t>(got));
            return 1;
        }
        // ERANGE: the ACL grew between the two calls.
        if (errno != ERANGE)
            return errno == ENODATA ? 0 : -1;
    }
}
#endif

} // namespace

int read_access_acl(int dir, const char* path, std::string& acl) {
#ifdef __linux__
    const int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    bool path_only = false;
    int fd = openat(dir, path, O_RDONLY | flags);
    if (fd < 0 && errno == EACCES) {
        fd = openat(dir, path, O_PATH | flags);
        path_only = true;
    }
    // A file gone since it was looked at has nothing left to keep.
    if (fd < 0)
        return errno == ENOENT ? 0 : -1;
    int found = read_acl_of(fd, path_only, acl);
    close(fd);
    return found;
#else
    (void)dir;
    (void)path;
    acl.clear();
    return 0;
#endif
}

int write_access_acl(int fd, const std::string& acl) {
#ifdef __linux__
    return fsetxattr(fd, ACCESS_ACL, acl.data(), acl.size(), 0);
#else
    (void)fd;
    (void)acl;
    errno = ENOTSUP;
    return -1;
#endif
}

std::size_t free_descriptors(std::size_t at_most) {
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return at_most;
    std::size_t allowed = limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > at_most
                              ? at_most
                              : static_cast<std::size_t>(limit.rlim_cur);
    // Any open descriptor below the limit takes a place; counting stops where
    // enough have been found free.
    std::size_t free = 0;
    for (std::size_t fd = 0; fd < allowed; ++fd)
        if (fcntl(static_cast<int>(fd), F_GETFD) == -1 && errno == EBADF)
            ++free;
    return free;
}

#ifdef __APPLE__
timespec modification_time(const struct stat& status) { return status.st_mtimespec; }
timespec access_time(const struct stat& status) { return status.st_atimespec; }
#else
timespec modification_time(const struct stat& status) { return status.st_mtim; }
timespec access_time(const struct stat& status) { return status.st_atim; }
#endif

void start_writeback(int fd, off_t offset, off_t count) {
#ifdef SYNC_FILE_RANGE_WRITE
    sync_file_range(fd, offset, count, SYNC_FILE_RANGE_WRITE);
#else
    (void)fd;
    (void)offset;
    (void)count;
#endif
}

bool syncfs_reports_errors(const char* release) {
    char* end;
    long major = std::strtol(release, &end, 10);
    if (end == release || *end != '.')
        return false;
    const char* minor_text = end + 1;
    long minor = std::strtol(minor_text, &end, 10);
    if (end == minor_text)
        return false;
    return major > 5 || (major == 5 && minor >= 8);
}

bool batch_sync_reports_errors() {
#ifdef __linux__
    static const bool reports = [] {
        utsname system;
        return uname(&system) == 0 && syncfs_reports_errors(system.release);
    }();
    return reports;
#else
    return false;
#endif
}

namespace {

int system_sync_file_system(int fd) {
#ifdef __linux__
    return syncfs(fd);
#else
    (void)fd;
    errno = ENOSYS;
    return -1;
#endif
}

int system_sync_file(int fd) {
    return fsync(fd);
}

} // namespace

int (*sync_file_system)(int fd) = system_sync_file_system;
int (*sync_file)(int fd) = system_sync_file;

std::string program_file(const char* argv0) {
    char found[PATH_MAX] = "";
#if defined(__linux__)
    ssize_t size = readlink("/proc/self/exe", found, sizeof found - 1);
    found[size > 0 ? size : 0] = '\0';
#elif defined(__APPLE__)
    uint32_t size = sizeof found;
    if (_NSGetExecutablePath(found, &size) != 0)
        found[0] = '\0';
#elif defined(__FreeBSD__)
    int name[] = {CTL_KERN, KERN_PROC, KERN_PROC_PATHNAME, -1};
    std::size_t size = sizeof found;
    if (sysctl(name, 4, found, &size, nullptr, 0) != 0)
        found[0] = '\0';
#endif
    if (found[0] == '\0' && argv0 && std::strchr(argv0, '/'))
        std::snprintf(found, sizeof found, "%s", argv0);
    char resolved[PATH_MAX];
    if (found[0] == '\0' || !realpath(found, resolved))
        return found;
    return resolved;
}
