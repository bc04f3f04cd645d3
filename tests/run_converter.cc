// The process harness of the end-to-end tests.
#include "run_converter.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

scratch_dir::scratch_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vorbix-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

scratch_dir::~scratch_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> scratch_dir::entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void become_unprivileged_user() {
    if (geteuid() != 0)
        return;
    if (setgroups(0, nullptr) != 0 || setgid(UNPRIVILEGED_ID) != 0 || setuid(UNPRIVILEGED_ID) != 0)
        _exit(126);
}

std::string read_file(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

void write_file(const std::string& path, const std::string& contents) {
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream << contents;
    if (!stream.flush())
        throw std::runtime_error("cannot write " + path);
}

bool file_exists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::symlink_status(path, ignored).type() !=
           std::filesystem::file_type::not_found;
}

running_converter::running_converter(running_converter&& other) noexcept
    : pid(other.pid), capture(std::move(other.capture)), capture_stdout(other.capture_stdout) {
    other.pid = 0;
}

running_converter::~running_converter() {
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

running_converter start_converter_process(const std::vector<std::string>& args,
                                          const run_options& options) {
    running_converter running;
    running.capture = std::make_unique<scratch_dir>();
    running.capture_stdout = options.stdout_path.empty();
    const scratch_dir& capture = *running.capture;
    std::string in_path = capture / "stdin";
    std::string out_path = options.stdout_path.empty() ? capture / "stdout" : options.stdout_path;
    std::string err_path = capture / "stderr";
    write_file(in_path, options.stdin_data);

    // The emulator of a cross build, then any wrapper, run the program.
    std::vector<std::string> argv_strings;
    const char* wrapper = std::getenv("VORBIX_TEST_WRAPPER");
    std::istringstream words(std::string(VORBIX_TEST_EMULATOR) + " " + (wrapper ? wrapper : ""));
    for (std::string word; words >> word;)
        argv_strings.push_back(word);
    bool wrapped = !argv_strings.empty();
    argv_strings.push_back(wrapped ? VORBIX_CONVERT_PATH : "vorbix-convert");
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : argv_strings)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_strings = options.environment;
    std::vector<char*> envp;
    for (auto& variable : env_strings)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    const char* program = wrapped ? argv[0] : VORBIX_CONVERT_PATH;

    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        int in = open(options.stdin_path.empty() ? in_path.c_str() : options.stdin_path.c_str(),
                      O_RDONLY);
        int out = open(out_path.c_str(),
                       O_WRONLY | O_CREAT | (options.append_stdout ? O_APPEND : O_TRUNC), 0666);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (in < 0 || out < 0 || err < 0)
            _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        close(in);
        close(out);
        close(err);
        if (options.close_stdout)
            close(1);
        if (options.close_stdin)
            close(0);
        if (!options.fd3_path.empty()) {
            int fd3 = open(options.fd3_path.c_str(), O_RDWR);
            if (fd3 < 0 || dup2(fd3, 3) != 3)
                _exit(126);
            if (fd3 != 3)
                close(fd3);
        }
        if (!options.working_dir.empty() && chdir(options.working_dir.c_str()) != 0)
            _exit(126);
        if (options.file_size_limit > 0) {
            struct rlimit limit;
            limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(options.file_size_limit);
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.before_exec)
            options.before_exec();
        execve(program, argv.data(), envp.data());
        _exit(127);
    }
    running.pid = pid;
    return running;
}

run_result wait_converter_process(running_converter& running) {
    int wait_status = 0;
    waitpid(running.pid, &wait_status, 0);
    run_result result;
    result.pid = running.pid;
    running.pid = 0;
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    if (running.capture_stdout)
        result.out = read_file(*running.capture / "stdout");
    result.err = read_file(*running.capture / "stderr");
    running.capture.reset();
    return result;
}

run_result run_converter_process(const std::vector<std::string>& args, const run_options& options) {
    running_converter running = start_converter_process(args, options);
    return wait_converter_process(running);
}

std::string usage_text() {
    return "vorbix-convert: usage: vorbix-convert [ <options> ] [ <source> [ <target> ] ]\n"
           "vorbix-convert: valid <options> are\n"
           "vorbix-convert:     -a              use alternate charset\n"
           "vorbix-convert:     -e              treat unconvertible characters as error\n"
           "vorbix-convert:     -f <fn>         read configuration file\n"
           "vorbix-convert:     -i              ignore unconvertible characters\n"
           "vorbix-convert:     -z              always terminate CP/M files with ^Z\n"
           "vorbix-convert: <source> or <target> are\n"
           "vorbix-convert:     -u ( <fn> | - ) text file in host OS format\n"
           "vorbix-convert:     -c <fn>         text file in CP/M format\n"
           "vorbix-convert: if <source> resp. <target> is omitted, \"-u -\"  is assumed\n";
}
