// The command line and the run from start to exit.
//
// The target is written under a temporary name beside it and renamed over it
// only after a fully successful run, so an existing target is either replaced
// whole or left as it was.
#include "convert/driver.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "charset/charset_tables.h"
#include "common/checked_alloc.h"
#include "common/diagnostic.h"
#include "config/loader.h"
#include "convert/engine.h"
#include "convert/run_state.h"

namespace {

// A leading '+' keeps glibc's getopt from reordering the arguments: an option
// after the first non-option word must stay a (rejected) positional argument.
#ifdef __GLIBC__
constexpr char OPTION_STRING[] = "+ac:ef:iu:z";
#else
constexpr char OPTION_STRING[] = "ac:ef:iu:z";
#endif

// Room for ".temp.", the digits of the process id and the terminating null.
constexpr std::size_t TEMP_NAME_SPARE = 30;

// The options and their state for one run.
struct command_line {
    const char* config_file_arg = nullptr;
    bool cmdline_error = false;
    bool seen[256] = {};
};

// The usage text after its first line, one message a line.
constexpr const char* USAGE_LINES[] = {
    "valid <options> are",
    "    -a              use alternate charset",
    "    -e              treat unconvertible characters as error",
    "    -f <fn>         read configuration file",
    "    -i              ignore unconvertible characters",
    "    -z              always terminate CP/M files with ^Z",
    "<source> or <target> are",
    "    -u ( <fn> | - ) text file in host OS format",
    "    -c <fn>         text file in CP/M format",
    "if <source> resp. <target> is omitted, \"-u -\"  is assumed",
};

void print_usage() {
    print_diagnostic("usage: %s [ <options> ] [ <source> [ <target> ] ]", program_name);
    for (const char* line : USAGE_LINES)
        print_diagnostic("%s", line);
}

// A repeated -a, -e, -f, -i or -z is an error; returns whether this is the
// first occurrence.
bool first_occurrence(command_line& line, int option) {
    if (!line.seen[option]) {
        line.seen[option] = true;
        return true;
    }
    print_diagnostic("option -%c may be specified only once", option);
    line.cmdline_error = true;
    return false;
}

// -c and -u: the first names the source, every later one the target.
void take_file_option(command_line& line, int option, const char* argument) {
    bool is_host = option == 'u';
    if (source_name && target_name) {
        print_diagnostic("source and target already specified");
        line.cmdline_error = true;
    }
    if (std::strcmp(argument, "-") == 0) {
        if (!is_host) {
            print_diagnostic("stdin/stdout only allowed for Unix files");
            line.cmdline_error = true;
        } else if (!source_name) {
            source_name = STDIN_NAME;
            source_is_stdin = true;
            source_is_host = true;
        } else {
            target_name = STDOUT_NAME;
            target_is_stdout = true;
            target_is_host = true;
        }
        return;
    }
    if (!source_name) {
        source_name = argument;
        source_is_stdin = false;
        source_is_host = is_host;
    } else {
        target_name = argument;
        target_is_stdout = false;
        target_is_host = is_host;
    }
}

// Reads the options, fills in the defaults and checks the whole command line.
// Returns 0, or -1 after the usage text and the error line.
int read_command_line(int argc, char* argv[], command_line& line) {
    opterr = 0;
    int option;
    while ((option = getopt(argc, argv, OPTION_STRING)) != -1) {
        switch (option) {
        case 'a':
            if (first_occurrence(line, option))
                use_alt_charset = 1;
            break;
        case 'e':
            if (first_occurrence(line, option))
                unconvertible_is_error = true;
            break;
        case 'i':
            if (first_occurrence(line, option))
                ignore_unconvertible = true;
            break;
        case 'z':
            if (first_occurrence(line, option))
                always_terminate = true;
            break;
        case 'f':
            first_occurrence(line, option);
            line.config_file_arg = optarg;
            break;
        case 'c':
        case 'u':
            take_file_option(line, option, optarg);
            break;
        default:
            print_diagnostic("invalid option -%c", optopt);
            line.cmdline_error = true;
            break;
        }
    }

    if (!source_name) {
        source_name = STDIN_NAME;
        source_is_stdin = true;
        source_is_host = true;
    }
    if (!target_name) {
        target_name = STDOUT_NAME;
        target_is_stdout = true;
        target_is_host = true;
    }

    bool wrong = line.cmdline_error;
    if (optind < argc) {
        print_diagnostic("positional arguments are not allowed");
        wrong = true;
    }
    if (ignore_unconvertible && unconvertible_is_error) {
        print_diagnostic("options -i and -e are mutually exclusive");
        wrong = true;
    }
    if (!wrong)
        return 0;
    print_usage();
    print_diagnostic("command line or configuration error");
    return -1;
}

// A standard descriptor that the caller left closed would otherwise be handed
// out by the next open(), and a file the converter opens would receive its
// converted text or its messages. Each closed one is held by /dev/null, opened
// in the direction that makes its use fail: reading a closed standard input
// and writing a closed standard output stay errors.
void hold_closed_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            if (open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY) != fd)
                return;
        }
    }
}

// The target exists and is something other than a regular file or a
// directory: a device, a FIFO, a socket. Renaming over it would swap the node
// for a plain file, so it is written directly, as a shell redirection would.
bool target_is_special_file() {
    struct stat status;
    if (stat(target_name, &status) != 0)
        return false;
    return !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
}

class converter_run {
  public:
    int run(const command_line& line);

  private:
    int open_source();
    const char* open_target();
    void finish();

    int source_fd_ = -1;
    int target_fd_ = -1;
    char* temp_name_ = nullptr;
    bool run_failed_ = false;
};

int converter_run::open_source() {
    if (source_is_stdin) {
        source_fd_ = STDIN_FILENO;
    } else {
        source_fd_ = open(source_name, O_RDONLY | O_CLOEXEC);
        if (source_fd_ < 0) {
            print_diagnostic("couldn't open %s: %s", source_name, std::strerror(errno));
            return -1;
        }
    }
    source_stream.attach(source_fd_);
    return 0;
}

// Opens the temporary file, or the target itself when it is standard output or
// a special file, and returns the name that messages give it; null on failure.
const char* converter_run::open_target() {
    const char* open_name = target_name;
    if (target_is_stdout) {
        target_fd_ = STDOUT_FILENO;
    } else if (target_is_special_file()) {
        target_fd_ = open(target_name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } else {
        std::size_t size = std::strlen(target_name) + TEMP_NAME_SPARE;
        temp_name_ = static_cast<char*>(checked_alloc(size));
        std::snprintf(temp_name_, size, "%s.temp.%lu", target_name,
                      static_cast<unsigned long>(getpid()));
        open_name = temp_name_;
        // The temporary name is predictable; O_NOFOLLOW keeps a link planted
        // under it from redirecting the write into another file.
        target_fd_ = open(temp_name_, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    }
    if (target_fd_ < 0) {
        print_diagnostic("couldn't open %s: %s", open_name, std::strerror(errno));
        run_failed_ = true;
        return nullptr;
    }
    target_stream.attach(target_fd_);
    if (temp_name_)
        target_stream.start_early_writeback();
    return open_name;
}

void converter_run::finish() {
    if (source_fd_ >= 0 && !source_is_stdin && close(source_fd_) != 0) {
        print_diagnostic("couldn't close %s: %s", source_name, std::strerror(errno));
        run_failed_ = true;
    }
    if (target_fd_ < 0 || target_is_stdout)
        return;
    if (!temp_name_) {
        if (close(target_fd_) != 0) {
            print_diagnostic("couldn't close %s: %s", target_name, std::strerror(errno));
            run_failed_ = true;
        }
        return;
    }
    // The data reaches stable storage before the rename, so that a crash
    // right after it cannot leave an empty or partial file as the target.
    int close_error = 0;
    if (!run_failed_ && fsync(target_fd_) != 0)
        close_error = errno;
    if (close(target_fd_) != 0 && close_error == 0)
        close_error = errno;
    if (close_error != 0) {
        print_diagnostic("couldn't close %s: %s", temp_name_, std::strerror(close_error));
        std::remove(temp_name_);
        run_failed_ = true;
    } else if (run_failed_) {
        std::remove(temp_name_);
    } else if (std::rename(temp_name_, target_name) != 0) {
        print_diagnostic("couldn't rename %s to %s: %s", temp_name_, target_name,
                         std::strerror(errno));
        std::remove(temp_name_);
        run_failed_ = true;
    }
}

int converter_run::run(const command_line& line) {
    if (load_configuration(line.config_file_arg) != 0) {
        print_diagnostic("command line or configuration error");
        return 1;
    }
    if (open_source() != 0)
        return 1;
    const char* write_name = open_target();
    if (write_name && run_conversion(write_name) != 0)
        run_failed_ = true;
    finish();
    std::free(temp_name_);
    return run_failed_ ? 1 : 0;
}

} // namespace

int run_converter(int argc, char* argv[]) {
    install_out_of_memory_handler();
    set_program_name(argc > 0 && argv[0] ? argv[0] : "");
    hold_closed_standard_descriptors();
    if (!std::setlocale(LC_CTYPE, "")) {
        print_diagnostic("setlocale(LC_CTYPE) failed");
        return 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "-h") == 0) {
        print_usage();
        return 0;
    }
    command_line line;
    if (read_command_line(argc, argv, line) != 0)
        return 1;
    converter_run run;
    return run.run(line);
}
