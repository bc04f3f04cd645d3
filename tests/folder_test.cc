// Whole folders in one run: which entries are converted, in which order, with
// which messages, and what a failing file leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "run_converter.h"
#include "test_support.h"

namespace {

const std::string CONFIG_ERROR = P + "command line or configuration error\n";

class Folder : public testing::Test {
  protected:
    void SetUp() override {
        options.working_dir = scratch.path();
        make_folder("in");
        make_folder("out");
    }
    void make_folder(const std::string& name) {
        ASSERT_EQ(mkdir((scratch / name).c_str(), 0777), 0);
    }
    std::vector<std::string> entries(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(scratch / folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    scratch_dir scratch;
    run_options options;
};

TEST_F(Folder, EachDirectionFileByFile) {
    write_file(scratch / "in/b.cpm", cpm_records("second\r\n\x1a"));
    write_file(scratch / "in/a.cpm", cpm_records("first\r\n\x1a"));
    run_result result = run_converter_process({"-c", "in", "-u", "out"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_file(scratch / "out/a.cpm"), "first\n");
    EXPECT_EQ(read_file(scratch / "out/b.cpm"), "second\n");

    make_folder("back");
    result = run_converter_process({"-z", "-u", "out", "-c", "back/"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(scratch / "back/a.cpm"), cpm_records("first\r\n\x1a"));
    EXPECT_EQ(entries("back"), (std::vector<std::string>{"a.cpm", "b.cpm"}));
}

TEST_F(Folder, EmptyFolder) {
    run_result result = run_converter_process({"-c", "in", "-u", "out"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(entries("out").empty());
}

TEST_F(Folder, InPlace) {
    write_file(scratch / "in/a", "one\n");
    write_file(scratch / "in/b", "two\n");
    run_result result = run_converter_process({"-u", "in", "-c", "in"}, options);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(read_file(scratch / "in/a"), cpm_records("one\r\n"));
    EXPECT_EQ(read_file(scratch / "in/b"), cpm_records("two\r\n"));
    EXPECT_EQ(entries("in"), (std::vector<std::string>{"a", "b"}));
}

// Names in byte order, whatever they hold; dotfiles left out; what is not a
// regular file skipped with a line; a link to a file followed.
TEST_F(Folder, WhichEntriesAndInWhichOrder) {
    write_file(scratch / "in/with space", "s\n");
    write_file(scratch / "in/\xc3\xa4-high", "\xc3\xa4\n");
    write_file(scratch / "in/Z", "z\n");
    write_file(scratch / "in/.hidden", "h\n");
    write_file(scratch / "target", "t\n");
    make_folder("in/sub");
    ASSERT_EQ(mkfifo((scratch / "in/fifo").c_str(), 0666), 0);
    ASSERT_EQ(symlink("../target", (scratch / "in/link").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (scratch / "in/dangling").c_str()), 0);
    run_result result = run_converter_process({"-u", "in", "-c", "out"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, P + "skipping in/dangling: not a regular file\n" + P +
                              "skipping in/fifo: not a regular file\n" + P +
                              "skipping in/sub: not a regular file\n" + P +
                              "warning: in/\xc3\xa4-high contains untranslateable characters\n" +
                              P + "in/\xc3\xa4-high:1:1: U+00E4\n" + BUILTIN_SET);
    EXPECT_EQ(entries("out"),
              (std::vector<std::string>{"Z", "link", "with space", "\xc3\xa4-high"}));
    EXPECT_EQ(read_file(scratch / "out/link"), cpm_records("t\r\n"));
    EXPECT_EQ(read_file(scratch / "out/with space"), cpm_records("s\r\n"));
}

// Nothing carries over from one file to the next: the warning of the first
// is not repeated for the clean second one.
TEST_F(Folder, NoStateLeaksBetweenFiles) {
    write_file(scratch / "in/a", "caf\xc3\xa9\x1a more\n");
    write_file(scratch / "in/b", "clean\n");
    run_result result = run_converter_process({"-u", "in", "-c", "out"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, P + "warning: in/a contains untranslateable characters\n" + P +
                              "in/a:1:4: U+00E9\n" + BUILTIN_SET + P +
                              "warning: in/a:1:5: text goes on after a ^Z, where CP/M programs "
                              "stop reading\n");
    EXPECT_EQ(read_file(scratch / "out/b"), cpm_records("clean\r\n"));
}

// A file that fails leaves its target as it was and no temporary file; the
// others are converted, and the run ends with a count.
TEST_F(Folder, FailingFilesAmongGoodOnes) {
    write_file(scratch / "in/a", "good\n");
    write_file(scratch / "in/b", "bad \xff\n");
    write_file(scratch / "in/c", "good too\n");
    write_file(scratch / "in/d", std::string(300000, 'x'));
    write_file(scratch / "out/b", "old b");
    write_file(scratch / "out/d", "old d");
    make_folder("out/c"); // a folder where the target should go
    write_file(scratch / "out/c/keep", "");
    options.file_size_limit = 100000; // d is cut short, as on a full disk
    run_result result = run_converter_process({"-u", "in", "-u", "out"}, options);
    std::string temp = ".temp." + std::to_string(result.pid);
    EXPECT_EQ(result.status, 1);
    // c is refused before anything is written: a folder is never replaced.
    EXPECT_EQ(result.err, P + "read error on in/b: " + std::strerror(EILSEQ) + "\n" + P +
                              "in/b:1:5: byte 0xFF is not valid in this locale\n" + P +
                              "couldn't open out/c: " + std::strerror(EISDIR) + "\n" + P +
                              "write error on out/d" + temp +
                              ": " + std::strerror(EFBIG) + "\n" + P + "3 of 4 files failed\n");
    EXPECT_EQ(read_file(scratch / "out/a"), "good\n");
    EXPECT_EQ(read_file(scratch / "out/b"), "old b");
    EXPECT_EQ(read_file(scratch / "out/d"), "old d");
    EXPECT_EQ(entries("out"), (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST_F(Folder, TargetFolderThatCannotBeWritten) {
    write_file(scratch / "in/a", "a\n");
    ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod((scratch / "in").c_str(), 0755), 0);
    ASSERT_EQ(chmod((scratch / "out").c_str(), 0555), 0);
    options.before_exec = become_unprivileged_user;
    run_result result = run_converter_process({"-u", "in", "-u", "out"}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, P + "couldn't open out/a.temp." + std::to_string(result.pid) + ": " +
                              std::strerror(EACCES) + "\n" + P + "1 of 1 files failed\n");
    chmod((scratch / "out").c_str(), 0777);
}

// Many files with standard error not a terminal: no progress line.
TEST_F(Folder, NoProgressWhenStandardErrorIsAFile) {
    for (int i = 0; i < 150; ++i)
        write_file(scratch / ("in/f" + std::to_string(i)), "x\n");
    run_result result = run_converter_process({"-u", "in", "-c", "out"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(entries("out").size(), 150u);
}

// A folder must face a folder; the line names the folder first. A file
// into a folder goes under its own last name, as cp puts it.
TEST_F(Folder, FolderFacingAFileIsACommandLineError) {
    write_file(scratch / "file", "");
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"-c", "in", "-c", "file"}, "in is a folder, file is not"},
        {{"-c", "in"}, "in is a folder, standard output is not"},
        {{"-u", "-", "-u", "out"}, "out is a folder, standard input is not"},
    };
    for (const auto& c : cases) {
        run_result result = run_converter_process(c.args, options);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, P + c.message + "\n" + usage_text() + CONFIG_ERROR);
        EXPECT_EQ(read_file(scratch / "file"), "");
    }
    write_file(scratch / "in/NOTES.TXT", cpm_records("notes\r\n"));
    for (const char* folder : {"out", "out/"}) {
        run_result result = run_converter_process({"-c", "in/NOTES.TXT", "-u", folder}, options);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(read_file(scratch / "out/NOTES.TXT"), "notes\n");
    }
}

// A drive holds programs beside its documents. They are skipped, by their
// file type or by their first 64 KiB, with one line and no other message,
// their targets as they were; --binary converts them as well. CMD files are
// decided by their bytes: dBASE II keeps its programs as text under that type.
TEST_F(Folder, BinaryFilesAreSkipped) {
    const struct {
        const char* source; ///< -c or -u
        const char* name;
        std::string contents;
        bool binary;
    } cases[] = {
        {"-c", "PIP.COM", std::string("\xc3\x00\x01\x1a", 4), true},
        {"-c", "STAT.com", "no NUL\r\n\x1a", true},
        {"-c", "SQ.DQC", "x", true},
        {"-c", "CR.aZm", "x", true},
        {"-c", "LZ.TYT", "x", true},
        {"-c", "PARTWAY.TXT", std::string(60000, '\x80') + std::string("\0x", 2), true},
        {"-c", "BEYOND.TXT", std::string(70000, 'x') + std::string("\0x", 2), false},
        {"-c", "DBASE.CMD", "USE NAMES\r\nLIST\r\n\x1a", false},
        {"-c", "CPM86.CMD", std::string("\x01\x02\x00\x00\x03\x00\x10\x00", 8), true},
        {"-c", "AFTER-END.TXT", std::string("hi\r\n\x1a\x00", 6), false},
        {"-c", "NOTCOM.COMX", "x", false},
        {"-c", "COM", "x", false},
        {"-u", "host.txt", std::string("\xc3\xa4 \x00 x", 6), true},
        {"-u", "plain.txt", "x\n", false},
    };
    for (const char* direction : {"-c", "-u"}) {
        SCOPED_TRACE(direction);
        std::filesystem::remove_all(scratch / "in");
        std::filesystem::remove_all(scratch / "out");
        make_folder("in");
        make_folder("out");
        std::string expected_err;
        std::vector<std::string> converted;
        std::vector<std::pair<std::string, bool>> sorted;
        for (const auto& c : cases) {
            if (std::strcmp(c.source, direction) != 0)
                continue;
            write_file(scratch / (std::string("in/") + c.name), c.contents);
            write_file(scratch / (std::string("out/") + c.name), "old");
            sorted.emplace_back(c.name, c.binary);
        }
        std::sort(sorted.begin(), sorted.end());
        for (const auto& [name, binary] : sorted)
            if (binary)
                expected_err += P + "skipping in/" + name + ": a binary file\n";
        const char* other = std::strcmp(direction, "-c") == 0 ? "-u" : "-c";
        run_result result = run_converter_process({direction, "in", other, "out"}, options);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, expected_err);
        for (const auto& [name, binary] : sorted)
            EXPECT_EQ(read_file(scratch / ("out/" + name)) == "old", binary) << name;
        EXPECT_EQ(entries("out").size(), sorted.size());

        result = run_converter_process({"-i", "--binary", direction, "in", other, "out"}, options);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        for (const auto& [name, binary] : sorted)
            EXPECT_NE(read_file(scratch / ("out/" + name)), "old") << name;
    }
}

// Which line a skipped entry gets when several reasons apply: not a regular
// file, then left by an interrupted run, then a link in place, then binary.
// In place, a link is left a link and its file converted once, also across
// batches (the descriptor limit makes them small).
TEST_F(Folder, InPlaceLinksLeftoversAndTheOrderOfReasons) {
    for (int i = 0; i < 30; ++i)
        write_file(scratch / ("in/f" + std::to_string(i)), "x\n");
    write_file(scratch / "in/aaa", "hello\n");
    ASSERT_EQ(symlink("aaa", (scratch / "in/zzz").c_str()), 0);
    write_file(scratch / "in/A.TXT.temp.123", "left\n");
    ASSERT_EQ(mkfifo((scratch / "in/F.temp.1").c_str(), 0666), 0);
    ASSERT_EQ(symlink("aaa", (scratch / "in/L.temp.5").c_str()), 0);
    write_file(scratch / "in/X.COM", "program");
    ASSERT_EQ(symlink("X.COM", (scratch / "in/P.COM").c_str()), 0);
    ASSERT_EQ(symlink("gone", (scratch / "in/dangling.COM").c_str()), 0);
    options.before_exec = [] {
        rlimit limit{20, 20};
        setrlimit(RLIMIT_NOFILE, &limit);
    };
    run_result result = run_converter_process({"-u", "./in/", "-c", "in"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, P + "skipping ./in/A.TXT.temp.123: left by an interrupted run\n" + P +
                              "skipping ./in/F.temp.1: not a regular file\n" + P +
                              "skipping ./in/L.temp.5: left by an interrupted run\n" + P +
                              "skipping ./in/P.COM: a symbolic link\n" + P +
                              "skipping ./in/X.COM: a binary file\n" + P +
                              "skipping ./in/dangling.COM: not a regular file\n" + P +
                              "skipping ./in/zzz: a symbolic link\n");
    EXPECT_EQ(read_file(scratch / "in/aaa"), cpm_records("hello\r\n"));
    EXPECT_EQ(read_file(scratch / "in/f29"), cpm_records("x\r\n"));
    EXPECT_EQ(read_file(scratch / "in/A.TXT.temp.123"), "left\n");
    EXPECT_TRUE(std::filesystem::is_symlink(scratch / "in/zzz"));
    EXPECT_EQ(entries("in").size(), 38u);

    // Into another folder, a link is followed.
    result = run_converter_process({"-c", "in", "-u", "out"}, options);
    EXPECT_EQ(read_file(scratch / "out/zzz"), "hello\n");
}

// As a user: a link that cannot be followed fails as its open does, and a
// target folder that may be written but not read is no obstacle.
TEST_F(Folder, PermissionsAsAUser) {
    ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod((scratch / "in").c_str(), 0755), 0);
    make_folder("private");
    write_file(scratch / "private/secret", "s\n");
    ASSERT_EQ(chmod((scratch / "private").c_str(), 0700), 0);
    write_file(scratch / "in/a", "a\n");
    ASSERT_EQ(symlink("../private/secret", (scratch / "in/link").c_str()), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(chown((scratch / "out").c_str(), UNPRIVILEGED_ID, UNPRIVILEGED_ID), 0);
    }
    ASSERT_EQ(chmod((scratch / "out").c_str(), 0300), 0);
    options.before_exec = become_unprivileged_user;
    run_result result = run_converter_process({"-u", "in", "-c", "out"}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, P + "couldn't open in/link: " + std::strerror(EACCES) + "\n" + P +
                              "1 of 2 files failed\n");
    chmod((scratch / "out").c_str(), 0700);
    EXPECT_EQ(read_file(scratch / "out/a"), cpm_records("a\r\n"));
}

// An entry listed as a regular file and replaced by a FIFO before it is
// opened is skipped, not waited on: the run is held at the earlier target, a
// FIFO it fills beyond the pipe's buffer, while the test swaps the entry.
TEST_F(Folder, EntrySwappedForAFifoAfterTheListing) {
    const std::string first(1 << 20, '\n');
    write_file(scratch / "in/a", first);
    write_file(scratch / "in/b", "second\n");
    write_file(scratch / "in/c", "third\n");
    ASSERT_EQ(mkfifo((scratch / "out/a").c_str(), 0666), 0);
    running_converter running = start_converter_process({"-u", "in", "-u", "out"}, options);
    int reader = open((scratch / "out/a").c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(unlink((scratch / "in/b").c_str()), 0);
    ASSERT_EQ(mkfifo((scratch / "in/b").c_str(), 0666), 0);
    std::string text;
    char buffer[64];
    for (ssize_t count; (count = read(reader, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(count));
    close(reader);
    run_result result = wait_converter_process(running);
    EXPECT_EQ(text, first);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, P + "skipping in/b: not a regular file\n");
    EXPECT_EQ(read_file(scratch / "out/c"), "third\n");
}

// A missing target folder is made, one level, and only once the
// configuration has been read.
TEST_F(Folder, MissingTargetFolder) {
    write_file(scratch / "in/a", "a\n");
    write_file(scratch / "bad.conf", "no such statement\n");
    run_result result = run_converter_process({"-f", "bad.conf", "-u", "in", "-u", "new"}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_FALSE(file_exists(scratch / "new"));

    result = run_converter_process({"-u", "in", "-u", "missing/new"}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, P + "couldn't create missing/new: " + std::strerror(ENOENT) + "\n");

    result = run_converter_process({"-u", "in", "-c", "new"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(scratch / "new/a"), cpm_records("a\r\n"));
}

} // namespace

namespace {

// --quiet, for cron: no skip lines, but every warning and error, and the
// count of failures.
TEST_F(Folder, QuietKeepsWarningsAndErrors) {
    write_file(scratch / "in/P.COM", "program");
    write_file(scratch / "in/A.TXT.temp.9", "left");
    write_file(scratch / "in/B.TXT", cpm_records("\x80\r\n"));
    write_file(scratch / "in/C.TXT", cpm_records("c\r\n"));
    make_folder("out/C.TXT");
    run_result result = run_converter_process({"--quiet", "-c", "in", "-u", "out"}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, P + "warning: in/B.TXT contains untranslateable characters\n" + P +
                              "in/B.TXT:1:1: code 0x80\n" + BUILTIN_SET + P +
                              "couldn't open out/C.TXT: " +
                              std::strerror(EISDIR) + "\n" + P + "1 of 2 files failed\n");
}

} // namespace
