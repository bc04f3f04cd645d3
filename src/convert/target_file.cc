// Opening, committing and abandoning the target.
#include "convert/target_file.h"

#include <cerrno>
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

// The target exists and is something other than a regular file or a
// directory: a device, a FIFO, a socket. Renaming over it would swap the node
// for a plain file, so it is written directly, as a shell redirection would.
bool is_special_file(const char* name) {
    struct stat status;
    if (stat(name, &status) != 0)
        return false;
    return !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
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
        long fd = 0;
        for (; *digits >= '0' && *digits <= '9'; ++digits) {
            fd = fd * 10 + (*digits - '0');
            if (fd > 0x7FFFFFFF)
                return -1;
        }
        return *digits == '\0' ? static_cast<int>(fd) : -1;
    }
    return -1;
}

bool is_temporary_name(const std::string& name) {
    static const std::string MARK = ".temp.";
    std::size_t digits = name.find_last_not_of("0123456789");
    if (digits == std::string::npos || digits + 1 == name.size())
        return false;
    return digits + 1 >= MARK.size() && name.compare(digits + 1 - MARK.size(), MARK.size(), MARK) == 0;
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
    if (!is_special_file(name))
        return open_temporary(new_file_mode);
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
// of this run's own. It is private while it is written; its own permissions
// are set just before the commit.
int target_file::open_temporary(mode_t new_file_mode) {
    struct stat replaced;
    if (stat(target_name_.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode)) {
        mode_ = replaced.st_mode & 0777;
        keeps_owner_ = true;
        owner_ = replaced.st_uid;
        group_ = replaced.st_gid;
    } else {
        mode_ = new_file_mode & 0777 & ~process_umask();
        keeps_owner_ = false;
    }
    temp_name_ = target_name_;
    temp_name_ += ".temp." + std::to_string(static_cast<unsigned long>(getpid()));
    const char* temp = temp_name_.c_str();
    remember_temporary_file(temp);
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    fd_ = ::open(temp, flags, 0600);
    // Usually nothing is there; a leftover is removed and the file created
    // once more, still exclusively.
    if (fd_ < 0 && errno == EEXIST) {
        if (unlink(temp) != 0 && errno != ENOENT) {
            print_diagnostic("couldn't open %s: %s", temp, std::strerror(errno));
            forget_temporary_file(temp);
            return -1;
        }
        fd_ = ::open(temp, flags, 0600);
    }
    if (fd_ < 0) {
        print_diagnostic("couldn't open %s: %s", temp, std::strerror(errno));
        forget_temporary_file(temp);
        return -1;
    }
    kind_ = kind::TEMPORARY;
    return 0;
}

// Gives the new file the permissions (and owner) it is to have as the target.
// Where the owner or group of the replaced file cannot be kept, the file is
// made no more open than the old one: only its owner's bits are kept.
int target_file::set_permissions() {
    mode_t mode = mode_;
    if (keeps_owner_) {
        struct stat created;
        if (fstat(fd_, &created) != 0)
            return -1;
        if ((created.st_uid != owner_ || created.st_gid != group_) &&
            fchown(fd_, owner_, group_) != 0) {
            mode &= 0700;
            print_diagnostic("warning: %s: owner or group not kept", target_name_.c_str());
        }
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
    if (set_permissions() != 0 || fsync(fd_) != 0)
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
