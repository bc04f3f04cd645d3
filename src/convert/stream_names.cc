// Standard streams and descriptors named by path, in any spelling.
#include "convert/stream_names.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "common/diagnostic.h"
#include "convert/run_state.h"

namespace {

// Links followed before a name is taken for a file name, as the system's own
// limit on a path's links.
constexpr int MOST_LINKS = 40;

// The decimal descriptor number that text is all of, else -1; checked before
// each step, as a long has 32 bits on 32-bit hosts.
int descriptor_number(const char* digits) {
    if (*digits < '0' || *digits > '9')
        return -1;
    int fd = 0;
    for (; *digits >= '0' && *digits <= '9'; ++digits) {
        int digit = *digits - '0';
        if (fd > (INT_MAX - digit) / 10)
            return -1;
        fd = fd * 10 + digit;
    }
    return *digits == '\0' ? fd : -1;
}

// The path with repeated slashes and "." components taken out. A trailing
// slash is kept: "/dev/fd/1/" names no descriptor (it is not a folder).
std::string tidy(const std::string& path) {
    std::string tidied;
    std::size_t at = 0;
    while (at < path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string::npos)
            end = path.size();
        std::string component = path.substr(at, end - at);
        if (!component.empty() && component != ".") {
            if (!tidied.empty() || path[0] == '/')
                tidied += '/';
            tidied += component;
        }
        at = end + 1;
    }
    if (tidied.empty())
        tidied = path[0] == '/' ? "/" : ".";
    else if (path.back() == '/')
        tidied += '/';
    return tidied;
}

// The descriptor of a tidied path in one of the known forms, else -1.
int descriptor_of_form(const std::string& path) {
    static const struct {
        const char* path;
        int fd;
    } STANDARD_STREAMS[] = {{"/dev/stdin", 0}, {"/dev/stdout", 1}, {"/dev/stderr", 2}};
    for (const auto& stream : STANDARD_STREAMS)
        if (path == stream.path)
            return stream.fd;
    // /proc/self resolves to /proc/PID, so both are this process's.
    const std::string own = "/proc/" + std::to_string(getpid()) + "/fd/";
    for (const std::string& prefix : {std::string("/dev/fd/"), std::string("/proc/self/fd/"), own})
        if (path.compare(0, prefix.size(), prefix) == 0)
            return descriptor_number(path.c_str() + prefix.size());
    return -1;
}

} // namespace

std::string folder_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

int descriptor_named_by(const char* name) {
    if (*name == '\0')
        return -1;
    std::string path = tidy(name);
    for (int links = 0; links <= MOST_LINKS; ++links) {
        int fd = descriptor_of_form(path);
        if (fd >= 0 || path.back() == '/')
            return fd;
        // The folder resolved, so that "/dev/../dev/stdin" or "fd/0" from
        // /dev is seen for what it is.
        std::size_t slash = path.rfind('/');
        std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
        char* resolved = realpath(folder_of(path).c_str(), nullptr);
        if (!resolved)
            return -1;
        std::string in_folder = resolved;
        std::free(resolved);
        path = tidy(in_folder + "/" + last);
        if ((fd = descriptor_of_form(path)) >= 0)
            return fd;
        // The last component, when it is a link: /dev/stdin is one to
        // /proc/self/fd/0 on Linux.
        char target[PATH_MAX];
        ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
        if (length <= 0)
            return -1;
        target[length] = '\0';
        path = tidy(target[0] == '/' ? std::string(target) : in_folder + "/" + target);
    }
    return -1;
}

int find_named_stream(const char* shown, const char* name, int& fd) {
    fd = descriptor_named_by(name);
    if (fd < 0)
        return 0;
    // A standard stream that was closed when the run began is held by
    // /dev/null; named by path it is still closed to the user.
    bool closed = was_closed_at_start(fd);
    if (!closed && fcntl(fd, F_GETFD) != -1)
        return 0;
    print_diagnostic("couldn't open %s: %s", shown, std::strerror(closed ? EBADF : errno));
    return -1;
}

bool is_in_device_folder(int dir, const char* path) {
    static struct stat devices;
    static const bool have_devices = stat("/dev", &devices) == 0;
    if (!have_devices)
        return false;
    // A folder run asks for every file of its one held folder: the answer
    // for a name directly in it is worked out once.
    static int asked_folder = AT_FDCWD;
    static bool answer = false;
    bool in_held_folder = dir != AT_FDCWD && std::strchr(path, '/') == nullptr;
    if (in_held_folder && dir == asked_folder)
        return answer;
    struct stat status;
    bool in_devices = fstatat(dir, folder_of(path).c_str(), &status, 0) == 0 &&
                      status.st_dev == devices.st_dev && status.st_ino == devices.st_ino;
    if (in_held_folder) {
        asked_folder = dir;
        answer = in_devices;
    }
    return in_devices;
}
