// The configuration loader. Only the -f file is required to exist; the two
// default places are tried silently, and the first that opens is the only
// one read, even when it holds errors.
#include "config/loader.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "charset/charset_tables.h"
#include "common/checked_alloc.h"
#include "common/diagnostic.h"
#include "config/statement_parser.h"

const char* config_path;
byte_reader* config_stream;
bool default_set_in_use;

namespace {

constexpr char WORKING_DIRECTORY_CANDIDATE[] = "./.vorbix.conf";
constexpr char HOME_CANDIDATE_FORMAT[] = "%s/.vorbix.conf";
// "/.vorbix.conf" and the terminating null.
constexpr std::size_t HOME_CANDIDATE_SPARE = 14;

byte_reader config_file;

// Sets config_path to path and opens it; returns false when it cannot.
bool open_candidate(const char* path) {
    config_path = path;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    config_file.attach(fd);
    config_stream = &config_file;
    return true;
}

bool open_default_candidate() {
    if (open_candidate(WORKING_DIRECTORY_CANDIDATE))
        return true;
    // An empty HOME counts as set; the path is not normalised.
    const char* home = std::getenv("HOME");
    if (!home)
        return false;
    std::size_t size = std::strlen(home) + HOME_CANDIDATE_SPARE;
    char* path = static_cast<char*>(checked_alloc(size));
    std::snprintf(path, size, HOME_CANDIDATE_FORMAT, home);
    return open_candidate(path);
}

} // namespace

int load_configuration(const char* path, bool announce) {
    if (path) {
        if (!open_candidate(path)) {
            print_diagnostic("cannot open %s: %s", config_path, std::strerror(errno));
            return -1;
        }
    } else if (!open_default_candidate()) {
        if (announce)
            print_diagnostic("no configuration file: the built-in set vt52");
        fill_charset_table(charset_table, CHARSET_VT52);
        fill_charset_table(alt_charset_table, CHARSET_VT52);
        default_set_in_use = true;
        return 0;
    }
    if (announce)
        print_diagnostic("reading configuration %s", config_path);
    int result = parse_configuration();
    int fd = config_stream->fd();
    config_stream = nullptr;
    if (close(fd) != 0) {
        print_diagnostic("cannot close %s: %s", config_path, std::strerror(errno));
        return -1;
    }
    return result;
}
