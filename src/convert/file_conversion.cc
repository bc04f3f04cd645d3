// The steps of one file's conversion, the same for a single run and for each
// file of a folder.
#include "convert/file_conversion.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/diagnostic.h"
#include "convert/binary_file.h"
#include "convert/engine.h"
#include "convert/file_check.h"
#include "convert/run_state.h"

namespace {

// Opens the source: -1 after a message when it cannot be opened. A folder
// run's source was listed as a regular file, but the entry may have been
// replaced since, so it is opened without blocking (a FIFO would wait for a
// writer) and looked at again through the open descriptor.
int open_source(const file_to_convert& file) {
    if (file.source_is_stdin)
        return STDIN_FILENO;
    int flags = O_RDONLY | O_CLOEXEC;
    if (file.from_folder)
        flags |= O_NONBLOCK | O_NOCTTY;
    // A standard stream closed when the run began stays closed, also when
    // named by path.
    bool closed = was_closed_at_start(descriptor_named_by(file.source));
    int fd = closed ? -1 : open(file.source, flags);
    if (fd < 0)
        print_diagnostic("couldn't open %s: %s", file.source,
                         std::strerror(closed ? EBADF : errno));
    return fd;
}

// Why a folder run's open source is skipped, or null.
const char* reason_to_skip(const file_to_convert& file, const struct stat& status) {
    if (!S_ISREG(status.st_mode))
        return "not a regular file";
    if (!convert_binary_files && has_binary_file_type(file.source))
        return "a binary file";
    return nullptr;
}

// Whether the target is written straight into the source file itself, as
// "< f >> f" or "3<>f" would make it: the text would be read back as it is
// written, without end. Through a new file and a rename it is safe.
bool is_source_itself(const target_file& target, const struct stat& source) {
    struct stat written;
    return target.is_written_directly() && S_ISREG(source.st_mode) &&
           fstat(target.fd(), &written) == 0 && written.st_dev == source.st_dev &&
           written.st_ino == source.st_ino;
}

// --update: whether the target exists and is at least as new as the source,
// to the nanosecond.
bool is_up_to_date(const file_to_convert& file, const struct stat& source) {
    struct stat target;
    if (file.source_is_stdin || file.target_is_stdout || stat(file.target, &target) != 0 ||
        !S_ISREG(target.st_mode))
        return false;
    return target.st_mtim.tv_sec != source.st_mtim.tv_sec
               ? target.st_mtim.tv_sec > source.st_mtim.tv_sec
               : target.st_mtim.tv_nsec >= source.st_mtim.tv_nsec;
}

// --keep-date: the new file gets the source's times before it is renamed.
int keep_source_date(const target_file& target, const struct stat& source) {
    if (!target.is_new_file())
        return 0;
    const timespec times[2] = {source.st_atim, source.st_mtim};
    if (futimens(target.fd(), times) == 0)
        return 0;
    print_diagnostic("couldn't set the date of %s: %s", target.write_name(), std::strerror(errno));
    return -1;
}

// Converts the open source into the target, which it opens; CONVERTED with
// the text written and the target still to be committed.
file_outcome write_conversion(const file_to_convert& file, int source_fd, const struct stat* source,
                              target_file& target) {
    source_stream.attach(source_fd);
    bool check_binary = file.from_folder && !convert_binary_files;
    if (check_binary)
        source_stream.stop_at_nul(source_is_host ? -1 : CPM_END_MARK);
    // A new target gets the source's permission bits, as cp gives them.
    mode_t new_file_mode =
        source && !file.source_is_stdin && S_ISREG(source->st_mode) ? source->st_mode : 0666;
    if (target.open(file.target, file.target_is_stdout, new_file_mode) != 0)
        return file_outcome::FAILED;
    if (source && is_source_itself(target, *source)) {
        print_diagnostic("couldn't open %s: it is the source file", file.target);
        return file_outcome::FAILED;
    }
    target_stream.attach(target.fd());
    if (target.is_new_file())
        target_stream.start_early_writeback();
    if (run_conversion(file.source, target.write_name()) == 0)
        return keep_dates && source && keep_source_date(target, *source) != 0
                   ? file_outcome::FAILED
                   : file_outcome::CONVERTED;
    if (!check_binary || !source_stream.found_nul())
        return file_outcome::FAILED;
    print_diagnostic("skipping %s: a binary file", file.source);
    return file_outcome::SKIPPED;
}

} // namespace

file_outcome convert_file(const file_to_convert& file, target_file& target) {
    int source_fd = open_source(file);
    if (source_fd < 0)
        return file_outcome::FAILED;
    struct stat source_status;
    bool source_known = fstat(source_fd, &source_status) == 0;
    file_outcome outcome = file_outcome::FAILED;
    if (file.from_folder) {
        const char* reason = source_known ? reason_to_skip(file, source_status) : nullptr;
        if (!source_known || reason) {
            // A check reports a binary file on its own line instead.
            bool checked_binary = reason && check_only && S_ISREG(source_status.st_mode);
            if (!source_known)
                print_diagnostic("couldn't open %s: %s", file.source, std::strerror(errno));
            else if (!checked_binary)
                print_diagnostic("skipping %s: %s", file.source, reason);
            outcome = checked_binary ? check_file(file, source_fd)
                      : reason       ? file_outcome::SKIPPED
                                     : file_outcome::FAILED;
            close(source_fd);
            return outcome;
        }
    }
    if (update_only && source_known && is_up_to_date(file, source_status)) {
        outcome = file_outcome::SKIPPED;
    } else if (check_only) {
        outcome = check_file(file, source_fd);
    } else {
        outcome =
            write_conversion(file, source_fd, source_known ? &source_status : nullptr, target);
    }
    // The source is closed before the target is renamed, so that a target
    // that is the source itself is replaced only once it has been read.
    if (!file.source_is_stdin && close(source_fd) != 0) {
        print_diagnostic("couldn't close %s: %s", file.source, std::strerror(errno));
        outcome = file_outcome::FAILED;
    }
    if (outcome != file_outcome::CONVERTED)
        target.abort();
    return outcome;
}
