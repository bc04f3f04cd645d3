// The list of temporary files to remove on an interrupt, and the handler.
//
// The handler may run between any two instructions of the run, so the list
// is changed only with the three signals blocked, and the handler does
// nothing but unlink(2) and re-raise, both safe in a signal handler.
#include "convert/interrupt_cleanup.h"

#include <csignal>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

std::vector<const char*> temporary_files;

extern "C" void remove_temporary_files(int signal_number) {
    for (const char* name : temporary_files)
        unlink(name);
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

sigset_t cleanup_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : CLEANUP_SIGNALS)
        sigaddset(&set, signal_number);
    return set;
}

// Blocks the three signals for its lifetime.
class signals_held {
  public:
    signals_held() {
        sigset_t set = cleanup_signals();
        sigprocmask(SIG_BLOCK, &set, &saved_);
    }
    ~signals_held() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
    signals_held(const signals_held&) = delete;
    signals_held& operator=(const signals_held&) = delete;

  private:
    sigset_t saved_;
};

} // namespace

void install_interrupt_cleanup() {
    std::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = remove_temporary_files;
    action.sa_mask = cleanup_signals();
    for (int signal_number : CLEANUP_SIGNALS) {
        struct sigaction current;
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            sigaction(signal_number, &action, nullptr);
    }
}

void remember_temporary_file(const char* name) {
    signals_held held;
    temporary_files.push_back(name);
}

void forget_temporary_file(const char* name) {
    signals_held held;
    for (auto it = temporary_files.begin(); it != temporary_files.end(); ++it) {
        if (*it == name) {
            temporary_files.erase(it);
            return;
        }
    }
}
