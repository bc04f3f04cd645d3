// Batches of new files committed together.
#include "convert/durable_batch.h"

#include <sys/resource.h>

#include "common/diagnostic.h"

namespace {

// Larger batches save nothing more: one flush already serves them all.
constexpr std::size_t LARGEST_BATCH = 1024;
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
        if (target->commit() != 0)
            ++failures_;
        return;
    }
    target->start_writeback();
    waiting_.push_back({std::move(held_), std::move(target)});
    held_.clear();
    hold_diagnostics(&held_);
    if (waiting_.size() >= capacity_)
        commit();
}

void durable_batch::commit() {
    hold_diagnostics(nullptr);
    for (waiting_file& file : waiting_) {
        write_held_diagnostics(file.messages_before);
        if (file.target->commit() != 0)
            ++failures_;
    }
    waiting_.clear();
    write_held_diagnostics(held_);
    held_.clear();
}
