// The list of temporary files to remove on the way out, and the handlers.
//
// A signal's handler may run between any two instructions of the run. The
// list is a fixed array of slots that the run fills and empties with atomic
// stores, in an order that keeps every state the handler can see
// consistent: a name is stored before the count that covers it, and cleared
// before the count shrinks past it. The handlers do nothing but unlink(2),
// write(2) and raise, all safe in a signal handler and none needing memory.
// Each name is removed through the folder it was created in, so that a
// folder moved during the run is still cleaned.
#include "convert/run_exit.h"

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
std::atomic<void (*)(bool)> held_messages_writer{nullptr};

// What every end does before its status.
void leave_nothing_behind(bool in_allocation) {
    std::size_t used = slots_used.load();
    for (std::size_t i = 0; i < used; ++i)
        if (const char* name = temporary_files[i].load())
            unlinkat(temporary_folders[i].load(), name, 0);
    if (auto writer = held_messages_writer.load())
        writer(in_allocation);
}

// Out of memory: called by the new-handler before its message.
void leave_nothing_behind_in_allocation() {
    leave_nothing_behind(true);
}

extern "C" void end_run_by_signal(int signal_number) {
    leave_nothing_behind(false);
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

void install_run_exit() {
    std::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = end_run_by_signal;
    sigemptyset(&action.sa_mask);
    for (int signal_number : CLEANUP_SIGNALS)
        sigaddset(&action.sa_mask, signal_number);
    for (int signal_number : CLEANUP_SIGNALS) {
        struct sigaction current;
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            sigaction(signal_number, &action, nullptr);
    }
    set_out_of_memory_cleanup(leave_nothing_behind_in_allocation);
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

void set_held_messages_writer(void (*writer)(bool in_allocation)) {
    held_messages_writer.store(writer);
}

int end_run(int status) {
    leave_nothing_behind(false);
    return status;
}
