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
#include "convert/run_state.h"

bool convert_binary_files;

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
        print_diagnostic("couldn't open %s: %s", file.source, std::strerror(closed ? EBADF : errno));
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

} // namespace

file_outcome convert_file(const file_to_convert& file, target_file& target) {
    int source_fd = open_source(file);
    if (source_fd < 0)
        return file_outcome::FAILED;
    struct stat source_status;
    bool source_known = fstat(source_fd, &source_status) == 0;
    if (file.from_folder) {
        const char* reason = source_known ? reason_to_skip(file, source_status) : nullptr;
        if (!source_known || reason) {
            if (reason)
                print_diagnostic("skipping %s: %s", file.source, reason);
            else
                print_diagnostic("couldn't open %s: %s", file.source, std::strerror(errno));
            close(source_fd);
            return reason ? file_outcome::SKIPPED : file_outcome::FAILED;
        }
    }
    source_stream.attach(source_fd);
    bool check_binary = file.from_folder && !convert_binary_files;
    if (check_binary)
        source_stream.stop_at_nul(source_is_host ? -1 : CPM_END_MARK);

    // A new target gets the source's permission bits, as cp gives them.
    mode_t new_file_mode =
        source_known && !file.source_is_stdin && S_ISREG(source_status.st_mode)
            ? source_status.st_mode
            : 0666;
    bool failed = target.open(file.target, file.target_is_stdout, new_file_mode) != 0;
    if (!failed && source_known && is_source_itself(target, source_status)) {
        print_diagnostic("couldn't open %s: it is the source file", file.target);
        failed = true;
    } else if (!failed) {
        target_stream.attach(target.fd());
        if (target.is_new_file())
            target_stream.start_early_writeback();
        failed = run_conversion(file.source, target.write_name()) != 0;
    }
    bool binary = check_binary && source_stream.found_nul();
    // The source is closed before the target is renamed, so that a target
    // that is the source itself is replaced only once it has been read.
    if (!file.source_is_stdin && close(source_fd) != 0) {
        print_diagnostic("couldn't close %s: %s", file.source, std::strerror(errno));
        failed = true;
    }
    if (!failed)
        return file_outcome::CONVERTED;
    target.abort();
    if (binary) {
        print_diagnostic("skipping %s: a binary file", file.source);
        return file_outcome::SKIPPED;
    }
    return file_outcome::FAILED;
}
