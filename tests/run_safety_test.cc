// What a run must never do, in every run form: widen a file's permissions,
// read or write a standard stream that was closed, write into its own source,
// or leave temporary files behind when it is interrupted.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "run_converter.h"
#include "test_support.h"

namespace {

struct stat status_of(const std::string& path) {
    struct stat status {};
    stat(path.c_str(), &status);
    return status;
}

enum run_form { SINGLE, IN_PLACE, FOLDER, FOLDER_IN_PLACE, FROM_STDIN };

struct permission_case {
    const char* name;
    run_form form;
    mode_t target_mode; ///< 0: no target yet
    mode_t source_mode;
    mode_t umask;
    bool as_user;     ///< run as an unprivileged user
    int target_owner; ///< -1: the run's own; else the uid and gid given to the target
    mode_t expected;
    const char* warning; ///< the line expected, if any
};

// clang-format off
const permission_case PERMISSIONS[] = {
    {"Private0600Single",     SINGLE,          0600, 0644, 022, false, -1, 0600, nullptr},
    {"Group0640Folder",       FOLDER,          0640, 0644, 022, false, -1, 0640, nullptr},
    {"ReadOnly0444Single",    SINGLE,          0444, 0644, 022, false, -1, 0444, nullptr},
    {"ReadOnly0444InPlace",   IN_PLACE,        0444, 0444, 022, false, -1, 0444, nullptr},
    {"Private0600FolderInPlace", FOLDER_IN_PLACE, 0600, 0600, 022, false, -1, 0600, nullptr},
    {"SetIdBitsNotCarried",   SINGLE,          04755, 0644, 022, false, -1, 0755, nullptr},
    {"NewFromPrivateSource",  SINGLE,          0,    0600, 022, false, -1, 0600, nullptr},
    {"NewFromProgramInFolder", FOLDER,         0,    0751, 027, false, -1, 0750, nullptr},
    {"NewFromStandardInput",  FROM_STDIN,      0,    0644, 077, false, -1, 0600, nullptr},
    {"OtherUsersFileAsRoot",  SINGLE,          0640, 0644, 022, false, 1234, 0640, nullptr},
    {"GroupNotMineAsUser",    SINGLE,          0664, 0644, 022, true,  0,   0600, "warning: out: owner or group not kept"},
};
// clang-format on

PRINTS_AS_ITS_NAME(permission_case)

class Permissions : public testing::TestWithParam<permission_case> {};

TEST_P(Permissions, AreKeptOrTakenFromTheSource) {
    const permission_case& c = GetParam();
    if ((c.target_owner >= 0 || c.as_user) && geteuid() != 0)
        GTEST_SKIP() << "giving a file to another user takes root";
    scratch_dir scratch;
    ASSERT_EQ(chmod(scratch.path().c_str(), 0777), 0);
    bool folder = c.form == FOLDER || c.form == FOLDER_IN_PLACE;
    std::string dir = folder ? "d/" : "";
    if (folder) {
        ASSERT_EQ(mkdir((scratch / "d").c_str(), 0777), 0);
        ASSERT_EQ(chmod((scratch / "d").c_str(), 0777), 0);
        ASSERT_EQ(mkdir((scratch / "e").c_str(), 0777), 0);
        ASSERT_EQ(chmod((scratch / "e").c_str(), 0777), 0);
    }
    std::string target = c.form == IN_PLACE || c.form == FOLDER_IN_PLACE ? dir + "in"
                         : c.form == FOLDER                              ? "e/in"
                                                                         : "out";
    write_file(scratch / (dir + "in"), "text\n");
    ASSERT_EQ(chmod((scratch / (dir + "in")).c_str(), c.source_mode), 0);
    if (c.target_mode != 0) {
        if (target != dir + "in")
            write_file(scratch / target, "old\n");
        ASSERT_EQ(chmod((scratch / target).c_str(), c.target_mode), 0);
        if (c.target_owner >= 0) {
            ASSERT_EQ(chown((scratch / target).c_str(), c.target_owner, c.target_owner), 0);
            ASSERT_EQ(chmod((scratch / target).c_str(), c.target_mode), 0);
        }
        if (c.as_user) {
            ASSERT_EQ(chown((scratch / target).c_str(), UNPRIVILEGED_ID, 0), 0);
        }
    }
    run_options options;
    options.working_dir = scratch.path();
    options.stdin_data = "text\n";
    mode_t mask = c.umask;
    bool as_user = c.as_user;
    options.before_exec = [mask, as_user] {
        umask(mask);
        if (as_user)
            become_unprivileged_user();
    };
    std::vector<std::string> args = {"-u", "in", "-u", target};
    if (c.form == FOLDER)
        args = {"-u", "d", "-u", "e"};
    else if (c.form == FOLDER_IN_PLACE)
        args = {"-u", "d", "-u", "./d"};
    else if (c.form == FROM_STDIN)
        args = {"-u", "-", "-u", target};
    run_result result = run_converter_process(args, options);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, c.warning ? P + c.warning + "\n" : "");
    struct stat status = status_of(scratch / target);
    EXPECT_EQ(status.st_mode & 07777, c.expected);
    if (c.target_owner > 0) {
        EXPECT_EQ(status.st_uid, static_cast<uid_t>(c.target_owner));
        EXPECT_EQ(status.st_gid, static_cast<gid_t>(c.target_owner));
    }
    EXPECT_EQ(read_file(scratch / target), "text\n");
}

INSTANTIATE_TEST_SUITE_P(, Permissions, testing::ValuesIn(PERMISSIONS),
                         testing::PrintToStringParamName());

// A standard stream closed when the run began stays closed to the user, by
// whatever name; a target that is the source itself is refused before
// anything is written. Neither touches the old target.
TEST(ClosedStreamsAndTheSameFile, FailWithoutWriting) {
    const struct {
        std::vector<std::string> args;
        bool close_stdin, close_stdout, same_file_on_stdin, same_file_on_fd3;
        std::string err; ///< with "F" for the file f's name
    } cases[] = {
        {{"-u", "/dev/stdin", "-c", "T.CPM"},
         true,
         false,
         false,
         false,
         "couldn't open /dev/stdin: " + std::string(std::strerror(EBADF))},
        {{"-u", "/proc/self/fd/0", "-c", "T.CPM"},
         true,
         false,
         false,
         false,
         "couldn't open /proc/self/fd/0: " + std::string(std::strerror(EBADF))},
        {{"-u", "h.txt", "-c", "/dev/fd/0"},
         true,
         false,
         false,
         false,
         "couldn't open /dev/fd/0: " + std::string(std::strerror(EBADF))},
        {{"-u", "h.txt", "-u", "/dev/stdout"},
         false,
         true,
         false,
         false,
         "couldn't open /dev/stdout: " + std::string(std::strerror(EBADF))},
        {{"-u", "-", "-c", "T.CPM"},
         true,
         false,
         false,
         false,
         "read error on <stdin>: " + std::string(std::strerror(EBADF))},
        {{"-u", "/dev/stdin", "-c", "/dev/stdout"},
         false,
         false,
         true,
         false,
         "couldn't open /dev/stdout: it is the source file"},
        {{"-u", "-", "-u", "-"},
         false,
         false,
         true,
         false,
         "couldn't open <stdout>: it is the source file"},
        {{"-u", "/dev/fd/3", "-c", "/dev/fd/3"},
         false,
         false,
         false,
         true,
         "couldn't open /dev/fd/3: it is the source file"},
        {{"-u", "f", "-u", "/proc/self/fd/3"},
         false,
         false,
         false,
         true,
         "couldn't open /proc/self/fd/3: it is the source file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1] + " " + c.args[3]);
        scratch_dir scratch;
        write_file(scratch / "h.txt", "host\n");
        write_file(scratch / "f", "same file\n");
        write_file(scratch / "T.CPM", "old");
        run_options options;
        options.working_dir = scratch.path();
        options.close_stdin = c.close_stdin;
        options.close_stdout = c.close_stdout;
        if (c.same_file_on_stdin) {
            options.stdin_path = scratch / "f";
            options.stdout_path = scratch / "f";
            options.append_stdout = true;
        }
        if (c.same_file_on_fd3)
            options.fd3_path = scratch / "f";
        run_result result = run_converter_process(c.args, options);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, P + c.err + "\n");
        EXPECT_EQ(read_file(scratch / "T.CPM"), "old");
        EXPECT_EQ(read_file(scratch / "f"), "same file\n");
        EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"T.CPM", "f", "h.txt"}));
    }
}

// An interrupted folder run removes the temporary files it made (those that
// wait in its batch among them), writes the messages it held for the files
// after them (bb's read error), and ends by the signal. It is held writing
// into a FIFO target that its reader never empties, after two files wait in
// the batch.
TEST(Interrupt, RemovesTemporaryFilesWritesHeldMessagesAndEndsByTheSignal) {
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        SCOPED_TRACE(signal_number);
        scratch_dir scratch;
        ASSERT_EQ(mkdir((scratch / "in").c_str(), 0777), 0);
        ASSERT_EQ(mkdir((scratch / "out").c_str(), 0777), 0);
        for (const char* name : {"a", "b", "c", "d"}) {
            write_file(scratch / "in/" + name, "new\n");
            write_file(scratch / "out/" + name, "old\n");
        }
        write_file(scratch / "in/bb", "\xff\n");
        write_file(scratch / "in/c", std::string(1 << 20, 'x'));
        ASSERT_EQ(unlink((scratch / "out/c").c_str()), 0);
        ASSERT_EQ(mkfifo((scratch / "out/c").c_str(), 0666), 0);
        int reader = open((scratch / "out/c").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
        run_options options;
        options.working_dir = scratch.path();
        running_converter running = start_converter_process({"-u", "in", "-u", "out"}, options);
        // The run has reached c, past bb, once c's text comes through the
        // FIFO; it then blocks, the FIFO full, for as long as it is not
        // read (up to 30 s, as slow as an emulator may be).
        char first[1];
        bool at_c = false;
        for (int tries = 0; tries < 3000 && !at_c; ++tries) {
            at_c = read(reader, first, 1) == 1;
            if (!at_c)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(at_c);
        ASSERT_TRUE(file_exists(scratch / ("out/b.temp." + std::to_string(running.pid))));
        kill(running.pid, signal_number);
        run_result result = wait_converter_process(running);
        close(reader);
        EXPECT_EQ(result.status, 128 + signal_number);
        EXPECT_NE(result.err.find(P + "read error on in/bb: " + std::strerror(EILSEQ) + "\n"),
                  std::string::npos)
            << result.err;
        for (const char* name : {"a", "b", "d"})
            EXPECT_EQ(read_file(scratch / "out/" + name), "old\n") << name;
        std::vector<std::string> left;
        for (const auto& entry : std::filesystem::directory_iterator(scratch / "out"))
            left.push_back(entry.path().filename().string());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"a", "b", "c", "d"}));
    }
}

} // namespace
