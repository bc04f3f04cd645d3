// Source and target streams: a file descriptor with a fixed block buffer, so
// that the conversion makes one system call per block, never per character,
// and uses the same memory whatever the size of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

constexpr std::size_t STREAM_BUFFER_SIZE = 64 * 1024;
/// A writer's buffer, handed to the system whole.
constexpr std::size_t WRITE_BUFFER_SIZE = 64 * 1024;
/// How far past the data a reader's buffer may be read.
constexpr std::size_t STREAM_READ_SLACK = 64;

/// Reads a descriptor in blocks. Like a stdio stream it keeps an error
/// indicator, and with it the error number of the failure.
class byte_reader {
  public:
    /// Starts reading fd from the beginning of a fresh buffer.
    void attach(int fd);
    int fd() const { return fd_; }

    /// Makes more bytes available after those not yet consumed. Returns false
    /// at the end of the input or after a failure, which sets the indicator;
    /// true, with nothing new, when the buffer is already full.
    bool fill();
    const unsigned char* data() const { return buffer_ + start_; }
    std::size_t available() const { return end_ - start_; }
    void consume(std::size_t count) { start_ += count; }

    /// Fills the buffer until count bytes (at most STREAM_BUFFER_SIZE) are
    /// available, the input ends or reading fails: a look at the start of
    /// the input before anyone consumes it.
    void fill_to(std::size_t count);
    /// Whether the end of the input has been read.
    bool at_end() const { return at_end_; }

    /// Sets the error indicator: reading ends as if at the end of input.
    void fail(int error_number);
    bool failed() const { return failed_; }
    int error_number() const { return error_number_; }

    /// Hands the bytes not yet consumed, and every block read from now on,
    /// to observer, with context, before anyone consumes them: a survey of
    /// the whole input.
    using observer = void (*)(void* context, const unsigned char* bytes, std::size_t count);
    void observe(observer look, void* context) {
        observer_ = look;
        observer_context_ = context;
        if (available() > 0)
            look(context, data(), available());
    }
    /// Reads the rest of the input for the observer alone, whatever the
    /// reader stopped at; an unreadable rest ends it silently.
    void drain();

  private:
    int fd_ = -1;
    bool at_end_ = false;
    /// fill_to read bytes that the next fill() still hands over, also at the
    /// end of the input.
    bool unannounced_ = false;
    bool failed_ = false;
    observer observer_ = nullptr;
    void* observer_context_ = nullptr;
    int error_number_ = 0;
    std::size_t start_ = 0;
    std::size_t end_ = 0;
    /// Room after the data, so that a block of it may be read a whole
    /// block past its end.
    unsigned char buffer_[STREAM_BUFFER_SIZE + STREAM_READ_SLACK];
};

/// Writes a descriptor in blocks. A failed write(2) sets the error indicator
/// and every later byte is dropped; fail() sets the indicator alone.
class byte_writer {
  public:
    void attach(int fd);
    int fd() const { return fd_; }

    void put(unsigned char byte) {
        if (used_ == WRITE_BUFFER_SIZE)
            hand_over();
        buffer_[used_++] = byte;
        ++bytes_written_;
    }
    void write(const unsigned char* bytes, std::size_t count);

    /// Room for count bytes (at most WRITE_BUFFER_SIZE) written straight into
    /// the buffer; commit() then takes those up to end.
    unsigned char* reserve(std::size_t count) {
        if (WRITE_BUFFER_SIZE - used_ < count)
            hand_over();
        return buffer_ + used_;
    }
    void commit(const unsigned char* end) {
        auto count = static_cast<std::size_t>(end - (buffer_ + used_));
        used_ += count;
        bytes_written_ += count;
    }
    /// Hands the buffered bytes to the system.
    void flush();

    /// Bytes the stream has taken, not counting those it dropped after a
    /// failed write(2).
    std::uint64_t bytes_written() const { return bytes_written_; }

    void fail(int error_number);
    bool failed() const { return failed_; }
    int error_number() const { return error_number_; }

    /// Compares what is written with the content of fd, read from where it
    /// stands, as it is written (a stream attached to -1 writes nothing, as
    /// a check does); size, where known, is how much is left to read there.
    /// Whether the two differ is known once finish_comparison has looked for
    /// more.
    static constexpr std::uint64_t UNKNOWN_SIZE = ~std::uint64_t{0};
    void compare_with(int fd, std::uint64_t size = UNKNOWN_SIZE);
    void finish_comparison();
    bool differs() const { return differs_; }

    /// On a stream attached to -1 and comparing: nothing is written while
    /// the text matches the compared file, so that a file that would come
    /// out the same is never made. At the first difference open gives the
    /// descriptor to write to (or -1 after its own message), and the start
    /// that matched is copied into it from the compared file.
    void open_at_first_difference(std::function<int()> open) { open_ = std::move(open); }
    /// Whether that open failed; the stream then writes nothing.
    bool open_failed() const { return open_failed_; }

    /// For a file that will be forced to stable storage when complete: starts
    /// writing each few megabytes back to the disk as soon as they are
    /// written, so that the final fsync has little left to wait for.
    void start_early_writeback() { early_writeback_ = true; }

  private:
    void hand_over();
    void account(std::size_t handed, std::size_t done, int error_number);
    void kick_writeback();
    void compare_buffer();
    void open_deferred();

    int fd_ = -1;
    bool failed_ = false;
    bool refusing_ = false;
    bool early_writeback_ = false;
    int compare_fd_ = -1;
    bool differs_ = false;
    std::function<int()> open_;
    bool open_failed_ = false;
    std::uint64_t matched_ = 0; ///< bytes that matched and were not written
    std::uint64_t compare_size_ = UNKNOWN_SIZE;
    std::uint64_t compared_ = 0; ///< bytes compared so far
    std::uint64_t written_back_ = 0;
    std::uint64_t handed_over_ = 0;
    int error_number_ = 0;
    std::uint64_t bytes_written_ = 0;
    std::size_t used_ = 0;
    unsigned char buffer_[WRITE_BUFFER_SIZE];
};
