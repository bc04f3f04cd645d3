// Block reads and writes with EINTR retried and short writes completed.
#include "common/byte_stream.h"

#include "common/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Reads exactly count bytes of fd into bytes, or fewer at its end.
std::size_t read_fully(int fd, unsigned char* bytes, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        ssize_t got = ::read(fd, bytes + done, count - done);
        if (got > 0)
            done += static_cast<std::size_t>(got);
        else if (got == 0 || errno != EINTR)
            break;
    }
    return done;
}

// Writes count bytes at bytes to fd, retrying after a signal and after a
// short write: the one loop every write of the program goes through.
struct write_outcome {
    std::size_t written = 0;
    int error_number = 0; ///< what stopped it, 0 when all was written
};

write_outcome write_fully(int fd, const unsigned char* bytes, std::size_t count) {
    write_outcome outcome;
    while (outcome.written < count) {
        ssize_t written = ::write(fd, bytes + outcome.written, count - outcome.written);
        if (written > 0) {
            outcome.written += static_cast<std::size_t>(written);
        } else if (written == 0 || errno != EINTR) {
            outcome.error_number = written == 0 ? EIO : errno;
            break;
        }
    }
    return outcome;
}

// How much written data to gather before asking for its writeback.
constexpr std::uint64_t WRITEBACK_STEP = 8 * 1024 * 1024;

} // namespace

void byte_reader::attach(int fd) {
    fd_ = fd;
    observer_ = nullptr;
    at_end_ = false;
    unannounced_ = false;
    failed_ = false;
    error_number_ = 0;
    start_ = end_ = 0;
}

void byte_reader::fill_to(std::size_t count) {
    while (available() < count && end_ < STREAM_BUFFER_SIZE && fill()) {
    }
    // The bytes read are still to be handed over by the next fill(), which
    // would otherwise look only for more, and may meet the end.
    unannounced_ = available() > 0;
}

bool byte_reader::fill() {
    if (unannounced_) {
        unannounced_ = false;
        return true;
    }
    if (at_end_ || failed_)
        return false;
    if (start_ == end_) {
        start_ = end_ = 0;
    } else if (end_ == STREAM_BUFFER_SIZE) {
        // A buffer full of unconsumed bytes has no room for more, and a read
        // of no bytes would look like the end of the input.
        if (start_ == 0)
            return true;
        std::memmove(buffer_, buffer_ + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    for (;;) {
        ssize_t count = ::read(fd_, buffer_ + end_, STREAM_BUFFER_SIZE - end_);
        if (count > 0) {
            std::size_t from = end_;
            end_ += static_cast<std::size_t>(count);
            if (observer_)
                observer_(observer_context_, buffer_ + from, end_ - from);
            return true;
        }
        if (count == 0) {
            at_end_ = true;
            return false;
        }
        if (errno != EINTR) {
            fail(errno);
            return false;
        }
    }
}

void byte_reader::drain() {
    if (!observer_)
        return;
    for (;;) {
        ssize_t count = ::read(fd_, buffer_, STREAM_BUFFER_SIZE);
        if (count > 0)
            observer_(observer_context_, buffer_, static_cast<std::size_t>(count));
        else if (count == 0 || errno != EINTR)
            break;
    }
    start_ = end_ = 0;
    at_end_ = true;
}

void byte_reader::fail(int error_number) {
    failed_ = true;
    error_number_ = error_number;
}

void byte_writer::attach(int fd) {
    fd_ = fd;
    compare_fd_ = -1;
    differs_ = false;
    open_ = nullptr;
    open_failed_ = false;
    matched_ = 0;
    failed_ = false;
    refusing_ = false;
    early_writeback_ = false;
    error_number_ = 0;
    bytes_written_ = 0;
    written_back_ = 0;
    handed_over_ = 0;
    used_ = 0;
}

void byte_writer::kick_writeback() {
    // Only a start: an error of the writeback is reported by the fsync of
    // the commit, through this descriptor, which stays open until then.
    start_writeback(fd_, static_cast<off_t>(written_back_),
                    static_cast<off_t>(handed_over_ - written_back_));
    written_back_ = handed_over_;
}

// Takes note of a write of handed bytes of which the system took done.
void byte_writer::account(std::size_t handed, std::size_t done, int error_number) {
    handed_over_ += done;
    if (error_number != 0) {
        // The target is broken: keep its error and stop handing it data,
        // but let the conversion run on to its end as a stream would.
        fail(error_number);
        refusing_ = true;
        bytes_written_ -= handed - done;
    }
    if (early_writeback_ && handed_over_ - written_back_ >= WRITEBACK_STEP)
        kick_writeback();
}

// Hands the buffered bytes to the system, or compares them, or both.
void byte_writer::hand_over() {
    if (compare_fd_ >= 0)
        compare_buffer();
    if (differs_ && open_)
        open_deferred();
    if (fd_ < 0) {
        matched_ += used_;
    } else if (refusing_) {
        bytes_written_ -= used_;
    } else {
        write_outcome outcome = write_fully(fd_, buffer_, used_);
        account(used_, outcome.written, outcome.error_number);
    }
    used_ = 0;
}

void byte_writer::write(const unsigned char* bytes, std::size_t count) {
    while (count > 0) {
        if (used_ == WRITE_BUFFER_SIZE)
            hand_over();
        std::size_t room = WRITE_BUFFER_SIZE - used_;
        std::size_t part = count < room ? count : room;
        std::memcpy(buffer_ + used_, bytes, part);
        used_ += part;
        bytes_written_ += part;
        bytes += part;
        count -= part;
    }
}

void byte_writer::compare_with(int fd, std::uint64_t size) {
    compare_fd_ = fd;
    compare_size_ = size;
    compared_ = 0;
    differs_ = false;
}

// Block by block; once a difference is found, the rest is only written.
void byte_writer::compare_buffer() {
    static unsigned char existing[STREAM_BUFFER_SIZE];
    compared_ += used_;
    // A file of known size that is too short differs without a read.
    if (compare_size_ != UNKNOWN_SIZE && compared_ > compare_size_)
        differs_ = true;
    for (std::size_t at = 0; at < used_ && !differs_; at += STREAM_BUFFER_SIZE) {
        std::size_t part = std::min(used_ - at, STREAM_BUFFER_SIZE);
        if (read_fully(compare_fd_, existing, part) != part ||
            std::memcmp(existing, buffer_ + at, part) != 0)
            differs_ = true;
    }
}

void byte_writer::finish_comparison() {
    flush();
    unsigned char more;
    if (compare_fd_ >= 0 && !differs_ &&
        (compare_size_ != UNKNOWN_SIZE ? compared_ != compare_size_
                                       : read_fully(compare_fd_, &more, 1) != 0))
        differs_ = true;
    // The compared file is longer: all that was written is its start.
    if (differs_ && open_)
        open_deferred();
    compare_fd_ = -1;
}

void byte_writer::open_deferred() {
    int fd = open_();
    open_ = nullptr;
    if (fd < 0) {
        open_failed_ = true;
        refusing_ = true;
        return;
    }
    fd_ = fd;
    static unsigned char start[STREAM_BUFFER_SIZE];
    for (std::uint64_t at = 0; at < matched_ && !refusing_;) {
        std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(matched_ - at, sizeof start));
        ssize_t got = pread(compare_fd_, start, part, static_cast<off_t>(at));
        if (got <= 0) {
            if (got < 0 && errno == EINTR)
                continue;
            fail(got < 0 ? errno : EIO);
            refusing_ = true;
            break;
        }
        write_outcome outcome = write_fully(fd_, start, static_cast<std::size_t>(got));
        account(static_cast<std::size_t>(got), outcome.written, outcome.error_number);
        at += static_cast<std::uint64_t>(got);
    }
}

void byte_writer::flush() {
    hand_over();
}

void byte_writer::fail(int error_number) {
    failed_ = true;
    error_number_ = error_number;
}
