// The converted files of a folder run that wait to be made durable together.
//
// Forcing each new file to stable storage as soon as it is written costs a
// disk write and flush per file. Instead each new file waits, open, in the
// batch; when the batch is full (or the run ends) the writeback of all its
// files is started at once, and one syncfs through the first file's
// descriptor, opened before any of the batch was written, forces them all
// with one flush, as sync does. From Linux 5.8 syncfs reports every
// writeback error on the file system since that descriptor was opened; when
// it reports one, each file is forced with fsync through the descriptor that
// created it, so that the error is pinned to the file it belongs to, and
// only those fail. Elsewhere, and on older kernels, each file is forced with
// its own fsync. Each file is renamed only once its data is on stable
// storage.
//
// Messages keep the order of the files: while a file waits, the messages of
// the files after it are held and written after its commit's own. A run
// that ends early (a signal, out of memory) writes them on its way out.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "convert/target_file.h"

class durable_batch {
  public:
    /// A batch as large as the descriptors free at its start leave room for.
    durable_batch();
    durable_batch(const durable_batch&) = delete;
    durable_batch& operator=(const durable_batch&) = delete;
    /// Commits what still waits.
    ~durable_batch();

    /// Takes the target of a converted file. A new file waits (and a full
    /// batch is committed); any other target is committed at once, after
    /// the files that wait. With --verbose each commit is named.
    void add(std::unique_ptr<target_file> target);

    /// Commits every waiting file in order, each after the messages held
    /// before it, then writes the messages held after the last.
    void commit();

    /// Where the process has run out of descriptors: commits the waiting
    /// files, to free theirs, and keeps the batch smaller from now on.
    /// Returns whether any was freed.
    bool make_room();

    /// How many commits have failed so far.
    std::size_t failures() const { return failures_; }

  private:
    void commit_one(target_file& target, bool on_stable_storage);
    /// The run's way out: the messages held and not yet written.
    static void write_held_messages(bool in_allocation);

    struct waiting_file {
        std::string messages_before;
        std::unique_ptr<target_file> target;
    };

    std::size_t capacity_;
    std::size_t failures_ = 0;
    std::vector<waiting_file> waiting_;
    /// How many of the waiting files' messages a commit has written.
    std::size_t messages_written_ = 0;
    std::string held_; ///< messages since the last waiting file
};
