// Batches of new files committed together.
#include "convert/durable_batch.h"

#include <sys/resource.h>

#include "common/diagnostic.h"
#include "convert/interrupt_cleanup.h"
#include "convert/run_state.h"

namespace {

// Larger batches save little more, and every waiting file is one to remove
// on an interrupt.
constexpr std::size_t LARGEST_BATCH = 1024;
static_assert(LARGEST_BATCH < MOST_TEMPORARY_FILES, "an interrupt must find every waiting file");
// Descriptors kept free for the standard streams, the source, the file being
// written and what the C library opens.
constexpr rlim_t DESCRIPTORS_SPARED = 16;

std::size_t batch_capacity() {
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return LARGEST_BATCH;
    if (limit.rlim_cur <= DESCRIPTORS_SPARED + 1)
        return 1;
    rlim_t room = limit.rlim_cur - DESCRIPTORS_SPARED;
    return room < LARGEST_BATCH ? static_cast<std::size_t>(room) : LARGEST_BATCH;
}

} // namespace

durable_batch::durable_batch() : capacity_(batch_capacity()) {}

void durable_batch::add(std::unique_ptr<target_file> target) {
    if (!target->is_new_file()) {
        commit();
        commit_one(*target);
        return;
    }
    waiting_.push_back({std::move(held_), std::move(target)});
    held_.clear();
    hold_diagnostics(&held_);
    if (waiting_.size() >= capacity_)
        commit();
}

void durable_batch::commit() {
    hold_diagnostics(nullptr);
    // The writeback of the whole batch is started at once, so that the disk
    // takes the files together, before each is forced in turn.
    for (waiting_file& file : waiting_)
        file.target->start_writeback();
    for (waiting_file& file : waiting_) {
        write_held_diagnostics(file.messages_before);
        commit_one(*file.target);
    }
    waiting_.clear();
    write_held_diagnostics(held_);
    held_.clear();
}

void durable_batch::commit_one(target_file& target) {
    if (target.commit() != 0)
        ++failures_;
    else if (verbose && target.is_named())
        print_diagnostic("converted %s", target.name());
}
