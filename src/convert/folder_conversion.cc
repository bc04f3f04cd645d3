// Folder runs. The list of names is read whole before anything is written,
// so that a conversion in place (the target folder the source folder) never
// meets its own new files, and the names are sorted as bytes, so that the
// order of files and messages is the same on every host.
#include "convert/folder_conversion.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "common/diagnostic.h"
#include "convert/drive_names.h"
#include "convert/durable_batch.h"
#include "convert/file_conversion.h"
#include "convert/run_state.h"
#include "convert/skip_rules.h"
#include "convert/target_file.h"

namespace {

// A run of more files than this shows its progress on a terminal.
constexpr std::size_t PROGRESS_FROM = 100;
constexpr std::int64_t PROGRESS_INTERVAL_NS = 100 * 1000 * 1000;

struct folder_entry {
    std::string name;
    listed_as kind;

    // std::string compares its characters as unsigned bytes.
    bool operator<(const folder_entry& other) const { return name < other.name; }
};

listed_as listed_kind(const dirent* entry) {
#ifdef DT_REG
    switch (entry->d_type) {
    case DT_REG:
        return listed_as::REGULAR;
    case DT_LNK:
        return listed_as::LINK;
    case DT_UNKNOWN:
        return listed_as::UNKNOWN;
    default:
        return listed_as::OTHER;
    }
#else
    (void)entry;
    return listed_as::UNKNOWN;
#endif
}

// The names directly in the open folder that do not begin with ".", sorted;
// false after a message when the folder cannot be read.
bool list_folder(DIR* listing, const char* shown, std::vector<folder_entry>& names) {
    // readdir tells the end from a failure only by errno.
    for (errno = 0; const dirent* entry = readdir(listing); errno = 0) {
        if (entry->d_name[0] != '.')
            names.push_back({entry->d_name, listed_kind(entry)});
    }
    if (errno != 0) {
        print_diagnostic("read error on %s: %s", shown, std::strerror(errno));
        return false;
    }
    std::sort(names.begin(), names.end());
    return true;
}

// The target folder, held for the whole run, so that every file is created,
// renamed and removed in the folder the run began with, even when it is
// moved or replaced by a link meanwhile. A folder that may be written but not
// read (mode 0300) is held as a path alone where the system has O_PATH;
// elsewhere it is named by path, as the last resort.
int hold_folder(const char* folder) {
#ifdef O_PATH
    int fd = open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
    return fd >= 0 ? fd : AT_FDCWD;
}

std::string path_in(const char* folder, const std::string& name) {
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    return path + name;
}

// The name messages give a file of the folder.
std::string shown_in(const run_folder& folder, const std::string& name) {
    std::string shown = folder.shown;
    if (!folder.whole_drive && (shown.empty() || shown.back() != '/'))
        shown += '/';
    return shown + shown_name(name.c_str());
}

// Whether two held folders are the same folder, however each was spelled.
bool same_folder(int one, const char* one_path, int other, const char* other_path) {
    struct stat first, second;
    return fstatat(one, one == AT_FDCWD ? one_path : ".", &first, 0) == 0 &&
           fstatat(other, other == AT_FDCWD ? other_path : ".", &second, 0) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// "N of M files" rewritten in place on a terminal, at most ten times a second.
class progress_line {
  public:
    explicit progress_line(std::size_t total)
        : total_(total), shown_(total > PROGRESS_FROM && !quiet && isatty(STDERR_FILENO)) {}
    ~progress_line() {
        if (shown_)
            clear_status_line();
    }

    void update(std::size_t done) {
        if (!shown_)
            return;
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        // 64 bits: a 32-bit long holds nanoseconds for two seconds only.
        std::int64_t elapsed =
            (std::int64_t{now.tv_sec} - last_.tv_sec) * 1000000000 + (now.tv_nsec - last_.tv_nsec);
        if (done > 0 && elapsed < PROGRESS_INTERVAL_NS)
            return;
        last_ = now;
        show_status_line("%lu of %lu files", static_cast<unsigned long>(done),
                         static_cast<unsigned long>(total_));
    }

  private:
    std::size_t total_;
    bool shown_;
    timespec last_{};
};

} // namespace

bool is_folder(const char* name) {
    struct stat status;
    return stat(name, &status) == 0 && S_ISDIR(status.st_mode);
}

file_outcome convert_folder(const run_folder& source, const run_folder& target) {
    const char* source_folder = source.path;
    const char* target_folder = target.path;
    DIR* listing = opendir(source_folder);
    if (!listing) {
        print_diagnostic("couldn't open %s: %s", source.shown.c_str(), std::strerror(errno));
        return file_outcome::FAILED;
    }
    std::vector<folder_entry> names;
    if (!list_folder(listing, source.shown.c_str(), names)) {
        closedir(listing);
        return file_outcome::FAILED;
    }
    int sources = dirfd(listing);
    int targets = hold_folder(target_folder);
    bool in_place = same_folder(sources, source_folder, targets, target_folder);
    std::size_t converted = 0, failed = 0, written = 0;
    durable_batch batch;
    progress_line progress(names.size());
    // Into a whole drive, a file goes under the name it has there.
    std::unique_ptr<names_in_drive> in_drive;
    if (target.whole_drive)
        in_drive = std::make_unique<names_in_drive>(target_folder);
    for (std::size_t i = 0; i < names.size(); ++i) {
        progress.update(i);
        const std::string& source_file = names[i].name;
        const std::string& name = in_drive ? in_drive->existing(source_file) : source_file;
        std::string source_shown_name = shown_in(source, source_file);
        if (const char* reason = reason_to_skip(names[i].name, names[i].kind, sources,
                                                source_file.c_str(), in_place)) {
            report_skip(source_shown_name.c_str(), reason);
            continue;
        }
        std::string target_shown_name = shown_in(target, name);
        std::string target_path = targets == AT_FDCWD ? path_in(target_folder, name) : name;
        file_to_convert file;
        file.source = {source_shown_name.c_str(), sources, source_file.c_str()};
        file.target = {target_shown_name.c_str(), targets, target_path.c_str()};
        file.from_folder = true;
        file.in_place = in_place;
        file.make_room = [&batch] { return batch.make_room(); };
        auto converting = std::make_unique<target_file>();
        switch (convert_file(file, *converting)) {
        case file_outcome::CONVERTED:
            ++converted;
            ++written;
            if (!check_only) {
                batch.add(std::move(converting));
                if (target.whole_drive)
                    warn_unless_cpm_file_name(name, target_shown_name.c_str());
            }
            break;
        case file_outcome::FAILED:
            ++converted;
            ++failed;
            break;
        case file_outcome::SKIPPED:
            break;
        }
    }
    batch.commit();
    failed += batch.failures();
    // The waiting files are renamed through the held folder: it is let go
    // only once the batch is committed.
    if (targets != AT_FDCWD)
        close(targets);
    closedir(listing);
    if (failed == 0)
        return written > 0 ? file_outcome::CONVERTED : file_outcome::SKIPPED;
    // A check's lines say what would fail.
    if (!check_only)
        print_diagnostic("%lu of %lu files failed", static_cast<unsigned long>(failed),
                         static_cast<unsigned long>(converted));
    return file_outcome::FAILED;
}
