// Runs the built converter as a separate process in a scratch folder, the way
// a user or a script would, and captures what it leaves behind.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

/// A scratch folder that is removed with everything in it at the end.
class scratch_dir {
  public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;

    const std::string& path() const { return path_; }
    /// The path of name inside the folder.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    /// The names in the folder, sorted.
    std::vector<std::string> entries() const;

  private:
    std::string path_;
};

struct run_options {
    /// Working directory of the converter; the test's scratch folder.
    std::string working_dir;
    /// The whole environment of the converter.
    std::vector<std::string> environment = {"LC_ALL=C.UTF-8"};
    std::string stdin_data;
    /// When not empty, standard input is this file instead of stdin_data.
    std::string stdin_path;
    bool close_stdin = false;
    /// When not empty, descriptor 3 is this file, open for reading and writing.
    std::string fd3_path;
    /// When not empty, standard output goes to this file instead of being captured.
    std::string stdout_path;
    /// Standard output is opened to append to stdout_path, as ">>" does.
    bool append_stdout = false;
    bool close_stdout = false;
    /// When nonzero, the file size limit in bytes, as "ulimit -f" sets it.
    long file_size_limit = 0;
    /// Runs in the child just before exec; getpid() there is the converter's pid.
    std::function<void()> before_exec;
};

struct run_result {
    int status = -1;
    pid_t pid = 0;
    std::string out;
    std::string err;
};

/// Runs vorbix-convert with args (argv[0] is "vorbix-convert") and waits for
/// it. With VORBIX_TEST_WRAPPER set in the test's environment to a command
/// with its absolute path (for example "/usr/bin/valgrind -q"), the program
/// runs under that command.
run_result run_converter_process(const std::vector<std::string>& args, const run_options& options);

/// A converter started by start_converter_process, not yet waited for.
/// One that a failed assertion leaves unwaited is killed and reaped as it
/// goes, so that no converter outlives its test, blocked at a FIFO.
struct running_converter {
    running_converter() = default;
    running_converter(running_converter&& other) noexcept;
    running_converter& operator=(running_converter&&) = delete;
    ~running_converter();

    pid_t pid = 0;
    std::unique_ptr<scratch_dir> capture;
    bool capture_stdout = true;
};

running_converter start_converter_process(const std::vector<std::string>& args,
                                          const run_options& options);
run_result wait_converter_process(running_converter& running);

/// For before_exec: as root, goes on as the user nobody (65534), so that a
/// test sees what a user sees; anyone else stays who they are.
void become_unprivileged_user();
/// The user become_unprivileged_user becomes.
constexpr unsigned UNPRIVILEGED_ID = 65534;

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& contents);
bool file_exists(const std::string& path);

/// The usage text as the converter prints it, every line with its prefix.
std::string usage_text();
