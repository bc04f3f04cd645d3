// sched_getaffinity is a GNU interface, declared by every C library for
// Linux under this name.
#if defined(__linux__) && !defined(_GNU_SOURCE)
#define _GNU_SOURCE 1
#endif
#include "common/background_write.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>
#ifdef __linux__
#include <sched.h>
#endif

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

namespace {

// A pause in a loop that waits for the other thread: the processor's hint
// that this is such a loop, where it has one.
inline void pause_briefly() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__) || (defined(__arm__) && defined(__ARM_ARCH) && __ARM_ARCH >= 7)
    __asm__ __volatile__("yield");
#endif
}

// How long a thread looks for the other's news before it sleeps: a
// sleeping thread takes some tens of microseconds to wake, about as long as
// a buffer takes to fill or to write, so that sleeping at every hand-over
// would cost as much as the writing saves.
constexpr auto SPIN_BEFORE_SLEEP = std::chrono::microseconds(20);
constexpr int SPINS_BETWEEN_CLOCK_READINGS = 64;

// The work handed to the thread, and its result. The flags are read
// without the lock while a thread spins; they change under it, so that a
// sleeper is woken.
struct background_writer {
    std::mutex lock;
    std::condition_variable changed;
    std::atomic<bool> started{false}; ///< a write waits for the thread
    std::atomic<bool> done{false};    ///< the thread finished it
    int fd = -1;
    const unsigned char* bytes = nullptr;
    std::size_t count = 0;
    write_outcome outcome;

    // Waits until flag is set: first spinning, then asleep.
    void wait_for(const std::atomic<bool>& flag) {
        auto until = std::chrono::steady_clock::now() + SPIN_BEFORE_SLEEP;
        do {
            for (int spin = 0; spin < SPINS_BETWEEN_CLOCK_READINGS; ++spin) {
                if (flag.load(std::memory_order_acquire))
                    return;
                pause_briefly();
            }
        } while (std::chrono::steady_clock::now() < until);
        std::unique_lock<std::mutex> held(lock);
        changed.wait(held, [&flag] { return flag.load(std::memory_order_acquire); });
    }
    void set(std::atomic<bool>& flag) {
        std::lock_guard<std::mutex> held(lock);
        flag.store(true, std::memory_order_release);
        changed.notify_all();
    }

    void serve() {
        for (;;) {
            wait_for(started);
            started.store(false, std::memory_order_relaxed);
            outcome = write_fully(fd, bytes, count);
            set(done);
        }
    }
};

// Made once and never destroyed: the thread waits on it until the process
// ends, and a destructor run at exit would pull it from under the thread.
background_writer* writer = nullptr;
bool no_thread = false;

// A second thread pays only where a second processor runs it: on one, the
// two threads would take turns, each spinning in the other's time.
bool two_processors_at_hand() {
    long online = sysconf(_SC_NPROCESSORS_ONLN);
#ifdef __linux__
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) < online)
        online = CPU_COUNT(&allowed);
#endif
    return online >= 2;
}

} // namespace

bool start_background_write(int fd, const unsigned char* bytes, std::size_t count) {
    if (no_thread)
        return false;
    if (writer == nullptr) {
        if (!two_processors_at_hand()) {
            no_thread = true;
            return false;
        }
        writer = new background_writer;
        try {
            std::thread(&background_writer::serve, writer).detach();
        } catch (const std::system_error&) {
            // Out of threads (a limit on processes, say): every write is
            // made in turn, as without the thread.
            delete writer;
            writer = nullptr;
            no_thread = true;
            return false;
        }
    }
    writer->fd = fd;
    writer->bytes = bytes;
    writer->count = count;
    writer->done.store(false, std::memory_order_relaxed);
    writer->set(writer->started);
    return true;
}

write_outcome finish_background_write() {
    writer->wait_for(writer->done);
    return writer->outcome;
}
