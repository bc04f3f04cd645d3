// Opening, committing and abandoning the target.
#include "convert/target_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sys/stat.h>
#include <unistd.h>

#include "common/diagnostic.h"
#include "convert/interrupt_cleanup.h"
#include "convert/run_state.h"

namespace {

// The umask, which can only be read by setting it; the run is one thread.
mode_t process_umask() {
    static const mode_t mask = [] {
        mode_t current = umask(0);
        umask(current);
        return current;
    }();
    return mask;
}

// The process id in the temporary names, asked once.
unsigned long process_id() {
    static const unsigned long id = static_cast<unsigned long>(getpid());
    return id;
}

} // namespace

// Such a target is written through the descriptor; renaming a file over the
// name would replace a system link, and the text would never reach the
// stream.
int descriptor_named_by(const char* name) {
    static const struct {
        const char* path;
        int fd;
    } STANDARD_STREAMS[] = {{"/dev/stdin", 0}, {"/dev/stdout", 1}, {"/dev/stderr", 2}};
    for (const auto& stream : STANDARD_STREAMS)
        if (std::strcmp(name, stream.path) == 0)
            return stream.fd;
    for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        std::size_t length = std::strlen(prefix);
        if (std::strncmp(name, prefix, length) != 0)
            continue;
        const char* digits = name + length;
        if (*digits < '0' || *digits > '9')
            return -1;
        // Checked before each step: a long has 32 bits on 32-bit hosts.
        int fd = 0;
        for (; *digits >= '0' && *digits <= '9'; ++digits) {
            int digit = *digits - '0';
            if (fd > (INT_MAX - digit) / 10)
                return -1;
            fd = fd * 10 + digit;
        }
        return *digits == '\0' ? fd : -1;
    }
    return -1;
}

bool is_temporary_name(const std::string& name) {
    static const std::string MARK = ".temp.";
    std::size_t digits = name.find_last_not_of("0123456789");
    if (digits == std::string::npos || digits + 1 == name.size())
        return false;
    return digits + 1 >= MARK.size() &&
           name.compare(digits + 1 - MARK.size(), MARK.size(), MARK) == 0;
}

target_file::~target_file() {
    if (kind_ == kind::IN_PLACE || kind_ == kind::TEMPORARY)
        abort();
}

int target_file::open(const char* name, bool is_stdout, mode_t new_file_mode) {
    target_name_ = name;
    int named = is_stdout ? STDOUT_FILENO : descriptor_named_by(name);
    if (named >= 0) {
        // A standard stream that was closed when the run began is held by
        // /dev/null; named by path it is still closed to the user.
        bool closed = !is_stdout && was_closed_at_start(named);
        if (closed || fcntl(named, F_GETFD) == -1) {
            print_diagnostic("couldn't open %s: %s", name, std::strerror(closed ? EBADF : errno));
            return -1;
        }
        kind_ = kind::DESCRIPTOR;
        fd_ = named;
        return 0;
    }
    // A device, a FIFO or a socket is written directly, as a shell
    // redirection would: renaming over it would swap the node for a plain
    // file. Anything else gets a new file.
    struct stat existing;
    bool exists = stat(name, &existing) == 0;
    if (!exists || S_ISREG(existing.st_mode) || S_ISDIR(existing.st_mode))
        return open_temporary(exists && S_ISREG(existing.st_mode) ? &existing : nullptr,
                              new_file_mode);
    fd_ = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        print_diagnostic("couldn't open %s: %s", name, std::strerror(errno));
        return -1;
    }
    kind_ = kind::IN_PLACE;
    return 0;
}

// The temporary name is predictable, so whatever is found there, a leftover
// of a killed run or a link planted by someone else, is removed first and the
// file is then created exclusively: the text can only ever go into a new file
// of this run's own. It gets its permissions (and owner) at once, so that
// nothing changes the file between its writeback and its fsync.
int target_file::open_temporary(const struct stat* replaced, mode_t new_file_mode) {
    temp_name_ = target_name_;
    temp_name_ += ".temp." + std::to_string(process_id());
    const char* temp = temp_name_.c_str();
    remember_temporary_file(temp);
    mode_t mode = replaced ? replaced->st_mode & 0777 : new_file_mode & 0777 & ~process_umask();
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    fd_ = ::open(temp, flags, mode);
    // Usually nothing is there; a leftover is removed and the file created
    // once more, still exclusively.
    if (fd_ < 0 && errno == EEXIST) {
        if (unlink(temp) != 0 && errno != ENOENT) {
            print_diagnostic("couldn't open %s: %s", temp, std::strerror(errno));
            forget_temporary_file(temp);
            return -1;
        }
        fd_ = ::open(temp, flags, mode);
    }
    if (fd_ < 0) {
        print_diagnostic("couldn't open %s: %s", temp, std::strerror(errno));
        forget_temporary_file(temp);
        return -1;
    }
    kind_ = kind::TEMPORARY;
    if (set_permissions(replaced, mode) == 0)
        return 0;
    print_diagnostic("couldn't open %s: %s", temp, std::strerror(errno));
    abort();
    return -1;
}

// The umask narrows the mode a file is created with; a file that replaces
// another takes over its bits exactly. Where the owner or group of the
// replaced file cannot be kept, the file is made no more open than the old
// one: only its owner's bits are kept.
int target_file::set_permissions(const struct stat* replaced, mode_t mode) {
    if (replaced) {
        struct stat created;
        if (fstat(fd_, &created) != 0)
            return -1;
        if ((created.st_uid != replaced->st_uid || created.st_gid != replaced->st_gid) &&
            fchown(fd_, replaced->st_uid, replaced->st_gid) != 0) {
            mode &= 0700;
            print_diagnostic("warning: %s: owner or group not kept", target_name_.c_str());
        }
        if ((created.st_mode & 07777) == mode)
            return 0;
    } else if ((mode & ~process_umask()) == mode) {
        return 0;
    }
    return fchmod(fd_, mode);
}

void target_file::remove_temporary() {
    std::remove(temp_name_.c_str());
    forget_temporary_file(temp_name_.c_str());
}

const char* target_file::write_name() const {
    return kind_ == kind::TEMPORARY ? temp_name_.c_str() : target_name_.c_str();
}

void target_file::start_writeback() {
#ifdef SYNC_FILE_RANGE_WRITE
    // Only a start: a failure of the writeback is reported by the fsync of the
    // commit, through this same descriptor.
    if (kind_ == kind::TEMPORARY)
        sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

int target_file::close_in_place() {
    kind_ = kind::NONE;
    if (close(fd_) == 0)
        return 0;
    print_diagnostic("couldn't close %s: %s", target_name_.c_str(), std::strerror(errno));
    return -1;
}

int target_file::commit() {
    switch (kind_) {
    case kind::NONE:
    case kind::DESCRIPTOR:
        kind_ = kind::NONE;
        return 0;
    case kind::IN_PLACE:
        return close_in_place();
    case kind::TEMPORARY:
        break;
    }
    kind_ = kind::NONE;
    const char* temp = temp_name_.c_str();
    // The text reaches stable storage before the rename, so that a crash
    // right after it cannot leave an empty or partial file as the target.
    // The descriptor has been open since the file was created, so fsync
    // reports any writeback error of this file, and only of this file.
    int close_error = 0;
    if (fsync(fd_) != 0)
        close_error = errno;
    if (close(fd_) != 0 && close_error == 0)
        close_error = errno;
    if (close_error != 0) {
        print_diagnostic("couldn't close %s: %s", temp, std::strerror(close_error));
        remove_temporary();
        return -1;
    }
    if (std::rename(temp, target_name_.c_str()) != 0) {
        print_diagnostic("couldn't rename %s to %s: %s", temp, target_name_.c_str(),
                         std::strerror(errno));
        remove_temporary();
        return -1;
    }
    forget_temporary_file(temp);
    return 0;
}

void target_file::abort() {
    switch (kind_) {
    case kind::NONE:
    case kind::DESCRIPTOR:
        break;
    case kind::IN_PLACE:
        close_in_place();
        break;
    case kind::TEMPORARY:
        if (fd_ >= 0 && close(fd_) != 0)
            print_diagnostic("couldn't close %s: %s", temp_name_.c_str(), std::strerror(errno));
        remove_temporary();
        break;
    }
    kind_ = kind::NONE;
}
