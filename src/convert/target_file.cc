// Opening, committing and abandoning the target.
#include "convert/target_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/diagnostic.h"
#include "common/platform.h"
#include "convert/run_exit.h"
#include "convert/stream_names.h"

namespace {

// The longest name of one component that the file systems we run on take.
constexpr std::size_t LONGEST_NAME = 255;

// The umask, which can only be read by setting it; it is read once, at the
// first open, before anything else could look at it.
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

// The part of path before its last component, with its slash.
std::string folder_part(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool is_device_or_fifo(mode_t mode) {
    return S_ISCHR(mode) || S_ISBLK(mode) || S_ISFIFO(mode) || S_ISSOCK(mode);
}

} // namespace

bool is_temporary_name(const std::string& name) {
    static const std::string MARK = ".temp.";
    std::size_t digits = name.find_last_not_of("0123456789");
    if (digits == std::string::npos || digits + 1 == name.size())
        return false;
    return digits + 1 >= MARK.size() &&
           name.compare(digits + 1 - MARK.size(), MARK.size(), MARK) == 0;
}

std::string temporary_name_for(const std::string& name, unsigned long pid, unsigned long sequence) {
    std::string suffix = ".temp." + std::to_string(pid);
    if (name.size() + suffix.size() <= LONGEST_NAME)
        return name + suffix;
    suffix = "~" + std::to_string(sequence) + suffix;
    return name.substr(0, LONGEST_NAME - suffix.size()) + suffix;
}

target_file::~target_file() {
    if (kind_ == kind::IN_PLACE || kind_ == kind::TEMPORARY)
        abort();
}

void target_file::open_stream(const char* shown, int fd) {
    shown_ = shown;
    kind_ = kind::DESCRIPTOR;
    fd_ = fd;
}

void target_file::name(const named_file& target) {
    if (!path_.empty())
        return;
    shown_ = target.shown;
    folder_ = target.folder;
    path_ = target.path;
    static unsigned long sequence = 0;
    std::string last = path_.substr(folder_part(path_).size());
    std::string temp_last = temporary_name_for(last, process_id(), ++sequence);
    temp_path_ = folder_part(path_) + temp_last;
    bool shortened = temp_last.compare(0, last.size(), last) != 0;
    temp_shown_ = shortened ? folder_part(shown_) + shown_name(temp_last.c_str())
                            : shown_ + temp_last.substr(last.size());
}

int target_file::open(const named_file& target, mode_t new_file_mode,
                      const std::function<bool()>& make_room) {
    name(target);
    struct stat existing;
    bool exists = fstatat(folder_, target.path, &existing, AT_SYMLINK_NOFOLLOW) == 0;
    // A device, a FIFO or a socket is written directly, as a shell
    // redirection would: renaming over it would swap the node for a plain
    // file.
    if (exists && is_device_or_fifo(existing.st_mode))
        return open_in_place(existing);
    int refusal = 0;
    if (exists && S_ISDIR(existing.st_mode))
        refusal = EISDIR;
    else if (is_in_device_folder(folder_, target.path))
        refusal = EPERM;
    if (refusal != 0) {
        print_diagnostic("couldn't open %s: %s", target.shown, std::strerror(refusal));
        return -1;
    }
    // Anything else, a link included, is replaced by a new file.
    return open_temporary(exists && S_ISREG(existing.st_mode) ? &existing : nullptr,
                          new_file_mode, make_room);
}

// The node is opened without following a link, then held against what was
// looked at: a link or another node swapped in between the two is refused,
// so nothing else is ever written. A FIFO is opened without waiting where it
// has a reader, and waits for one, as a shell's redirection does, where it
// has none yet.
int target_file::open_in_place(const struct stat& looked_at) {
    int flags = O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
    if (S_ISFIFO(looked_at.st_mode))
        flags |= O_NONBLOCK;
    fd_ = openat(folder_, path_.c_str(), flags);
    if (fd_ < 0 && errno == ENXIO && (flags & O_NONBLOCK)) {
        flags &= ~O_NONBLOCK;
        fd_ = openat(folder_, path_.c_str(), flags);
    }
    struct stat opened;
    int error = fd_ < 0 ? errno : 0;
    if (fd_ >= 0 && (fstat(fd_, &opened) != 0 || opened.st_dev != looked_at.st_dev ||
                     opened.st_ino != looked_at.st_ino))
        error = ELOOP;
    if (error == 0 && (flags & O_NONBLOCK) &&
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK) != 0)
        error = errno;
    if (error != 0) {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
        print_diagnostic("couldn't open %s: %s", shown_.c_str(), std::strerror(error));
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
int target_file::open_temporary(const struct stat* replaced, mode_t new_file_mode,
                                const std::function<bool()>& make_room) {
    const char* temp = temp_path_.c_str();
    remember_temporary_file(folder_, temp);
    mode_t mode = replaced ? replaced->st_mode & 0777 : new_file_mode & 0777 & ~process_umask();
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    fd_ = openat(folder_, temp, flags, mode);
    if (fd_ < 0 && errno == EMFILE && make_room && make_room())
        fd_ = openat(folder_, temp, flags, mode);
    // Usually nothing is there; a leftover is removed and the file created
    // once more, still exclusively.
    if (fd_ < 0 && errno == EEXIST) {
        if (unlinkat(folder_, temp, 0) != 0 && errno != ENOENT) {
            print_diagnostic("couldn't open %s: %s", temp_shown_.c_str(), std::strerror(errno));
            forget_temporary_file(temp);
            return -1;
        }
        fd_ = openat(folder_, temp, flags, mode);
    }
    if (fd_ < 0) {
        print_diagnostic("couldn't open %s: %s", temp_shown_.c_str(), std::strerror(errno));
        forget_temporary_file(temp);
        return -1;
    }
    kind_ = kind::TEMPORARY;
    if (set_permissions(replaced, mode) == 0)
        return 0;
    print_diagnostic("couldn't open %s: %s", temp_shown_.c_str(), std::strerror(errno));
    abort();
    return -1;
}

// The umask narrows the mode a file is created with; a file that replaces
// another takes over its bits and its access ACL exactly. Where the owner or
// group of the replaced file, or its ACL, cannot be kept, the file is made no
// more open than the old one: only its owner's bits are kept. (With an ACL
// the group bits are the ACL's mask, which would open the file to its group
// if they were kept alone.)
int target_file::set_permissions(const struct stat* replaced, mode_t mode) {
    if (!replaced)
        return (mode & ~process_umask()) == mode ? 0 : fchmod(fd_, mode);
    struct stat created;
    if (fstat(fd_, &created) != 0)
        return -1;
    bool owner_kept = (created.st_uid == replaced->st_uid && created.st_gid == replaced->st_gid) ||
                      fchown(fd_, replaced->st_uid, replaced->st_gid) == 0;
    if (!owner_kept) {
        mode &= 0700;
        print_diagnostic("warning: %s: owner or group not kept", shown_.c_str());
    }
    std::string acl;
    int has_acl = owner_kept ? read_access_acl(folder_, path_.c_str(), acl) : 0;
    if ((created.st_mode & 07777) != mode && fchmod(fd_, mode) != 0)
        return -1;
    if (has_acl == 0 || (has_acl == 1 && write_access_acl(fd_, acl) == 0))
        return 0;
    print_diagnostic("warning: %s: ACL not kept", shown_.c_str());
    return fchmod(fd_, mode & 0700);
}

void target_file::remove_temporary() {
    unlinkat(folder_, temp_path_.c_str(), 0);
    forget_temporary_file(temp_path_.c_str());
}

const char* target_file::write_name() const {
    bool direct = kind_ == kind::DESCRIPTOR || kind_ == kind::IN_PLACE;
    return direct || temp_shown_.empty() ? shown_.c_str() : temp_shown_.c_str();
}

void target_file::start_writeback() {
    // Only a start: a failure of the writeback is reported by the fsync of the
    // commit, through this same descriptor.
    if (kind_ == kind::TEMPORARY)
        ::start_writeback(fd_, 0, 0);
}

int target_file::close_in_place() {
    kind_ = kind::NONE;
    if (close(fd_) == 0)
        return 0;
    print_diagnostic("couldn't close %s: %s", shown_.c_str(), std::strerror(errno));
    return -1;
}

int target_file::commit(bool on_stable_storage) {
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
    const char* temp = temp_path_.c_str();
    // The text reaches stable storage before the rename, so that a crash
    // right after it cannot leave an empty or partial file as the target.
    // The descriptor has been open since the file was created, so fsync
    // reports any writeback error of this file, and only of this file.
    int close_error = 0;
    if (!on_stable_storage && sync_file(fd_) != 0)
        close_error = errno;
    if (close(fd_) != 0 && close_error == 0)
        close_error = errno;
    if (close_error != 0) {
        print_diagnostic("couldn't close %s: %s", temp_shown_.c_str(), std::strerror(close_error));
        remove_temporary();
        return -1;
    }
    if (renameat(folder_, temp, folder_, path_.c_str()) != 0) {
        print_diagnostic("couldn't rename %s to %s: %s", temp_shown_.c_str(), shown_.c_str(),
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
            print_diagnostic("couldn't close %s: %s", temp_shown_.c_str(), std::strerror(errno));
        remove_temporary();
        break;
    }
    kind_ = kind::NONE;
}
