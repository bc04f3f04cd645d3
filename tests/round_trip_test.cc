// A drive round trip, drive to host and back, loses nothing: every drive file
// comes back byte for byte with its time, binary files are never touched,
// and only a host file that was edited is converted back. A check asks
// whether a run would change anything.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>

#include "run_converter.h"
#include "test_support.h"

namespace {

const timespec LONG_AGO[2] = {{915235200, 0}, {915235200, 0}};

struct file_state {
    std::string bytes;
    std::int64_t modified = 0;
};

std::map<std::string, file_state> folder_state(const std::string& folder) {
    std::map<std::string, file_state> state;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        struct stat status;
        stat(entry.path().c_str(), &status);
        state[entry.path().filename().string()] = {read_file(entry.path().string()),
                                                   std::int64_t{status.st_mtime}};
    }
    return state;
}

class RoundTrip : public testing::Test {
  protected:
    void SetUp() override {
        options.working_dir = scratch.path();
        ASSERT_EQ(mkdir((scratch / "drive").c_str(), 0777), 0);
        for (const char* folder : {"/tests/corpus", "/../shared/corpus"}) {
            std::string path = std::string(VORBIX_SOURCE_DIR) + folder;
            if (!std::filesystem::is_directory(path))
                continue;
            for (const auto& entry : std::filesystem::directory_iterator(path))
                if (entry.path().extension() != ".md")
                    write_file(scratch / ("drive/" + entry.path().filename().string()),
                               read_file(entry.path().string()));
        }
        // Binary data under the types of data files, a ^Z early and no NUL
        // before it in some, as in the files a NUL test took for text.
        std::mt19937 random(1024);
        const char* types[] = {"DAT", "BAS", "INT", "CRL", "BIN", "OBJ", "HEX"};
        for (int i = 0; i < 28; ++i) {
            std::string bytes;
            if (i % 2 == 0)
                bytes = std::string("\x03\x41\x1a", 3);
            while (bytes.size() < 1024)
                bytes += static_cast<char>(random() % 256);
            write_file(scratch / ("drive/DATA" + std::to_string(i) + "." + types[i % 7]), bytes);
        }
        write_file(scratch / "drive/LOOSE.TXT", "host text copied as it was\n");
        for (const auto& entry : std::filesystem::directory_iterator(scratch / "drive"))
            ASSERT_EQ(utimensat(AT_FDCWD, entry.path().c_str(), LONG_AGO, 0), 0);
    }

    scratch_dir scratch;
    run_options options;
};

TEST_F(RoundTrip, DriveToHostAndBackLosesNothing) {
    std::map<std::string, file_state> drive = folder_state(scratch / "drive");
    ASSERT_GT(drive.size(), 30u);
    run_result out = run_converter_process({"-c", "drive", "-u", "host"}, options);
    EXPECT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(folder_state(scratch / "drive").size(), drive.size());

    // Back: nothing to write, and not a word.
    run_result check = run_converter_process({"--check", "-u", "host", "-c", "drive"}, options);
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_EQ(check.out.find("differs"), std::string::npos) << check.out;
    run_result back = run_converter_process({"-u", "host", "-c", "drive"}, options);
    EXPECT_EQ(back.status, 0);
    EXPECT_EQ(back.err, "");
    std::map<std::string, file_state> after = folder_state(scratch / "drive");
    for (const auto& [name, state] : drive) {
        EXPECT_EQ(after[name].bytes, state.bytes) << name;
        EXPECT_EQ(after[name].modified, state.modified) << name;
    }
    EXPECT_EQ(after.size(), drive.size());

    // Again out: the host copies stand for their drive files as they are.
    std::map<std::string, file_state> host = folder_state(scratch / "host");
    out = run_converter_process({"-c", "drive", "-u", "host"}, options);
    EXPECT_EQ(out.status, 0);
    std::map<std::string, file_state> host_after = folder_state(scratch / "host");
    for (const auto& [name, state] : host)
        EXPECT_EQ(host_after[name].modified, state.modified) << name;

    // One host file edited: that one alone is converted back.
    write_file(scratch / "host/edit.doc", read_file(scratch / "host/edit.doc") + "one more\n");
    check = run_converter_process({"--check", "-u", "host", "-c", "drive"}, options);
    EXPECT_EQ(check.status, 1);
    back = run_converter_process({"-u", "host", "-c", "drive"}, options);
    EXPECT_EQ(back.status, 0) << back.err;
    after = folder_state(scratch / "drive");
    for (const auto& [name, state] : drive) {
        if (name == "edit.doc") {
            EXPECT_NE(after[name].bytes.find("one more\r\n"), std::string::npos);
            EXPECT_NE(after[name].modified, state.modified);
        } else {
            EXPECT_EQ(after[name].bytes, state.bytes) << name;
            EXPECT_EQ(after[name].modified, state.modified) << name;
        }
    }
}

// In place, CP/M to CP/M, a file with data after its ^Z in whole records is
// skipped; a single run converts it.
TEST_F(RoundTrip, InPlaceNothingAfterTheEndMarkIsCut) {
    const std::string stale = cpm_records("text\r\n\x1a") + std::string(128, 'y');
    write_file(scratch / "drive/STALE.TXT", stale);
    run_result result = run_converter_process({"-c", "drive", "-c", "drive"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.err.find(P + "skipping drive/STALE.TXT: data after its ^Z\n"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find(P + "skipping drive/othello.for: data after its ^Z\n"),
              std::string::npos);
    EXPECT_EQ(read_file(scratch / "drive/STALE.TXT"), stale);
    result = run_converter_process({"-c", "drive/STALE.TXT", "-c", "drive/STALE.TXT"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(scratch / "drive/STALE.TXT"), cpm_records("text\r\n\x1a"));
}

struct status_case {
    const char* name;
    std::vector<std::string> args;
    std::string out;
    int status;
};

// What a check's status says: 0 nothing would be written, 1 a file would be,
// 2 a file would fail (or the command line is faulty); the words that
// describe a source never change it.
TEST(CheckStatus, WouldARunChangeAnything) {
    scratch_dir scratch;
    write_file(scratch / "S", cpm_records("a\nb\r\n\x80\r\n"));
    write_file(scratch / "same", "a\nb\n\n");
    ASSERT_EQ(mkdir((scratch / "drive").c_str(), 0777), 0);
    ASSERT_EQ(mkdir((scratch / "host").c_str(), 0777), 0);
    ASSERT_EQ(mkdir((scratch / "host/S").c_str(), 0777), 0);
    write_file(scratch / "drive/S", cpm_records("a\r\n"));
    const status_case cases[] = {
        {"SourceWordsAlone", {"-c", "S", "-u", "same"}, "S: 1 untranslatable, 1 line ends without CR, same\n", 0},
        {"New", {"-c", "S", "-u", "new"}, "S: 1 untranslatable, 1 line ends without CR, new\n", 1},
        {"UntranslatableUnderE", {"-e", "-c", "S", "-u", "same"}, "S: 1 untranslatable, 1 line ends without CR, same\n", 2},
        {"AFolderAtTheTargetsName", {"-c", "drive", "-u", "host"}, "drive/S: not a regular file\n", 2},
        {"NothingMadeInDev", {"-c", "S", "-u", "/dev/vorbix-convert-check"}, "S: 1 untranslatable, 1 line ends without CR, can't be replaced\n", 2},
        {"FaultyCommandLine", {"-c", "S", "-x"}, "", 2},
    };
    for (const status_case& c : cases) {
        SCOPED_TRACE(c.name);
        run_options options;
        options.working_dir = scratch.path();
        std::vector<std::string> args = {"--check"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        run_result result = run_converter_process(args, options);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.status, c.status) << result.err;
    }
}

// A name holding a newline or another control shows it escaped, so that no
// line can be forged; the lines come out in order with the messages.
TEST(CheckStatus, NamesThatCannotForgeALine) {
    scratch_dir scratch;
    ASSERT_EQ(mkdir((scratch / "drive").c_str(), 0777), 0);
    write_file(scratch / "drive/FAKE.TXT: same\nx", cpm_records("a\r\n"));
    write_file(scratch / "drive/ESC\x1b[2J\\", cpm_records("\x80\r\n"));
    run_options options;
    options.working_dir = scratch.path();
    run_result result = run_converter_process({"--check", "-c", "drive", "-u", "host"}, options);
    EXPECT_EQ(result.out, "drive/ESC\\033[2J\\\\: 1 untranslatable, new\n"
                          "drive/FAKE.TXT: same\\nx: new\n");
    EXPECT_EQ(result.err, P + "warning: drive/ESC\\033[2J\\\\ contains untranslateable characters\n" +
                              P + "drive/ESC\\033[2J\\\\:1:1: code 0x80\n" + BUILTIN_SET);
    EXPECT_EQ(result.status, 1);
}

// As a user: a target that cannot be read but can be replaced differs; one
// that can be neither read nor replaced is a read error.
TEST(CheckStatus, UnreadableTargets) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to become another user";
    scratch_dir scratch;
    ASSERT_EQ(chmod(scratch.path().c_str(), 0777), 0);
    ASSERT_EQ(mkdir((scratch / "mine").c_str(), 0777), 0);
    ASSERT_EQ(mkdir((scratch / "theirs").c_str(), 0755), 0);
    write_file(scratch / "S", cpm_records("a\r\n"));
    for (const char* target : {"mine/T", "theirs/T"}) {
        write_file(scratch / target, "old");
        ASSERT_EQ(chmod((scratch / target).c_str(), 0), 0);
    }
    ASSERT_EQ(chown((scratch / "mine").c_str(), UNPRIVILEGED_ID, UNPRIVILEGED_ID), 0);
    run_options options;
    options.working_dir = scratch.path();
    options.before_exec = become_unprivileged_user;
    run_result result = run_converter_process({"--check", "-c", "S", "-u", "mine/T"}, options);
    EXPECT_EQ(result.out, "S: differs\n");
    EXPECT_EQ(result.status, 1);
    result = run_converter_process({"--check", "-c", "S", "-u", "theirs/T"}, options);
    EXPECT_EQ(result.out, "S: read error\n");
    EXPECT_EQ(result.err, P + "couldn't open theirs/T: " + std::strerror(EACCES) + "\n");
    EXPECT_EQ(result.status, 2);
}

} // namespace
