// Failures at every step of a run: each gives its message and status 1, an
// existing target stays byte-identical and no temporary file is left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#if __has_include(<sys/sysmacros.h>)
#include <sys/sysmacros.h> // makedev on glibc; the BSDs have it in sys/types.h
#endif
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "convert/target_file.h"
#include "run_converter.h"
#include "test_support.h"

namespace {

const std::string OLD_TARGET = "old target\r\n\x1a";

std::string temp_name(const std::string& target, pid_t pid) {
    return target + ".temp." + std::to_string(pid);
}

class Failure : public testing::Test {
  protected:
    void SetUp() override {
        options.working_dir = scratch.path();
        write_file(scratch / "in.txt", "some text\n");
        write_file(scratch / "out", OLD_TARGET);
    }

    void expect_target_untouched() {
        EXPECT_EQ(read_file(scratch / "out"), OLD_TARGET);
        for (const std::string& name : scratch.entries())
            EXPECT_EQ(name.find(".temp."), std::string::npos) << name;
    }

    scratch_dir scratch;
    run_options options;
};

TEST_F(Failure, MissingSource) {
    run_result result = run_converter_process({"-u", "missing", "-c", "out"}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, P + "couldn't open missing: " + std::strerror(ENOENT) + "\n");
    expect_target_untouched();
}

TEST_F(Failure, TargetInMissingDirectory) {
    run_result result = run_converter_process({"-u", "in.txt", "-c", "nowhere/out"}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, P + "couldn't open " + temp_name("nowhere/out", result.pid) + ": " +
                              std::strerror(ENOENT) + "\n");
    expect_target_untouched();
}

TEST_F(Failure, UntranslatableWithErrorOption) {
    write_file(scratch / "in.txt", "\xc3\xa9\n");
    run_result result = run_converter_process({"-e", "-u", "in.txt", "-c", "out"}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              P + "in.txt contains untranslateable characters\n" + P + "in.txt:1:1: U+00E9\n");
    expect_target_untouched();
}

TEST_F(Failure, InvalidSequenceInSource) {
    write_file(scratch / "in.txt", std::string(100000, 'a') + "\xe2\x82");
    run_result result = run_converter_process({"-u", "in.txt", "-u", "out"}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, P + "read error on in.txt: " + std::strerror(EILSEQ) + "\n" + P +
                              "in.txt:1:100001: byte 0xE2 is not valid in this locale\n");
    expect_target_untouched();
}

struct write_error_case {
    const char* name;
    std::vector<std::string> args;
};

PRINTS_AS_ITS_NAME(write_error_case)

class WriteError : public Failure, public testing::WithParamInterface<write_error_case> {};

// A file size limit makes the temporary file refuse data partway through.
TEST_P(WriteError, NamesTemporaryFileAndKeepsTarget) {
    std::string text;
    while (text.size() < 300000)
        text += "a line of text\n";
    write_file(scratch / "in.txt", text);
    write_file(scratch / "in.cpm", text + "\x1a");
    options.file_size_limit = 100000;
    run_result result = run_converter_process(GetParam().args, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, P + "write error on " + temp_name("out", result.pid) + ": " +
                              std::strerror(EFBIG) + "\n");
    expect_target_untouched();
}

const write_error_case WRITE_ERRORS[] = {
    {"HostToCpm", {"-u", "in.txt", "-c", "out"}},
    {"CpmToCpm", {"-c", "in.cpm", "-c", "out"}},
    {"CpmToHost", {"-c", "in.cpm", "-u", "out"}},
    {"HostToHost", {"-u", "in.txt", "-u", "out"}},
};

INSTANTIATE_TEST_SUITE_P(, WriteError, testing::ValuesIn(WRITE_ERRORS),
                         testing::PrintToStringParamName());

TEST_F(Failure, FullStandardOutput) {
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "this host has no /dev/full";
    options.stdout_path = "/dev/full";
    write_file(scratch / "f.cpm", "A\r\n\x1a");
    run_result result = run_converter_process({"-c", "f.cpm"}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, P + "write error on <stdout>: " + std::strerror(ENOSPC) + "\n");
}

TEST_F(Failure, ClosedStandardOutput) {
    options.close_stdout = true;
    write_file(scratch / "f.cpm", "A\r\n\x1a");
    run_result result = run_converter_process({"-c", "f.cpm"}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, P + "write error on <stdout>: " + std::strerror(EBADF) + "\n");
    EXPECT_EQ(read_file(scratch / "f.cpm"), "A\r\n\x1a");
}

// Where NAME.temp.PID would pass the 255-byte limit of a name, the temporary
// name is shortened, and still taken for a leftover by a later folder run.
TEST_F(Failure, LongestNamesAreConverted) {
    for (std::size_t length : {245, 250, 255}) {
        SCOPED_TRACE(length);
        std::string target(length, 'n');
        run_result result = run_converter_process({"-u", "in.txt", "-c", target}, options);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(read_file(scratch / target), cpm_records("some text\r\n"));
        EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"in.txt", target, "out"}));
        ASSERT_EQ(unlink((scratch / target).c_str()), 0);
    }
    EXPECT_TRUE(is_temporary_name(temporary_name_for(std::string(250, 'n'), 4194304, 1)));
    EXPECT_EQ(temporary_name_for(std::string(250, 'n'), 42, 7), std::string(245, 'n') + "~7.temp.42");
    EXPECT_EQ(temporary_name_for("short", 42, 7), "short.temp.42");
}

// Whatever is found at the temporary name is removed, never written through:
// a link planted there leaves the file behind it as it was.
struct planted_case {
    const char* name;
    int (*plant)(const char* victim, const char* temp);
    std::vector<std::string> args;
    std::string expected;
};

PRINTS_AS_ITS_NAME(planted_case)

const planted_case PLANTED[] = {
    {"HardLinkHostTarget", link, {"-u", "in.txt", "-u", "out"}, "some text\n"},
    {"HardLinkCpmTarget",
     link,
     {"-u", "in.txt", "-c", "out"},
     "some text\r\n" + std::string(117, '\x1a')},
    {"SymbolicLinkHostTarget", symlink, {"-u", "in.txt", "-u", "out"}, "some text\n"},
    {"SymbolicLinkCpmTarget",
     symlink,
     {"-u", "in.txt", "-c", "out"},
     "some text\r\n" + std::string(117, '\x1a')},
};

class PlantedAtTemporaryName : public Failure, public testing::WithParamInterface<planted_case> {};

TEST_P(PlantedAtTemporaryName, IsReplacedNeverWrittenThrough) {
    write_file(scratch / "victim", "victim's data");
    std::string dir = scratch.path();
    auto plant = GetParam().plant;
    options.before_exec = [dir, plant] {
        std::string temp = dir + "/out.temp." + std::to_string(getpid());
        if (plant((dir + "/victim").c_str(), temp.c_str()) != 0)
            _exit(125);
    };
    run_result result = run_converter_process(GetParam().args, options);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_file(scratch / "out"), GetParam().expected);
    EXPECT_EQ(read_file(scratch / "victim"), "victim's data");
    EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"in.txt", "out", "victim"}));
}

INSTANTIATE_TEST_SUITE_P(, PlantedAtTemporaryName, testing::ValuesIn(PLANTED),
                         testing::PrintToStringParamName());

// A folder at the temporary name cannot be removed: the run stops with the
// removal's error and leaves the folder alone.
TEST_F(Failure, FolderAtTemporaryNameIsLeftAlone) {
    std::string dir = scratch.path();
    options.before_exec = [dir] {
        std::string temp = dir + "/out.temp." + std::to_string(getpid());
        if (mkdir(temp.c_str(), 0777) != 0 || mkdir((temp + "/inner").c_str(), 0777) != 0)
            _exit(125);
    };
    ASSERT_EQ(mkdir((scratch / "probe").c_str(), 0777), 0);
    ASSERT_NE(unlink((scratch / "probe").c_str()), 0);
    std::string removal_error = std::strerror(errno);
    ASSERT_EQ(rmdir((scratch / "probe").c_str()), 0);
    run_result result = run_converter_process({"-u", "in.txt", "-c", "out"}, options);
    std::string temp = temp_name("out", result.pid);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, P + "couldn't open " + temp + ": " + removal_error + "\n");
    EXPECT_TRUE(file_exists(scratch / (temp + "/inner")));
    EXPECT_EQ(read_file(scratch / "out"), OLD_TARGET);
}

// Two runs racing onto one target: each renames a complete file of its own,
// so the target ends up as exactly one of the two results.
TEST_F(Failure, RacingConversionsLeaveOneWholeResult) {
    std::string a, b;
    for (int line = 0; line < 100000; ++line) {
        a += "first source, line " + std::to_string(line) + "\n";
        b += "SECOND SOURCE " + std::to_string(line) + "\n";
    }
    write_file(scratch / "a.txt", a);
    write_file(scratch / "b.txt", b);
    for (int round = 0; round < 5; ++round) {
        running_converter first = start_converter_process({"-u", "a.txt", "-u", "out"}, options);
        running_converter second = start_converter_process({"-u", "b.txt", "-u", "out"}, options);
        EXPECT_EQ(wait_converter_process(first).status, 0);
        EXPECT_EQ(wait_converter_process(second).status, 0);
        std::string result = read_file(scratch / "out");
        EXPECT_TRUE(result == a || result == b)
            << "round " << round << ": " << result.size() << " bytes";
        EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"a.txt", "b.txt", "in.txt", "out"}));
    }
}

// A target that names an open descriptor of the process is written through
// it, as "-u -" writes standard output: nothing is created or renamed. The
// paths are those under /dev/fd and /proc/self/fd, where a wrong run could not
// create a file either; /dev/stdout itself is covered by the unit test.
struct descriptor_target_case {
    const char* name;
    std::vector<std::string> args;
    bool append;
    std::string out;
    std::string err;
};

PRINTS_AS_ITS_NAME(descriptor_target_case)

const descriptor_target_case DESCRIPTOR_TARGETS[] = {
    {"HostToStandardOutput", {"-u", "in.txt", "-u", "/dev/fd/1"}, false, "some text\n", ""},
    {"AppendedToStandardOutput",
     {"-u", "in.txt", "-u", "/proc/self/fd/1"},
     true,
     "kept\nsome text\n",
     ""},
    {"CpmToStandardOutput",
     {"-u", "in.txt", "-c", "/dev/fd/1"},
     false,
     "some text\r\n" + std::string(117, '\x1a'),
     ""},
    {"StandardError", {"-u", "in.txt", "-u", "/proc/self/fd/2"}, false, "", "some text\n"},
};

class DescriptorTarget : public Failure,
                         public testing::WithParamInterface<descriptor_target_case> {};

TEST_P(DescriptorTarget, IsWrittenThroughTheDescriptor) {
    const descriptor_target_case& c = GetParam();
    std::string captured = scratch.path() + "-stdout";
    write_file(captured, "kept\n");
    options.stdout_path = captured;
    options.append_stdout = c.append;
    run_result result = run_converter_process(c.args, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(read_file(captured), c.out);
    EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"in.txt", "out"}));
    std::remove(captured.c_str());
}

INSTANTIATE_TEST_SUITE_P(, DescriptorTarget, testing::ValuesIn(DESCRIPTOR_TARGETS),
                         testing::PrintToStringParamName());

TEST_F(Failure, DescriptorTargetThatIsNotOpen) {
    run_result result = run_converter_process({"-u", "in.txt", "-u", "/dev/fd/999"}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, P + "couldn't open /dev/fd/999: " + std::strerror(EBADF) + "\n");
    expect_target_untouched();
}

// Special files are written in place, never replaced by a plain file.
class SpecialTarget : public Failure {
  protected:
    bool make_device(const char* name, unsigned minor) {
        return mknod((scratch / name).c_str(), S_IFCHR | 0666, makedev(1, minor)) == 0;
    }
    bool is_char_device(const char* name) {
        struct stat status;
        return stat((scratch / name).c_str(), &status) == 0 && S_ISCHR(status.st_mode);
    }
};

TEST_F(SpecialTarget, NullDeviceIsWrittenNotReplaced) {
    if (!make_device("null", 3))
        GTEST_SKIP() << "cannot make device nodes here";
    run_result result = run_converter_process({"-u", "in.txt", "-c", "null"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(is_char_device("null"));
    EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"in.txt", "null", "out"}));
}

TEST_F(SpecialTarget, FullDeviceReportsTheTargetItself) {
    if (!make_device("full", 7))
        GTEST_SKIP() << "cannot make device nodes here";
    run_result result = run_converter_process({"-u", "in.txt", "-c", "full"}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, P + "write error on full: " + std::strerror(ENOSPC) + "\n");
    EXPECT_TRUE(is_char_device("full"));
    expect_target_untouched();
}

TEST_F(SpecialTarget, FifoIsWrittenInPlace) {
    ASSERT_EQ(mkfifo((scratch / "fifo").c_str(), 0666), 0);
    // A reader holds the FIFO open, so the converter's open does not block;
    // what it writes is drained after the run (it fits the pipe buffer).
    int reader = open((scratch / "fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    run_result result = run_converter_process({"-u", "in.txt", "-c", "fifo"}, options);
    char buffer[512];
    ssize_t count = read(reader, buffer, sizeof buffer);
    close(reader);
    EXPECT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(count, 128);
    EXPECT_EQ(std::string(buffer, 12), "some text\r\n\x1a");
    struct stat status;
    ASSERT_EQ(stat((scratch / "fifo").c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

} // namespace
