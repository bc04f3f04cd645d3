// The list of temporary files to remove on an interrupt, and the handler.
//
// The handler may run between any two instructions of the run. The list is a
// fixed array of slots that the run fills and empties with atomic stores, in
// an order that keeps every state the handler can see consistent: a name is
// stored before the count that covers it, and cleared before the count
// shrinks past it. The handler does nothing but unlink(2) and re-raise, both
// safe in a signal handler. Each name is removed through the folder it was
// created in, so that a folder moved during the run is still cleaned.
#include "convert/interrupt_cleanup.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "common/checked_alloc.h"

namespace {

// SIGPIPE too: messages piped into a reader that stops early, as "2>&1 |
// head" does, end the run the same way.
constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

std::atomic<const char*> temporary_files[MOST_TEMPORARY_FILES];
std::atomic<int> temporary_folders[MOST_TEMPORARY_FILES];
std::atomic<std::size_t> slots_used{0};

// Safe in a signal handler and without memory: unlinkat alone.
void remove_temporary_files() {
    std::size_t used = slots_used.load();
    for (std::size_t i = 0; i < used; ++i)
        if (const char* name = temporary_files[i].load())
            unlinkat(temporary_folders[i].load(), name, 0);
}

extern "C" void remove_temporary_files_and_raise(int signal_number) {
    remove_temporary_files();
    // The default action, so that the parent sees the run end by the signal.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
    sigset_t unblocked;
    sigemptyset(&unblocked);
    sigaddset(&unblocked, signal_number);
    sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
    raise(signal_number);
}

} // namespace

void install_interrupt_cleanup() {
    std::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = remove_temporary_files_and_raise;
    sigemptyset(&action.sa_mask);
    for (int signal_number : CLEANUP_SIGNALS)
        sigaddset(&action.sa_mask, signal_number);
    for (int signal_number : CLEANUP_SIGNALS) {
        struct sigaction current;
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            sigaction(signal_number, &action, nullptr);
    }
    set_out_of_memory_cleanup(remove_temporary_files);
}

void remember_temporary_file(int dir, const char* name) {
    std::size_t used = slots_used.load();
    if (used == MOST_TEMPORARY_FILES)
        return;
    temporary_folders[used].store(dir);
    temporary_files[used].store(name);
    slots_used.store(used + 1);
}

void forget_temporary_file(const char* name) {
    std::size_t used = slots_used.load();
    for (std::size_t i = 0; i < used; ++i) {
        if (temporary_files[i].load() == name) {
            temporary_files[i].store(nullptr);
            break;
        }
    }
    while (used > 0 && temporary_files[used - 1].load() == nullptr)
        slots_used.store(--used);
}
