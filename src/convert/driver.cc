// The command line and the run from start to exit: the options read and
// checked, the configuration loaded, one file or a folder converted, and what
// became of the run turned into the exit status, here alone.
#include "convert/driver.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "charset/charset_tables.h"
#include "common/checked_alloc.h"
#include "common/diagnostic.h"
#include "config/loader.h"
#include "config/named_charsets.h"
#include "config/settings.h"
#include "convert/drive_names.h"
#include "convert/file_conversion.h"
#include "convert/folder_conversion.h"
#include "convert/run_exit.h"
#include "convert/run_state.h"
#include "convert/target_file.h"

namespace {

// A leading '+' keeps glibc's getopt from reordering the arguments: an option
// after the first non-option word must stay a (rejected) positional argument.
#ifdef __GLIBC__
constexpr char OPTION_STRING[] = "+ac:ef:iu:z";
#else
constexpr char OPTION_STRING[] = "ac:ef:iu:z";
#endif

// The options and their state for one run.
struct command_line {
    /// argv[0], which finds the set files when the system cannot say where
    /// the program is.
    const char* argv0 = nullptr;
    const char* config_file_arg = nullptr;
    /// --charset NAME: the set the run translates through.
    const char* charset_name = nullptr;
    /// --charsets: the sets listed, nothing converted.
    bool list_charsets = false;
    bool cmdline_error = false;
    /// Source and target are folders.
    bool folders = false;
    /// The target folder does not exist yet and is made for the run.
    bool make_target_folder = false;
    /// Source and target as the command line names them, through a drive
    /// letter or not; source_name and target_name become their host paths.
    drive_name source, target;
    /// The names messages give: as the command line gave them.
    std::string source_shown, target_shown;
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

// The long options; they go among the short options, before the source and
// target. Each sets its flag, but for the two that the command line keeps,
// --charset and --charsets. One with a value takes the next word. --help lists
// them after the usage text.
const struct {
    const char* word;
    bool* flag;
    const char* help;
    const char* value = nullptr;
} LONG_OPTIONS[] = {
    {"--binary", &convert_binary_files, "convert binary files in folders too"},
    {"--charset", nullptr, "translate through set NAME (--charsets lists them)", "NAME"},
    {"--charsets", nullptr, "list the character sets by name, and exit"},
    {"--check", &check_only, "convert, write nothing, report each file"},
    {"--crlf", &crlf_line_ends, "host text going to CP/M has CR LF line ends"},
    {"--keep-date", &keep_dates, "give the target the source's times"},
    {"--quiet", &quiet, "no skip lines or progress, for cron"},
    {"--update", &update_only, "convert only when the target is older"},
    {"--verbose", &verbose, "name the configuration and each converted file"},
};

void print_usage() {
    print_diagnostic("usage: %s [ <options> ] [ <source> [ <target> ] ]", program_name);
    for (const char* line : USAGE_LINES)
        print_diagnostic("%s", line);
}

// What --help and --version print goes to standard output, where a reader
// asked for it; a failure to write it is a failure of the run.
int finish_standard_output() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return 0;
    print_diagnostic("write error on %s: %s", STDOUT_NAME, std::strerror(errno));
    return 1;
}

// --help: the usage text on standard output, without the message prefix,
// then the long options in the usage text's columns.
int print_help() {
    std::printf("usage: %s [ <options> ] [ <source> [ <target> ] ]\n", program_name);
    for (const char* line : USAGE_LINES)
        std::printf("%s\n", line);
    for (const auto& option : LONG_OPTIONS) {
        std::string word = option.word;
        if (option.value)
            word = word + " " + option.value;
        std::printf("    %-16s%s\n", word.c_str(), option.help);
    }
    return finish_standard_output();
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

// A word that begins with "--" and goes on, where an option may stand, and
// for --charset its value, the next word; returns the index past them.
int take_long_option(command_line& line, int argc, char* argv[], int at) {
    const char* word = argv[at];
    if (std::strcmp(word, "--charset") == 0) {
        if (at + 1 == argc) {
            print_diagnostic("option --charset needs the name of a set");
            line.cmdline_error = true;
            return at + 1;
        }
        line.charset_name = argv[at + 1];
        return at + 2;
    }
    if (std::strcmp(word, "--charsets") == 0) {
        line.list_charsets = true;
        return at + 1;
    }
    for (const auto& option : LONG_OPTIONS) {
        if (option.flag && std::strcmp(word, option.word) == 0) {
            *option.flag = true;
            return at + 1;
        }
    }
    print_diagnostic("invalid option %s", word);
    line.cmdline_error = true;
    return at + 1;
}

// Whether name does not exist, so that a folder run may make it.
bool is_missing(const char* name) {
    struct stat status;
    return lstat(name, &status) != 0 && errno == ENOENT;
}

// Reads the options, fills in the defaults and checks the whole command line.
// Returns 0, or -1 after the usage text and the error line.
int read_command_line(int argc, char* argv[], command_line& line) {
    opterr = 0;
    int option;
    for (;;) {
        // getopt knows no long options; between two of its words one is taken
        // here. A word it is inside of, or has taken as an argument, is past.
        while (optind < argc && std::strncmp(argv[optind], "--", 2) == 0 && argv[optind][2] != '\0')
            optind = take_long_option(line, argc, argv, optind);
        if ((option = getopt(argc, argv, OPTION_STRING)) == -1)
            break;
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

// One side of the run named through its drive, when it has one: name
// becomes the host path, and shown keeps the name as given for messages.
void settle_name(const char*& name, bool is_stream, drive_name& resolved, std::string& shown) {
    shown = is_stream ? name : shown_name(name);
    if (is_stream)
        return;
    resolved = resolve_drive_name(name);
    name = resolved.path.c_str();
}

// The source and target resolved through their drive letters, and whether
// the run is one of folders; once the configuration, which defines the
// drives, has been read. Returns 0, or -1 after the usage text and the error
// line.
int settle_names(command_line& line) {
    settle_name(source_name, source_is_stdin, line.source, line.source_shown);
    settle_name(target_name, target_is_stdout, line.target, line.target_shown);
    // A folder on one side needs a folder on the other; a missing target
    // folder is made once the configuration has been read.
    bool source_folder = !source_is_stdin && is_folder(source_name);
    bool target_folder = !target_is_stdout && is_folder(target_name);
    // A file into a folder goes under its own last name, as cp puts it; into
    // a drive, under the name of a file already there in another case.
    if (!source_folder && !source_is_stdin && target_folder) {
        std::string source = source_name;
        while (source.size() > 1 && source.back() == '/')
            source.pop_back();
        std::string last = source.substr(source.rfind('/') + 1);
        std::string shown = line.target_shown;
        if (!line.target.whole_drive && shown.back() != '/')
            shown += '/';
        line.target_shown = shown + shown_name(last.c_str());
        if (line.target.drive >= 0) {
            line.target.path = path_in_drive(line.target.path, last);
        } else {
            if (line.target.path.back() != '/')
                line.target.path += '/';
            line.target.path += last;
        }
        line.target.whole_drive = false;
        target_name = line.target.path.c_str();
        target_folder = false;
    }
    if (source_folder && !target_is_stdout && is_missing(target_name)) {
        line.make_target_folder = true;
        target_folder = true;
    }
    line.folders = source_folder && target_folder;
    if (source_folder == target_folder)
        return 0;
    const char* other = source_folder ? line.target_shown.c_str() : line.source_shown.c_str();
    if (source_folder ? target_is_stdout : source_is_stdin)
        other = source_folder ? "standard output" : "standard input";
    print_diagnostic("%s is a folder, %s is not",
                     source_folder ? line.source_shown.c_str() : line.target_shown.c_str(), other);
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
            set_closed_at_start(fd);
            if (open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY) != fd)
                return;
        }
    }
}

// Names the variable that chose the locale that could not be set, in the
// order in which the C library consults them.
void explain_missing_locale() {
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) {
            print_diagnostic(
                "%s=%s names no installed locale; 'locale -a' lists the installed ones", variable,
                value);
            return;
        }
    }
}

// A single run: the file named by the run state.
file_outcome convert_one_file(const command_line& line) {
    file_to_convert file;
    file.source = {line.source_shown.c_str(), AT_FDCWD, source_name};
    file.source_is_stdin = source_is_stdin;
    file.target = {line.target_shown.c_str(), AT_FDCWD, target_name};
    file.target_is_stdout = target_is_stdout;
    target_file target;
    file_outcome outcome = convert_file(file, target);
    if (outcome == file_outcome::CONVERTED && !check_only) {
        if (target.commit() != 0)
            return file_outcome::FAILED;
        if (line.target.drive >= 0)
            warn_unless_cpm_file_name(line.target.path, line.target_shown.c_str());
    }
    return outcome;
}

// The exit status of a run: 1 on any failure. A check answers "would a run
// change anything?" as diff does: 0 no, 1 yes, 2 a file would fail (or the
// command line or configuration is faulty).
int exit_status(file_outcome outcome) {
    if (!check_only)
        return outcome == file_outcome::FAILED ? 1 : 0;
    return outcome == file_outcome::FAILED ? 2 : outcome == file_outcome::CONVERTED ? 1 : 0;
}

// A drive marked read-only in the configuration is never written through
// its letter; its folder named by path is written as any path. Returns 0, or
// -1 after the message.
int refuse_read_only_drive(const command_line& line) {
    int drive = line.target.drive;
    if (target_is_stdout || drive < 0 || !settings.drive_read_only[drive])
        return 0;
    print_diagnostic("couldn't write to %s: drive %c is read-only in %s", line.target_shown.c_str(),
                     'a' + drive, shown_name(config_path).c_str());
    return -1;
}

// One run once the command line is accepted: the configuration, the set
// named, the names through their drives, then the file, or every file of the
// folder.
int convert(command_line& line) {
    if (load_configuration(line.config_file_arg, verbose) != 0 ||
        (line.charset_name && use_named_charset(line.charset_name, line.argv0) != 0)) {
        print_diagnostic("command line or configuration error");
        return exit_status(file_outcome::FAILED);
    }
    if (settle_names(line) != 0 || refuse_read_only_drive(line) != 0)
        return exit_status(file_outcome::FAILED);
    // A check makes nothing: a missing target folder holds only new files.
    if (line.make_target_folder && !check_only && mkdir(target_name, 0777) != 0) {
        print_diagnostic("couldn't create %s: %s", line.target_shown.c_str(), std::strerror(errno));
        return 1;
    }
    file_outcome outcome =
        line.folders ? convert_folder({source_name, line.source_shown, line.source.whole_drive},
                                      {target_name, line.target_shown, line.target.whole_drive})
                     : convert_one_file(line);
    if (check_only && finish_standard_output() != 0)
        outcome = file_outcome::FAILED;
    return exit_status(outcome);
}

// The run from the locale on; its status.
int run(int argc, char* argv[]) {
    if (!std::setlocale(LC_CTYPE, "")) {
        print_diagnostic("setlocale(LC_CTYPE) failed");
        explain_missing_locale();
        return 1;
    }
    // -h, and GNU's --help and --version, are recognised only alone.
    if (argc == 2 && std::strcmp(argv[1], "-h") == 0) {
        print_usage();
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0)
        return print_help();
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("vorbix-convert %s\n", VORBIX_VERSION);
        return finish_standard_output();
    }
    command_line line;
    line.argv0 = argc > 0 ? argv[0] : nullptr;
    if (read_command_line(argc, argv, line) != 0)
        return exit_status(file_outcome::FAILED);
    if (line.list_charsets)
        return list_named_charsets(line.argv0) == 0 ? finish_standard_output() : 1;
    return convert(line);
}

} // namespace

int run_converter(int argc, char* argv[]) {
    install_out_of_memory_handler();
    set_program_name(argc > 0 && argv[0] ? argv[0] : "");
    hold_closed_standard_descriptors();
    install_run_exit();
    return end_run(run(argc, argv));
}
