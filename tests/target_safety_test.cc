// Where a run may write, whatever was planted at the target's name or in
// its folder: no link followed, no stream reached by another spelling,
// nothing made in /dev, the target folder held while it is moved, and the
// access of the replaced file kept.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "run_converter.h"
#include "test_support.h"

namespace {

bool is_regular(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> names;
    if (std::filesystem::is_directory(folder))
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// What the FIFO holds now, read without waiting.
std::string drain_fifo(int reader) {
    std::string got;
    char block[4096];
    for (ssize_t count; (count = read(reader, block, sizeof block)) > 0;)
        got.append(block, static_cast<std::size_t>(count));
    return got;
}

class TargetSafety : public testing::Test {
  protected:
    void SetUp() override {
        options.working_dir = scratch.path();
        write_file(scratch / "S.TXT", cpm_records("new text\r\n\x1a"));
        write_file(scratch / "victim", "victim's own");
        ASSERT_EQ(mkfifo((scratch / "f").c_str(), 0666), 0);
        reader = open((scratch / "f").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
    }
    void TearDown() override {
        if (reader >= 0)
            close(reader);
    }

    scratch_dir scratch;
    run_options options;
    int reader = -1;
};

struct planted_link_case {
    const char* name;
    const char* leads_to; ///< what the link at the target's name leads to
    bool folder_run;
};

// A link at the target's name is replaced by the new file; what it leads to,
// a FIFO with a reader, a device or a file elsewhere, is never opened.
TEST_F(TargetSafety, ALinkAtTheTargetsNameIsReplacedNeverFollowed) {
    const planted_link_case cases[] = {
        {"LinkToAFifo", "f", false},          {"LinkToADevice", "/dev/null", false},
        {"LinkToAFile", "victim", false},     {"LinkToAFifoInAFolder", "../f", true},
        {"LinkToADeviceInAFolder", "/dev/null", true}, {"LinkToAFileInAFolder", "../victim", true},
    };
    for (const planted_link_case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string target = c.folder_run ? "host/S.TXT" : "out.txt";
        if (c.folder_run) {
            ASSERT_EQ(mkdir((scratch / "drive").c_str(), 0777), 0);
            ASSERT_EQ(mkdir((scratch / "host").c_str(), 0777), 0);
            write_file(scratch / "drive/S.TXT", cpm_records("new text\r\n\x1a"));
        }
        ASSERT_EQ(symlink(c.leads_to, (scratch / target).c_str()), 0);
        std::vector<std::string> args = c.folder_run
                                            ? std::vector<std::string>{"-c", "drive", "-u", "host"}
                                            : std::vector<std::string>{"-c", "S.TXT", "-u", target};
        run_result result = run_converter_process(args, options);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_TRUE(is_regular(scratch / target));
        EXPECT_EQ(read_file(scratch / target), "new text\n");
        EXPECT_EQ(drain_fifo(reader), "");
        EXPECT_EQ(read_file(scratch / "victim"), "victim's own");
        unlink((scratch / target).c_str());
        if (c.folder_run) {
            unlink((scratch / "drive/S.TXT").c_str());
            rmdir((scratch / "drive").c_str());
            rmdir((scratch / "host").c_str());
        }
    }
}

// A FIFO named directly is written in place.
TEST_F(TargetSafety, AFifoNamedDirectlyIsWrittenInPlace) {
    run_result result = run_converter_process({"-c", "S.TXT", "-u", "f"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(drain_fifo(reader), "new text\n");
}

struct spelling_case {
    const char* name;
    std::vector<std::string> args;
    bool close_stdin, close_stdout;
    std::string err; ///< empty: the run succeeds
};

// The standard streams by other spellings: closed ones stay closed, open ones
// are written through, and nothing is made or renamed in /dev.
TEST_F(TargetSafety, StreamsByEverySpelling) {
    const std::string closed = std::string(": ") + std::strerror(EBADF) + "\n";
    const spelling_case cases[] = {
        {"ClosedStdinDoubleSlash", {"-u", "/dev//stdin", "-c", "OUT.TXT"}, true, false,
         P + "couldn't open /dev//stdin" + closed},
        {"ClosedStdinProcDoubleSlash", {"-u", "/proc/self/fd//0", "-c", "OUT.TXT"}, true, false,
         P + "couldn't open /proc/self/fd//0" + closed},
        {"ClosedStdinDotComponent", {"-u", "/dev/./stdin", "-c", "OUT.TXT"}, true, false,
         P + "couldn't open /dev/./stdin" + closed},
        {"ClosedStdoutDoubleSlash", {"-c", "S.TXT", "-u", "/dev//stdout"}, false, true,
         P + "couldn't open /dev//stdout" + closed},
        {"OpenStdoutDoubleSlash", {"-c", "S.TXT", "-u", "/dev//stdout"}, false, false, ""},
        {"NothingMadeInDev", {"-c", "S.TXT", "-u", "/dev/vorbix-convert-test"}, false, false,
         P + "couldn't open /dev/vorbix-convert-test: " + std::strerror(EPERM) + "\n"},
    };
    for (const spelling_case& c : cases) {
        SCOPED_TRACE(c.name);
        options.close_stdin = c.close_stdin;
        options.close_stdout = c.close_stdout;
        run_result result = run_converter_process(c.args, options);
        EXPECT_EQ(result.status, c.err.empty() ? 0 : 1);
        EXPECT_EQ(result.err, c.err);
        if (c.err.empty()) {
            EXPECT_EQ(result.out, "new text\n");
        }
        EXPECT_FALSE(file_exists(scratch / "OUT.TXT"));
        EXPECT_FALSE(file_exists("/dev/vorbix-convert-test"));
    }
}

// --keep-date takes the times of a regular file only: standard input, a
// descriptor, a device and a FIFO give none.
TEST_F(TargetSafety, KeepDateOnlyFromARegularFile) {
    write_file(scratch / "old", "from an old file\n");
    const timespec long_ago[2] = {{915235200, 0}, {915235200, 0}}; // 1999-01-02
    ASSERT_EQ(utimensat(AT_FDCWD, (scratch / "old").c_str(), long_ago, 0), 0);
    struct source_case {
        const char* name;
        std::vector<std::string> source;
        bool from_old_on_stdin;
        bool dated;
    } cases[] = {
        {"RegularFile", {"-u", "old"}, false, true},
        {"StandardInput", {"-u", "-"}, true, false},
        {"DevStdin", {"-u", "/dev/stdin"}, true, false},
        {"Device", {"-u", "/dev/null"}, false, false},
    };
    for (const source_case& c : cases) {
        SCOPED_TRACE(c.name);
        options.stdin_path = c.from_old_on_stdin ? scratch / "old" : "";
        std::vector<std::string> args = {"--keep-date"};
        args.insert(args.end(), c.source.begin(), c.source.end());
        args.insert(args.end(), {"-u", "t"});
        ASSERT_EQ(run_converter_process(args, options).status, 0);
        struct stat status;
        ASSERT_EQ(stat((scratch / "t").c_str(), &status), 0);
        EXPECT_EQ(status.st_mtime == 915235200, c.dated);
    }
    // A FIFO as the source: its writer is the test, which holds no reader
    // of its own, so that the writer opens only once the run's reader does.
    options.stdin_path = "";
    close(reader);
    reader = -1;
    running_converter running =
        start_converter_process({"--keep-date", "-u", "f", "-u", "t"}, options);
    int writer = -1;
    for (int tries = 0; tries < 3000 && writer < 0; ++tries) {
        writer = open((scratch / "f").c_str(), O_WRONLY | O_NONBLOCK);
        if (writer < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(writer, 0);
    ASSERT_EQ(write(writer, "fifo\n", 5), 5);
    close(writer);
    EXPECT_EQ(wait_converter_process(running).status, 0);
    struct stat status;
    ASSERT_EQ(stat((scratch / "t").c_str(), &status), 0);
    EXPECT_NE(status.st_mtime, 915235200);
    EXPECT_EQ(read_file(scratch / "t"), "fifo\n");
}

// A folder run with inherited descriptors and a low limit converts every
// file: its batches are sized to what is free.
TEST_F(TargetSafety, BatchesCountTheDescriptorsAlreadyOpen) {
    ASSERT_EQ(mkdir((scratch / "d").c_str(), 0777), 0);
    for (int i = 0; i < 300; ++i)
        write_file(scratch / ("d/F" + std::to_string(i)), "text\r\n\x1a");
    options.before_exec = [] {
        for (int i = 0; i < 20; ++i)
            dup(0);
        rlimit limit = {64, 64};
        setrlimit(RLIMIT_NOFILE, &limit);
    };
    run_result result = run_converter_process({"-c", "d", "-u", "h"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(read_file(scratch / ("h/F" + std::to_string(i))), "text\n") << i;
}

// The target folder moved away and a link put in its place while the run is
// held at a FIFO: every file still goes into the folder the run began with,
// and nothing into the link's target.
TEST_F(TargetSafety, TheTargetFolderIsHeldWhileItMoves) {
    ASSERT_EQ(mkdir((scratch / "in").c_str(), 0777), 0);
    ASSERT_EQ(mkdir((scratch / "h").c_str(), 0777), 0);
    ASSERT_EQ(mkdir((scratch / "elsewhere").c_str(), 0777), 0);
    for (const char* name : {"a", "b", "d"})
        write_file(scratch / "in/" + name, std::string(name) + "\n");
    write_file(scratch / "in/c", std::string(1 << 20, 'x'));
    ASSERT_EQ(mkfifo((scratch / "h/c").c_str(), 0666), 0);
    int held = open((scratch / "h/c").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(held, 0);
    running_converter running = start_converter_process({"-u", "in", "-u", "h"}, options);
    std::string waiting = scratch / ("h/b.temp." + std::to_string(running.pid));
    for (int tries = 0; tries < 3000 && !file_exists(waiting); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(file_exists(waiting));
    ASSERT_EQ(rename((scratch / "h").c_str(), (scratch / "h.real").c_str()), 0);
    ASSERT_EQ(symlink("elsewhere", (scratch / "h").c_str()), 0);
    // The run may not have opened the FIFO yet: until it has, a read finds
    // no writer and says so, and the test looks again, up to 30 s of quiet.
    std::string through_fifo;
    char block[65536];
    for (int quiet_tries = 0; through_fifo.size() < std::size_t{1} << 20 && quiet_tries < 3000;) {
        ssize_t count = read(held, block, sizeof block);
        if (count > 0) {
            through_fifo.append(block, static_cast<std::size_t>(count));
            quiet_tries = 0;
        } else {
            ++quiet_tries;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    close(held);
    run_result result = wait_converter_process(running);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(through_fifo.size(), std::size_t{1} << 20);
    for (const char* name : {"a", "b", "d"})
        EXPECT_EQ(read_file(scratch / "h.real/" + name), std::string(name) + "\n") << name;
    EXPECT_EQ(names_in(scratch / "h.real"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(names_in(scratch / "elsewhere"), std::vector<std::string>{});
}

#ifdef __linux__
// The POSIX ACL of a replaced file, built here as the kernel stores it: a
// version, then (tag, permissions, id) entries in the order of their tags.
std::string acl_giving_read_to(unsigned user) {
    auto entry = [](std::uint16_t tag, std::uint16_t perms, std::uint32_t id) {
        std::string bytes(8, '\0');
        std::memcpy(&bytes[0], &tag, 2);
        std::memcpy(&bytes[2], &perms, 2);
        std::memcpy(&bytes[4], &id, 4);
        return bytes;
    };
    const std::uint32_t version = 2, none = 0xFFFFFFFF;
    std::string acl(4, '\0');
    std::memcpy(&acl[0], &version, 4);
    return acl + entry(0x01, 6, none) + entry(0x02, 4, user) + entry(0x04, 0, none) +
           entry(0x10, 4, none) + entry(0x20, 0, none);
}

// The old target, 0600 with an ACL that lets one other user read it, is
// replaced by a file with the same ACL: its group gets no access.
TEST_F(TargetSafety, AnAccessAclIsKept) {
    const char* ACCESS = "system.posix_acl_access";
    write_file(scratch / "out.txt", "old");
    ASSERT_EQ(chmod((scratch / "out.txt").c_str(), 0600), 0);
    std::string acl = acl_giving_read_to(UNPRIVILEGED_ID);
    if (setxattr((scratch / "out.txt").c_str(), ACCESS, acl.data(), acl.size(), 0) != 0)
        GTEST_SKIP() << "this file system keeps no ACLs: " << std::strerror(errno);
    struct stat before;
    ASSERT_EQ(stat((scratch / "out.txt").c_str(), &before), 0);
    ASSERT_EQ(before.st_mode & 0777, 0640u) << "the mask shows as the group's bits";
    run_result result = run_converter_process({"-c", "S.TXT", "-u", "out.txt"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_file(scratch / "out.txt"), "new text\n");
    std::string kept(acl.size() + 16, '\0');
    ssize_t size = getxattr((scratch / "out.txt").c_str(), ACCESS, &kept[0], kept.size());
    ASSERT_GE(size, 0) << std::strerror(errno);
    kept.resize(static_cast<std::size_t>(size));
    EXPECT_EQ(kept, acl);
    struct stat after;
    ASSERT_EQ(stat((scratch / "out.txt").c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 0777, 0640u);
}

#endif

// Out of memory in a folder run, at limits from too little to list the
// folder to enough: the run either converts or ends with the one line and
// status 1, after whole lines of the messages it held (every tenth file has
// a code without a translation), and leaves no temporary file; it never
// crashes.
TEST_F(TargetSafety, OutOfMemoryEndsCleanly) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's shadow memory does not fit under the limits";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "AddressSanitizer's shadow memory does not fit under the limits";
#endif
#endif
    if (!std::string(VORBIX_TEST_EMULATOR).empty() || std::getenv("VORBIX_TEST_WRAPPER"))
        GTEST_SKIP() << "an emulator's or wrapper's own memory makes the limits meaningless";
    ASSERT_EQ(mkdir((scratch / "d").c_str(), 0777), 0);
    for (int i = 0; i < 3000; ++i)
        write_file(scratch / ("d/" + std::string(200, 'n') + std::to_string(i)),
                   i % 10 == 0 ? "t\x80\r\n\x1a" : "t\r\n\x1a");
    int ended_out_of_memory = 0;
    for (rlim_t kilobytes = 2000; kilobytes <= 6000; kilobytes += 500) {
        SCOPED_TRACE(kilobytes);
        options.before_exec = [kilobytes] {
            rlimit limit = {kilobytes * 1024, kilobytes * 1024};
            setrlimit(RLIMIT_AS, &limit);
        };
        run_result result = run_converter_process({"-c", "d", "-u", "h"}, options);
        // Too little for the loader to start the program at all (status
        // 127, which the program itself never gives), or to map the locale.
        if (result.status == 127 ||
            result.err.rfind(P + "setlocale(LC_CTYPE) failed\n", 0) == 0)
            continue;
        ASSERT_TRUE(result.status == 0 || result.status == 1) << result.status << result.err;
        // Our own allocations say "out of memory"; the C library's, as in
        // opendir, fail the call that made them with ENOMEM.
        if (result.status == 1) {
            ++ended_out_of_memory;
            std::vector<std::string> lines;
            for (std::size_t from = 0, end; from < result.err.size(); from = end + 1) {
                end = result.err.find('\n', from);
                ASSERT_NE(end, std::string::npos) << result.err;
                lines.push_back(result.err.substr(from, end - from));
            }
            ASSERT_FALSE(lines.empty());
            if (lines.back() != P + "out of memory") {
                EXPECT_EQ(lines.back(), P + "couldn't open d: " + std::strerror(ENOMEM));
            }
            for (std::size_t i = 0; i + 1 < lines.size(); ++i)
                EXPECT_TRUE(lines[i].rfind(P + "warning: d/n", 0) == 0 ||
                            lines[i].rfind(P + "d/n", 0) == 0 ||
                            lines[i].rfind(P + "no configuration file", 0) == 0)
                    << lines[i];
        }
        for (const std::string& name : names_in(scratch / "h"))
            ASSERT_EQ(name.find(".temp."), std::string::npos) << name;
    }
    EXPECT_GT(ended_out_of_memory, 0) << "no limit ran out of memory";
}

} // namespace
