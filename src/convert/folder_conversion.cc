// Folder runs. The list of names is read whole before anything is written,
// so that a conversion in place (the target folder the source folder) never
// meets its own new files, and the names are sorted as bytes, so that the
// order of files and messages is the same on every host.
#include "convert/folder_conversion.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "common/diagnostic.h"
#include "convert/file_conversion.h"
#include "convert/run_state.h"
#include "convert/target_file.h"

namespace {

// A run of more files than this shows its progress on a terminal.
constexpr std::size_t PROGRESS_FROM = 100;
constexpr long PROGRESS_INTERVAL_NS = 100 * 1000 * 1000;
// How many converted files, closed, wait for one flush to stable storage.
constexpr std::size_t BATCH_SIZE = 1024;

// A name in the source folder, and whether the listing already says that
// it is a regular file (else it is looked at before it is converted).
struct folder_entry {
    std::string name;
    bool regular;

    // std::string compares its characters as unsigned bytes.
    bool operator<(const folder_entry& other) const { return name < other.name; }
};

// The names directly in folder that do not begin with ".", sorted; false
// after a message when the folder cannot be read.
bool list_folder(const char* folder, std::vector<folder_entry>& names) {
    DIR* listing = opendir(folder);
    if (!listing) {
        print_diagnostic("couldn't open %s: %s", folder, std::strerror(errno));
        return false;
    }
    // readdir tells the end from a failure only by errno.
    for (errno = 0; const dirent* entry = readdir(listing); errno = 0) {
        if (entry->d_name[0] == '.')
            continue;
#ifdef DT_REG
        names.push_back({entry->d_name, entry->d_type == DT_REG});
#else
        names.push_back({entry->d_name, false});
#endif
    }
    int read_error = errno;
    closedir(listing);
    if (read_error != 0) {
        print_diagnostic("read error on %s: %s", folder, std::strerror(read_error));
        return false;
    }
    std::sort(names.begin(), names.end());
    return true;
}

std::string path_in(const char* folder, const std::string& name) {
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    return path + name;
}

// Whether path is to be converted: a regular file, or a link to one. A path
// that cannot be looked at for any other reason than a dangling link is
// converted all the same, so that its open reports why.
bool is_convertible(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) == 0)
        return S_ISREG(status.st_mode);
    return lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode);
}

// "N of M files" rewritten in place on a terminal, at most ten times a second.
class progress_line {
  public:
    explicit progress_line(std::size_t total)
        : total_(total), shown_(total > PROGRESS_FROM && isatty(STDERR_FILENO)) {}
    ~progress_line() {
        if (shown_)
            clear_status_line();
    }

    void update(std::size_t done) {
        if (!shown_)
            return;
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        long elapsed = (now.tv_sec - last_.tv_sec) * 1000000000L + (now.tv_nsec - last_.tv_nsec);
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

int convert_folder(const char* source_folder, const char* target_folder) {
    std::vector<folder_entry> names;
    if (!list_folder(source_folder, names))
        return -1;
    std::size_t converted = 0, failed = 0;
    // Converted files wait in a batch for one flush to stable storage
    // before their renames; their rename messages come at the flush.
    std::vector<std::unique_ptr<target_file>> batch;
    auto commit_batch = [&] {
        if (batch.empty())
            return;
        target_file::make_durable_together(batch, target_folder);
        for (auto& target : batch)
            if (target->commit() != 0)
                ++failed;
        batch.clear();
    };
    progress_line progress(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        progress.update(i);
        std::string source = path_in(source_folder, names[i].name);
        if (!names[i].regular && !is_convertible(source)) {
            print_diagnostic("skipping %s: not a regular file", source.c_str());
            continue;
        }
        std::string target = path_in(target_folder, names[i].name);
        source_name = source.c_str();
        target_name = target.c_str();
        ++converted;
        auto converting = std::make_unique<target_file>();
        if (convert_file(*converting) != 0 || converting->set_aside() != 0)
            ++failed;
        else if (converting->is_new_file())
            batch.push_back(std::move(converting));
        if (batch.size() == BATCH_SIZE)
            commit_batch();
    }
    commit_batch();
    source_name = target_name = nullptr;
    if (failed == 0)
        return 0;
    print_diagnostic("%lu of %lu files failed", static_cast<unsigned long>(failed),
                     static_cast<unsigned long>(converted));
    return -1;
}
