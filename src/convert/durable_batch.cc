// Batches of new files committed together.
#include "convert/durable_batch.h"

#include "common/diagnostic.h"
#include "common/platform.h"
#include "convert/run_exit.h"
#include "convert/run_state.h"

namespace {

// Larger batches save little more, and every waiting file is one to remove
// on an interrupt.
constexpr std::size_t LARGEST_BATCH = 1024;
static_assert(LARGEST_BATCH < MOST_TEMPORARY_FILES, "an interrupt must find every waiting file");
// Descriptors kept free for the source, the file being written, the target
// compared with and what the C library opens.
constexpr std::size_t DESCRIPTORS_SPARED = 8;

std::size_t batch_capacity() {
    std::size_t free = free_descriptors(LARGEST_BATCH + DESCRIPTORS_SPARED);
    return free > DESCRIPTORS_SPARED ? free - DESCRIPTORS_SPARED : 1;
}

// The batch whose held messages the way out of the run writes: one at a
// time, a folder run's.
const durable_batch* batch_on_the_way_out = nullptr;

} // namespace

durable_batch::durable_batch() : capacity_(batch_capacity()) {
    batch_on_the_way_out = this;
    set_held_messages_writer(write_held_messages);
}

durable_batch::~durable_batch() {
    commit();
    set_held_messages_writer(nullptr);
    batch_on_the_way_out = nullptr;
}

// A failed allocation leaves what it would have changed as it was, so the
// messages are read even while they change; a signal may land halfway
// through a change, and then they are not.
void durable_batch::write_held_messages(bool in_allocation) {
    const durable_batch* batch = batch_on_the_way_out;
    if (!batch || (!in_allocation && held_diagnostics_changing()))
        return;
    for (std::size_t i = batch->messages_written_; i < batch->waiting_.size(); ++i)
        write_held_diagnostics_on_the_way_out(batch->waiting_[i].messages_before);
    write_held_diagnostics_on_the_way_out(batch->held_);
}

bool durable_batch::make_room() {
    if (waiting_.empty())
        return false;
    capacity_ = waiting_.size() > 1 ? waiting_.size() - 1 : 1;
    commit();
    return true;
}

void durable_batch::add(std::unique_ptr<target_file> target) {
    if (!target->is_new_file()) {
        commit();
        commit_one(*target, false);
        return;
    }
    {
        held_diagnostics_change change;
        waiting_.push_back({std::move(held_), std::move(target)});
        held_.clear();
    }
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
    // A syncfs also waits for other programs' writes to the file system, as
    // sync does; a failed one leaves each file to its own fsync.
    bool synced = waiting_.size() > 1 && batch_sync_reports_errors() &&
                  sync_file_system(waiting_.front().target->fd()) == 0;
    for (waiting_file& file : waiting_) {
        {
            held_diagnostics_change change;
            write_held_diagnostics(file.messages_before);
            ++messages_written_;
        }
        commit_one(*file.target, synced);
    }
    held_diagnostics_change change;
    waiting_.clear();
    messages_written_ = 0;
    write_held_diagnostics(held_);
    held_.clear();
}

void durable_batch::commit_one(target_file& target, bool on_stable_storage) {
    if (target.commit(on_stable_storage) != 0)
        ++failures_;
    else if (verbose && target.is_named())
        print_diagnostic("converted %s", target.name());
}
