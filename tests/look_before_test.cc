// Looking before converting: --check and its words, --update, --keep-date
// and --verbose, in single runs and folder runs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "run_converter.h"
#include "test_support.h"

namespace {

struct check_case {
    const char* name;
    const char* from; ///< -c or -u: the source's format; the target is the other one
    std::string source;
    const char* target; ///< the target's content; null: none exists; "-": none named
    std::string line;   ///< after "S: "
    int status;
    const char* to = nullptr; ///< the target's format, where it is the source's
    const char* locale = "C.UTF-8";
};

// clang-format off
const check_case CHECKS[] = {
    {"Ok",                 "-c", cpm_records("a\r\n"),                    "-",     "ok",                       0},
    {"New",                "-c", cpm_records("a\r\n"),                    nullptr, "new",                      1},
    {"Same",               "-c", cpm_records("a\r\n"),                    "a\n",   "same",                     0},
    {"Differs",            "-c", cpm_records("a\r\n"),                    "b\n",   "differs",                  1},
    {"TargetLonger",       "-c", cpm_records("a\r\n"),                    "a\nb",  "differs",                  1},
    {"LineEndsWithoutCr",  "-c", "a\nb\r\nc\n\x1a" "d\n",         "-",     "2 line ends without CR",   0},
    {"RecordsAfterEndMark","-c", cpm_records("a\x1a") + "x" + cpm_records("") + std::string(127, '\x1a') + std::string(128, 'y'),
                                                                   "-",     "2 records after ^Z",       0},
    {"FillAfterEndMark",   "-c", cpm_records("a\x1a") + std::string(128, '\x1a'), "-", "ok",                   0},
    {"Untranslatable",     "-c", "\x80\x81",                      "-",     "2 untranslatable",         0},
    {"Binary",             "-c", std::string("a\0b", 3),          nullptr, "binary",                   0},
    {"NulAfterEndMark",    "-c", std::string("a\x1a\0", 3),       "-",     "ok",                       0},
    {"LineEndsWithCr",     "-u", "a\r\nb\r\n",                    "-",     "2 line ends with CR",      0},
    {"TextAfterEndMark",   "-u", "a\x1a\x1a b",                   "-",     "text after ^Z",            0},
    {"ReadErrorNoTarget",  "-u", "a\r\n\xff",                     "x",     "read error, 1 line ends with CR", 2},
    {"SeveralInOrder",     "-u", "\xc3\xa4\r\n\x1a x",            "x",     "1 untranslatable, 1 line ends with CR, text after ^Z, differs", 1},
    // A copy of host text has the same marks, also where a CR LF spans the
    // reader's 64 KiB buffers.
    {"HostCopy",           "-u", "a\r\nb\x1a\x1a c\r\n",              nullptr, "2 line ends with CR, text after ^Z, new", 1, "-u"},
    {"HostCopyAcrossBuffers", "-u", std::string(65535, 'a') + "\r\n\x1a", "x", "1 line ends with CR, differs", 1, "-u"},
    // In an ASCII locale the copy goes character by character.
    {"HostCopyInAsciiLocale", "-u", "a\r\nb\x1a c\r\n",                 nullptr, "2 line ends with CR, text after ^Z, new", 1, "-u", "C"},
};
// clang-format on

PRINTS_AS_ITS_NAME(check_case)

class Check : public testing::TestWithParam<check_case> {};

// The words of a line, and nothing written: the target keeps its bytes and
// times, and no other file appears.
TEST_P(Check, WordsAndNothingWritten) {
    const check_case& c = GetParam();
    scratch_dir scratch;
    write_file(scratch / "S", c.source);
    std::vector<std::string> args = {"--check", c.from, "S"};
    const char* to = c.to ? c.to : std::string(c.from) == "-c" ? "-u" : "-c";
    if (!c.target || std::string(c.target) != "-")
        args.insert(args.end(), {to, "T"});
    if (c.target && std::string(c.target) != "-") {
        write_file(scratch / "T", c.target);
        timespec times[2] = {{1000000000, 5}, {1000000000, 7}};
        ASSERT_EQ(utimensat(AT_FDCWD, (scratch / "T").c_str(), times, 0), 0);
    }
    std::vector<std::string> before = scratch.entries();
    run_options options;
    options.working_dir = scratch.path();
    options.environment = {std::string("LC_ALL=") + c.locale};
    run_result result = run_converter_process(args, options);
    EXPECT_EQ(result.out, "S: " + c.line + "\n");
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_EQ(scratch.entries(), before);
    if (c.target && std::string(c.target) != "-") {
        struct stat status;
        ASSERT_EQ(stat((scratch / "T").c_str(), &status), 0);
        EXPECT_EQ(read_file(scratch / "T"), c.target);
        EXPECT_EQ(status.st_mtim.tv_nsec, 7);
    }
}

INSTANTIATE_TEST_SUITE_P(, Check, testing::ValuesIn(CHECKS), testing::PrintToStringParamName());

// A folder check: a line for each file in name order, skip lines on standard
// error for what a run skips, a binary file on its own line, no count, and
// no missing target folder made. With --update, only what a run would convert.
TEST(CheckFolder, LinesInNameOrder) {
    scratch_dir scratch;
    ASSERT_EQ(mkdir((scratch / "in").c_str(), 0777), 0);
    write_file(scratch / "in/B.TXT", cpm_records("b\r\n"));
    write_file(scratch / "in/A.TXT", "unix\n");
    write_file(scratch / "in/P.COM", "program");
    write_file(scratch / "in/A.TXT.temp.9", "left");
    run_options options;
    options.working_dir = scratch.path();
    run_result result = run_converter_process({"--check", "-c", "in", "-u", "out"}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out,
              "in/A.TXT: 1 line ends without CR, new\nin/B.TXT: new\nin/P.COM: binary\n");
    EXPECT_EQ(result.err, P + "skipping in/A.TXT.temp.9: left by an interrupted run\n");
    EXPECT_FALSE(file_exists(scratch / "out"));

    ASSERT_EQ(run_converter_process({"-c", "in", "-u", "out"}, options).status, 0);
    write_file(scratch / "in/C.TXT", cpm_records("c\r\n"));
    result = run_converter_process({"--check", "--update", "-c", "in", "-u", "out"}, options);
    EXPECT_EQ(result.out, "in/C.TXT: new\nin/P.COM: binary\n");
    EXPECT_EQ(result.status, 1);
}

// --update leaves a target at least as new as its source, to the nanosecond,
// silently; --keep-date gives a new target the source's times.
TEST(UpdateAndKeepDate, ByModificationTime) {
    const struct {
        const char* name;
        long target_seconds, target_nanoseconds; ///< -1: no target
        bool converted;
    } cases[] = {
        {"older", 1000, 499, true},
        {"equal", 1000, 500, false},
        {"newer by a nanosecond", 1000, 501, false},
        {"missing", -1, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool folder : {false, true}) {
            scratch_dir scratch;
            ASSERT_EQ(mkdir((scratch / "in").c_str(), 0777), 0);
            ASSERT_EQ(mkdir((scratch / "out").c_str(), 0777), 0);
            write_file(scratch / "in/f", "new\n");
            timespec source_times[2] = {{900, 1}, {1000, 500}};
            ASSERT_EQ(utimensat(AT_FDCWD, (scratch / "in/f").c_str(), source_times, 0), 0);
            if (c.target_seconds >= 0) {
                write_file(scratch / "out/f", "old\n");
                timespec times[2] = {{0, 0}, {c.target_seconds, c.target_nanoseconds}};
                ASSERT_EQ(utimensat(AT_FDCWD, (scratch / "out/f").c_str(), times, 0), 0);
            }
            run_options options;
            options.working_dir = scratch.path();
            std::vector<std::string> args = {"--update", "--keep-date", "-u",
                                             "in/f",     "-u",          "out/f"};
            if (folder)
                args = {"--update", "--keep-date", "-u", "in", "-u", "out"};
            run_result result = run_converter_process(args, options);
            EXPECT_EQ(result.status, 0);
            EXPECT_EQ(result.err, "");
            // Before it is read: reading changes the access time.
            struct stat status;
            ASSERT_EQ(stat((scratch / "out/f").c_str(), &status), 0);
            EXPECT_EQ(read_file(scratch / "out/f"), c.converted ? "new\n" : "old\n");
            if (c.converted) {
                EXPECT_EQ(status.st_mtim.tv_sec, 1000);
                EXPECT_EQ(status.st_mtim.tv_nsec, 500);
                EXPECT_EQ(status.st_atim.tv_sec, 900);
            }
        }
    }
}

// --verbose names the configuration read before anything else, and in a
// folder run each file converted after its own messages.
TEST(Verbose, NamesTheConfigurationAndEachFile) {
    scratch_dir scratch;
    ASSERT_EQ(mkdir((scratch / "in").c_str(), 0777), 0);
    write_file(scratch / "in/a", "\xc3\xa9\n");
    write_file(scratch / "in/b", "b\n");
    run_options options;
    options.working_dir = scratch.path();
    options.environment.push_back("HOME=" + scratch.path() + "/nowhere");
    run_result result = run_converter_process({"--verbose", "-u", "in", "-c", "out"}, options);
    EXPECT_EQ(result.err, P + "no configuration file: the built-in set vt52\n" + P +
                              "warning: in/a contains untranslateable characters\n" + P +
                              "in/a:1:1: U+00E9\n" + BUILTIN_SET + P + "converted out/a\n" + P +
                              "converted out/b\n");
    write_file(scratch / ".vorbix.conf", "charset = latin1\nbogus\n");
    result = run_converter_process({"--verbose", "-u", "in/b", "-c", "out/b"}, options);
    EXPECT_EQ(result.err, P + "reading configuration ./.vorbix.conf\n" + P +
                              "./.vorbix.conf(2): syntax error\n" + P +
                              "command line or configuration error\n");
}

} // namespace
