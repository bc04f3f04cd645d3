// The target of a run: where its text is written while the conversion runs,
// and how that text becomes the target at the end.
//
// A file target is written under a temporary name beside it, created afresh
// so that nothing planted at that name is ever written through, and renamed
// over the target only after a fully successful run. The target's name is
// looked at, never followed: a symbolic link there is replaced by the new
// file, and the file it leads to is never opened. A device or FIFO named
// directly is written in place, once the opened node is seen to be the one
// looked at; a standard stream (or a descriptor named by path) is written
// through its open descriptor. Nothing is created or renamed in /dev.
//
// A new file replacing a regular file gets that file's permission bits and
// access ACL, and its owner and group where the process may set them; where
// it may not, the new file is made no more open than the old one. A target
// that did not exist gets the mode the caller asks for, less the umask, as cp
// gives it.
#pragma once

#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

#include "convert/named_file.h"

/// Whether name is that of a temporary file, "<target>.temp.<digits>": what
/// a killed run leaves behind.
bool is_temporary_name(const std::string& name);

/// The temporary name for a target whose last component is name, made by the
/// process pid: "NAME.temp.PID", or, where that passes the system's limit of
/// 255 bytes, the start of NAME, "~", sequence and ".temp.PID", so that two
/// long names never share one.
std::string temporary_name_for(const std::string& name, unsigned long pid, unsigned long sequence);

class target_file {
  public:
    target_file() = default;
    target_file(const target_file&) = delete;
    target_file& operator=(const target_file&) = delete;
    ~target_file();

    /// Takes the open descriptor fd, a standard stream or one named by path,
    /// as the target, which shown names.
    void open_stream(const char* shown, int fd);

    /// Names the file target before it is opened, so that messages can name
    /// its temporary file (write_name) while the open waits; open names it
    /// so too.
    void name(const named_file& target);

    /// Opens where the text of the file target goes. A new file that replaces
    /// nothing gets new_file_mode less the umask. Where the process has no
    /// descriptor left, make_room (when given) may free some and the open is
    /// tried once more. Returns 0, or -1 after "couldn't open %s: %s".
    int open(const named_file& target, mode_t new_file_mode = 0666,
             const std::function<bool()>& make_room = {});

    /// Whether the text is written into an open file directly (a standard
    /// stream, a descriptor, a device or FIFO) rather than a new file.
    bool is_written_directly() const {
        return kind_ == kind::DESCRIPTOR || kind_ == kind::IN_PLACE;
    }

    int fd() const { return fd_; }
    /// The target's name, and whether one was opened (a skipped file's
    /// target never is).
    const char* name() const { return shown_.c_str(); }
    bool is_named() const { return !shown_.empty(); }
    /// The name under which the text is being written, for messages: the
    /// temporary file's (also while its open waits), or the target's own.
    const char* write_name() const;
    /// Whether the text goes into a new file that the commit forces to
    /// stable storage.
    bool is_new_file() const { return kind_ == kind::TEMPORARY; }

    /// For a new file that waits in a batch: starts writing its text back
    /// to the disk, so that its commit has little left to wait for.
    void start_writeback();

    /// Makes the written text the target: forces a new file to stable
    /// storage (unless its batch's syncfs did), closes it and renames it
    /// over the target. Returns 0, or -1 after its message, with the new
    /// file removed and the target as it was.
    int commit(bool on_stable_storage = false);

    /// Gives up after a failed run: closes what was opened and removes the
    /// temporary file. Only a failed close is reported.
    void abort();

  private:
    enum class kind { NONE, DESCRIPTOR, IN_PLACE, TEMPORARY };

    int open_in_place(const struct stat& looked_at);
    int open_temporary(const struct stat* replaced, mode_t new_file_mode,
                       const std::function<bool()>& make_room);
    int set_permissions(const struct stat* replaced, mode_t mode);
    int close_in_place();
    void remove_temporary();

    kind kind_ = kind::NONE;
    int fd_ = -1;
    std::string shown_;
    int folder_ = AT_FDCWD;
    std::string path_;
    std::string temp_path_;
    std::string temp_shown_;
};
