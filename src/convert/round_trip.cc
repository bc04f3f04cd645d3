// The reverse conversion, run through the engine with the directions swapped.
#include "convert/round_trip.h"

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "common/diagnostic.h"
#include "convert/engine.h"
#include "convert/run_state.h"

namespace {

// The run state of the reverse conversion, set for its length and put back:
// the engine reads the directions and the treatment of untranslatable
// characters from the run state.
class reversed_run {
  public:
    reversed_run()
        : source_is_host_(source_is_host), target_is_host_(target_is_host),
          ignore_(ignore_unconvertible), error_(unconvertible_is_error),
          holder_(hold_diagnostics(&discarded_)) {
        source_is_host = target_is_host_;
        target_is_host = source_is_host_;
        ignore_unconvertible = true;
        unconvertible_is_error = false;
    }
    ~reversed_run() {
        source_is_host = source_is_host_;
        target_is_host = target_is_host_;
        ignore_unconvertible = ignore_;
        unconvertible_is_error = error_;
        hold_diagnostics(holder_);
    }
    reversed_run(const reversed_run&) = delete;
    reversed_run& operator=(const reversed_run&) = delete;

  private:
    bool source_is_host_, target_is_host_, ignore_, error_;
    std::string discarded_;
    std::string* holder_;
};

} // namespace

int open_target_to_compare(const named_file& target, const struct stat& source,
                           std::uint64_t& size) {
    struct stat existing;
    if (fstatat(target.folder, target.path, &existing, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(existing.st_mode))
        return -1;
    // In place the target is the source itself, whose conversion always
    // differs from it.
    if (source.st_dev == existing.st_dev && source.st_ino == existing.st_ino)
        return -1;
    size = static_cast<std::uint64_t>(existing.st_size);
    return openat(target.folder, target.path,
                  O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

bool converts_back_to_source(int source_fd, int target_fd) {
    if (lseek(source_fd, 0, SEEK_SET) != 0 || lseek(target_fd, 0, SEEK_SET) != 0)
        return false;
    reversed_run reversed;
    source_stream.attach(target_fd);
    target_stream.attach(-1);
    target_stream.compare_with(source_fd);
    run_conversion("", "");
    return !source_stream.failed() && !target_stream.failed() && !target_stream.differs();
}
