// Whole folders in one run: which entries are converted, in which order, with
// which messages, and what a failing file leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "run_converter.h"

namespace {

const std::string P = "vorbix-convert: ";
const std::string CONFIG_ERROR = P + "command line or configuration error\n";

std::string cpm(const std::string& text) {
    return text + std::string((128 - text.size() % 128) % 128, '\x1a');
}

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
    write_file(scratch / "in/b.cpm", cpm("second\r\n\x1a"));
    write_file(scratch / "in/a.cpm", cpm("first\r\n\x1a"));
    run_result result = run_converter_process({"-c", "in", "-u", "out"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_file(scratch / "out/a.cpm"), "first\n");
    EXPECT_EQ(read_file(scratch / "out/b.cpm"), "second\n");

    make_folder("back");
    result = run_converter_process({"-z", "-u", "out", "-c", "back/"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(scratch / "back/a.cpm"), cpm("first\r\n\x1a"));
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
    EXPECT_EQ(read_file(scratch / "in/a"), cpm("one\r\n"));
    EXPECT_EQ(read_file(scratch / "in/b"), cpm("two\r\n"));
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
                              P + "in/\xc3\xa4-high:1:1: U+00E4\n");
    EXPECT_EQ(entries("out"),
              (std::vector<std::string>{"Z", "link", "with space", "\xc3\xa4-high"}));
    EXPECT_EQ(read_file(scratch / "out/link"), cpm("t\r\n"));
    EXPECT_EQ(read_file(scratch / "out/with space"), cpm("s\r\n"));
}

// Nothing carries over from one file to the next: the warning of the first
// is not repeated for the clean second one.
TEST_F(Folder, NoStateLeaksBetweenFiles) {
    write_file(scratch / "in/a", "caf\xc3\xa9\x1a more\n");
    write_file(scratch / "in/b", "clean\n");
    run_result result = run_converter_process({"-u", "in", "-c", "out"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, P + "warning: in/a contains untranslateable characters\n" + P +
                              "in/a:1:4: U+00E9\n" + P +
                              "warning: in/a:1:5: text goes on after a ^Z, where CP/M programs "
                              "stop reading\n");
    EXPECT_EQ(read_file(scratch / "out/b"), cpm("clean\r\n"));
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
    // A rename fails when the batch of converted files is committed, after
    // the conversions' own messages.
    EXPECT_EQ(result.err, P + "read error on in/b: " + std::strerror(EILSEQ) + "\n" + P +
                              "write error on out/d" + temp + ": " + std::strerror(EFBIG) + "\n" +
                              P + "couldn't rename out/c" + temp + " to out/c: " +
                              std::strerror(EISDIR) + "\n" + P + "3 of 4 files failed\n");
    EXPECT_EQ(read_file(scratch / "out/a"), "good\n");
    EXPECT_EQ(read_file(scratch / "out/b"), "old b");
    EXPECT_EQ(read_file(scratch / "out/d"), "old d");
    EXPECT_EQ(entries("out"), (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST_F(Folder, TargetFolderThatCannotBeWritten) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into a read-only folder";
    write_file(scratch / "in/a", "a\n");
    ASSERT_EQ(chmod((scratch / "out").c_str(), 0555), 0);
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

// A folder must face a folder; the line names the folder first.
TEST_F(Folder, FolderFacingAFileIsACommandLineError) {
    write_file(scratch / "file", "");
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"-c", "in", "-c", "file"}, "in is a folder, file is not"},
        {{"-u", "file", "-u", "out"}, "out is a folder, file is not"},
        {{"-c", "in", "-u", "missing"}, "in is a folder, missing is not"},
        {{"-c", "in"}, "in is a folder, standard output is not"},
        {{"-u", "-", "-u", "out"}, "out is a folder, standard input is not"},
    };
    for (const auto& c : cases) {
        run_result result = run_converter_process(c.args, options);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, P + c.message + "\n" + usage_text() + CONFIG_ERROR);
        EXPECT_EQ(read_file(scratch / "file"), "");
        EXPECT_FALSE(file_exists(scratch / "missing"));
    }
}

} // namespace
