// The steps of one file's conversion, the same for a single run and for each
// file of a folder.
#include "convert/file_conversion.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "common/diagnostic.h"
#include "common/platform.h"
#include "convert/engine.h"
#include "convert/file_check.h"
#include "convert/round_trip.h"
#include "convert/run_state.h"
#include "convert/skip_rules.h"
#include "convert/source_survey.h"
#include "convert/stream_names.h"

namespace {

// Opens the source: -1 after a message when it cannot be opened. A folder
// run's source was listed as a regular file, but the entry may have been
// replaced since, so it is opened without blocking (a FIFO would wait for a
// writer) and looked at again through the open descriptor. A standard stream
// closed when the run began stays closed, however it is named; one that is
// open is opened again by its name, as a shell would.
int open_source(const file_to_convert& file, bool& is_stream) {
    is_stream = file.source_is_stdin;
    if (file.source_is_stdin)
        return STDIN_FILENO;
    int flags = O_RDONLY | O_CLOEXEC;
    if (file.from_folder) {
        flags |= O_NONBLOCK | O_NOCTTY;
    } else {
        int stream;
        if (find_named_stream(file.source.shown, file.source.path, stream) != 0)
            return -1;
        is_stream = stream >= 0;
    }
    int fd = openat(file.source.folder, file.source.path, flags);
    if (fd < 0 && errno == EMFILE && file.make_room && file.make_room())
        fd = openat(file.source.folder, file.source.path, flags);
    if (fd < 0)
        print_diagnostic("couldn't open %s: %s", file.source.shown, std::strerror(errno));
    return fd;
}

// Messages held back while it is not known whether a file is left alone:
// given when it is not, in the order they came, dropped when it is.
class held_messages {
  public:
    explicit held_messages(bool holding) : holding_(holding) {
        if (holding_)
            outer_ = hold_diagnostics(&messages_);
    }
    ~held_messages() { give(); }
    held_messages(const held_messages&) = delete;
    held_messages& operator=(const held_messages&) = delete;

    void give() {
        if (!holding_)
            return;
        holding_ = false;
        hold_diagnostics(outer_);
        if (outer_)
            *outer_ += messages_;
        else
            write_held_diagnostics(messages_);
    }
    void drop() { messages_.clear(); }

  private:
    bool holding_;
    std::string messages_;
    std::string* outer_ = nullptr;
};

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
    if (file.source_is_stdin || file.target_is_stdout ||
        fstatat(file.target.folder, file.target.path, &target, 0) != 0 || !S_ISREG(target.st_mode))
        return false;
    timespec target_time = modification_time(target), source_time = modification_time(source);
    return target_time.tv_sec != source_time.tv_sec ? target_time.tv_sec > source_time.tv_sec
                                                    : target_time.tv_nsec >= source_time.tv_nsec;
}

// --keep-date: the new file gets the source's times before it is renamed.
// Only a regular file has times of its text: a stream, a descriptor, a
// device or a FIFO gives none.
int keep_source_date(const target_file& target, const struct stat& source, bool source_is_stream) {
    if (!target.is_new_file() || source_is_stream || !S_ISREG(source.st_mode))
        return 0;
    const timespec times[2] = {access_time(source), modification_time(source)};
    if (futimens(target.fd(), times) == 0)
        return 0;
    print_diagnostic("couldn't set the date of %s: %s", target.write_name(), std::strerror(errno));
    return -1;
}

// Opens the target: standard output, a stream named by path (written through
// its descriptor), or a file.
int open_target(const file_to_convert& file, mode_t new_file_mode, target_file& target) {
    int stream = file.target_is_stdout ? STDOUT_FILENO : -1;
    if (!file.target_is_stdout && !file.from_folder &&
        find_named_stream(file.target.shown, file.target.path, stream) != 0)
        return -1;
    if (stream < 0)
        return target.open(file.target, new_file_mode, file.make_room);
    target.open_stream(file.target.shown, stream);
    return 0;
}

// Converts the open source into the target, which it opens; CONVERTED with
// the text written and the target still to be committed. A folder run's
// existing target that already stands for its source is left alone
// (SKIPPED, without a word): the text is compared with it as it comes, and
// the new file is made only at the first difference.
file_outcome write_conversion(const file_to_convert& file, int source_fd, const struct stat* source,
                              bool source_is_stream, target_file& target) {
    // A new target gets the source's permission bits, as cp gives them.
    mode_t new_file_mode =
        source && !file.source_is_stdin && S_ISREG(source->st_mode) ? source->st_mode : 0666;
    std::uint64_t existing_size = 0;
    int existing = file.from_folder && source
                       ? open_target_to_compare(file.target, *source, existing_size)
                       : -1;
    if (existing >= 0) {
        target.name(file.target);
        target_stream.attach(-1);
        target_stream.compare_with(existing, existing_size);
        target_stream.open_at_first_difference([&] {
            return target.open(file.target, new_file_mode, file.make_room) == 0 ? target.fd() : -1;
        });
    } else {
        if (open_target(file, new_file_mode, target) != 0)
            return file_outcome::FAILED;
        if (source && is_source_itself(target, *source)) {
            print_diagnostic("couldn't open %s: it is the source file", file.target.shown);
            return file_outcome::FAILED;
        }
        target_stream.attach(target.fd());
    }
    if (existing >= 0 || target.is_new_file())
        target_stream.start_early_writeback();
    // In place, CP/M to CP/M, the records after the ^Z would be lost.
    bool cut_in_place = file.in_place && !source_is_host && !target_is_host;
    source_survey survey;
    if (cut_in_place)
        source_stream.observe(source_survey::take, &survey);
    held_messages messages(existing >= 0);
    int result = run_conversion(file.source.shown, target.write_name());
    if (existing >= 0) {
        if (target_stream.open_failed()) {
            close(existing);
            return file_outcome::FAILED;
        }
        bool stands_for_source = result == 0 && (!target_stream.differs() ||
                                                 converts_back_to_source(source_fd, existing));
        close(existing);
        if (stands_for_source) {
            messages.drop();
            return file_outcome::SKIPPED;
        }
        messages.give();
    }
    if (cut_in_place) {
        source_stream.drain();
        survey.finish();
        if (survey.records_after_end_mark() > 0) {
            report_skip(file.source.shown, SKIP_DATA_AFTER_END_MARK);
            return file_outcome::SKIPPED;
        }
    }
    if (result != 0)
        return file_outcome::FAILED;
    return keep_dates && source && keep_source_date(target, *source, source_is_stream) != 0
               ? file_outcome::FAILED
               : file_outcome::CONVERTED;
}

} // namespace

file_outcome convert_file(const file_to_convert& file, target_file& target) {
    bool source_is_stream;
    int source_fd = open_source(file, source_is_stream);
    if (source_fd < 0)
        return file_outcome::FAILED;
    struct stat source_status;
    bool source_known = fstat(source_fd, &source_status) == 0;
    // A folder run's source was listed as a regular file; one replaced since
    // by anything else is skipped.
    if (file.from_folder && (!source_known || !S_ISREG(source_status.st_mode))) {
        if (!source_known)
            print_diagnostic("couldn't open %s: %s", file.source.shown, std::strerror(errno));
        else
            report_skip(file.source.shown, SKIP_NOT_A_REGULAR_FILE);
        close(source_fd);
        return source_known ? file_outcome::SKIPPED : file_outcome::FAILED;
    }
    source_stream.attach(source_fd);
    // The type is known without reading; the bytes are read only for a file
    // that --update does not leave.
    bool look = !convert_binary_files && (file.from_folder || check_only);
    bool binary = look && has_binary_file_type(file.source.path);
    file_outcome outcome = file_outcome::FAILED;
    if (!binary && update_only && source_known && is_up_to_date(file, source_status)) {
        outcome = file_outcome::SKIPPED;
    } else if (binary || (look && has_binary_start(source_known ? &source_status : nullptr))) {
        if (check_only) {
            outcome = check_file(file, source_fd, true);
        } else {
            report_skip(file.source.shown, SKIP_BINARY_FILE);
            outcome = file_outcome::SKIPPED;
        }
    } else if (check_only) {
        outcome = check_file(file, source_fd, false);
    } else {
        outcome = write_conversion(file, source_fd, source_known ? &source_status : nullptr,
                                   source_is_stream, target);
    }
    // The source is closed before the target is renamed, so that a target
    // that is the source itself is replaced only once it has been read.
    if (!file.source_is_stdin && close(source_fd) != 0) {
        print_diagnostic("couldn't close %s: %s", file.source.shown, std::strerror(errno));
        outcome = file_outcome::FAILED;
    }
    if (outcome != file_outcome::CONVERTED)
        target.abort();
    return outcome;
}
