// The target of a run: where its text is written while the conversion runs,
// and how that text becomes the target at the end.
//
// A file target is written under a temporary name beside it, created afresh
// so that nothing planted at that name is ever written through, and renamed
// over the target only after a fully successful run. A device or FIFO is
// written in place, and a standard stream (or a descriptor named by path) is
// written through its open descriptor.
#pragma once

#include <memory>
#include <string>
#include <vector>

class target_file {
  public:
    target_file() = default;
    target_file(const target_file&) = delete;
    target_file& operator=(const target_file&) = delete;
    ~target_file();

    /// Opens where the text of name goes; is_stdout for "-u -". Returns 0, or
    /// -1 after "couldn't open %s: %s".
    int open(const char* name, bool is_stdout);

    int fd() const { return fd_; }
    /// The name under which the text is being written, for messages: the
    /// temporary file's, or the target's own.
    const char* write_name() const;
    /// Whether the text goes into a new file that the commit forces to
    /// stable storage.
    bool is_new_file() const { return kind_ == kind::TEMPORARY; }

    /// Makes the written text the target: forces a temporary file to stable
    /// storage (unless make_durable_together did), closes it and renames it
    /// over the target. Returns 0, or -1 after its message, with the
    /// temporary file removed and the target as it was.
    int commit();

    /// Whether new files can be made durable together, by one flush of
    /// their file system (Linux's syncfs): on a disk one flush costs about as
    /// much as one fsync.
#ifdef __linux__
    static constexpr bool SYNCS_TOGETHER = true;
#else
    static constexpr bool SYNCS_TOGETHER = false;
#endif

    /// For a batch: closes a new file without forcing it to stable storage,
    /// to be committed after make_durable_together; any other target, and
    /// every target where files cannot be made durable together, is
    /// committed at once. Returns 0, or -1 after its message.
    int set_aside();

    /// Forces the set-aside files of a batch, all in folder, to stable
    /// storage at once. When that fails, each commit reports the failure
    /// and removes its file.
    static void make_durable_together(const std::vector<std::unique_ptr<target_file>>& batch,
                                      const char* folder);

    /// Gives up after a failed run: closes what was opened and removes the
    /// temporary file. Only a failed close is reported.
    void abort();

  private:
    enum class kind { NONE, DESCRIPTOR, IN_PLACE, TEMPORARY };

    int open_temporary();
    int close_in_place();

    kind kind_ = kind::NONE;
    int fd_ = -1;
    bool durable_ = false; ///< the text is on stable storage already
    int sync_error_ = 0;   ///< why a set-aside file's batch was not flushed
    std::string target_name_;
    std::string temp_name_;
};
