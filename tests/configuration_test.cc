// The configuration file as users meet it: where it is found, how it changes
// the translation, and what a faulty one does to a run.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "run_converter.h"
#include "test_support.h"

namespace {

const std::string CONFIG_ERROR = P + "command line or configuration error\n";
const std::string E_ACUTE = "\xc3\xa9";
const std::string EN_DASH = "\xe2\x80\x93";

class Configuration : public testing::Test {
  protected:
    void SetUp() override {
        mkdir((scratch / "home").c_str(), 0777);
        options.working_dir = scratch.path();
        options.environment = {"LC_ALL=C.UTF-8", "HOME=" + scratch / "home"};
    }

    // Converts CP/M bytes to host text on standard output with args added.
    run_result cpm_to_host(const std::string& cpm, std::vector<std::string> args = {}) {
        write_file(scratch / "in.cpm", cpm);
        args.insert(args.end(), {"-c", "in.cpm"});
        return run_converter_process(args, options);
    }

    scratch_dir scratch;
    run_options options;
};

TEST_F(Configuration, WorkingDirectoryFileSelectsCharset) {
    write_file(scratch / ".vorbix.conf", "charset = latin1\n");
    run_result result = cpm_to_host("\xe9\xad\r\n\x1a");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, E_ACUTE + EN_DASH + "\n");
}

TEST_F(Configuration, HomeDirectoryFileIsUsedWhenNoneInWorkingDirectory) {
    write_file(scratch / "home/.vorbix.conf", "charset = latin1\n");
    EXPECT_EQ(cpm_to_host("\xe9").out, E_ACUTE);
}

TEST_F(Configuration, WorkingDirectoryFileHidesHomeFile) {
    write_file(scratch / "home/.vorbix.conf", "charset = latin1\n");
    write_file(scratch / ".vorbix.conf", "charset = bogus\n");
    run_result result = cpm_to_host("\xe9");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, P + "./.vorbix.conf(1): invalid charset name\n" + P +
                              "./.vorbix.conf(1): the built-in sets are vt52, ascii, latin1 and vorbix\n" +
                              CONFIG_ERROR);
}

TEST_F(Configuration, NamedFileIsTheOnlyOneRead) {
    write_file(scratch / ".vorbix.conf", "charset = bogus\n");
    write_file(scratch / "my.conf", "charset = latin1\n");
    EXPECT_EQ(cpm_to_host("\xe9", {"-f", "my.conf"}).out, E_ACUTE);
}

TEST_F(Configuration, MissingNamedFileIsAnError) {
    write_file(scratch / ".vorbix.conf", "charset = latin1\n");
    run_result result = cpm_to_host("\xe9", {"-f", "missing.conf"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              P + "cannot open missing.conf: " + std::strerror(ENOENT) + "\n" + CONFIG_ERROR);
    EXPECT_EQ(result.out, "");
}

TEST_F(Configuration, NoFileAnywhereGivesDefaultSet) {
    options.environment = {"LC_ALL=C.UTF-8"};
    run_result result = cpm_to_host("A\xe9");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "A");
    EXPECT_EQ(result.err, P + "warning: in.cpm contains untranslateable characters\n" + P +
                              "in.cpm:1:2: code 0xE9\n" + BUILTIN_SET);
    // A set named on the command line is not the built-in one.
    result = run_converter_process({"--charset", "vt52", "-c", "in.cpm"}, options);
    EXPECT_EQ(result.err, P + "warning: in.cpm contains untranslateable characters\n" + P +
                              "in.cpm:1:2: code 0xE9\n");
}

TEST_F(Configuration, HomePathIsNotNormalised) {
    options.environment = {"LC_ALL=C.UTF-8", "HOME=" + scratch / "home/"};
    write_file(scratch / "home/.vorbix.conf", "\nbad\n");
    run_result result = cpm_to_host("A");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, P + scratch / "home//.vorbix.conf(2): syntax error\n" + CONFIG_ERROR);
}

TEST_F(Configuration, DirectoryInPlaceOfFileIsAReadError) {
    mkdir((scratch / ".vorbix.conf").c_str(), 0777);
    run_result result = cpm_to_host("A");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              P + "error reading ./.vorbix.conf: " + std::strerror(EISDIR) + "\n" + CONFIG_ERROR);
}

TEST_F(Configuration, FaultyFileListsEveryLineAndTouchesNoFile) {
    write_file(scratch / ".vorbix.conf",
               "charset = latin1\nchar 300 = \"x\"\n\nunprintable = \"ab\"\n");
    write_file(scratch / "in.txt", "text\n");
    write_file(scratch / "out", "old");
    run_result result = run_converter_process({"-u", "in.txt", "-c", "out"}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, P + "./.vorbix.conf(2): number (0..255) expected\n" + P +
                              "./.vorbix.conf(4): string may contain only one character\n" +
                              CONFIG_ERROR);
    EXPECT_EQ(read_file(scratch / "out"), "old");
    EXPECT_EQ(scratch.entries(),
              (std::vector<std::string>{".vorbix.conf", "home", "in.txt", "out"}));
}

struct hostile_file_case {
    const char* name;
    std::string text;
    std::string messages;
};

PRINTS_AS_ITS_NAME(hostile_file_case)

class HostileConfiguration : public Configuration,
                             public testing::WithParamInterface<hostile_file_case> {};

// Configuration files that no editor would write: each is rejected with its
// messages, and nothing is converted.
TEST_P(HostileConfiguration, IsRejectedWithItsMessages) {
    write_file(scratch / ".vorbix.conf", GetParam().text);
    run_result result = cpm_to_host("A");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    std::string messages = GetParam().messages;
    EXPECT_EQ(result.err.substr(0, messages.size()), messages);
    EXPECT_EQ(result.err.substr(result.err.size() - CONFIG_ERROR.size()), CONFIG_ERROR);
}

const hostile_file_case HOSTILE_FILES[] = {
    {"InvalidBytes", "charset = latin1\nbad\n\xff\xfe\n",
     P + "./.vorbix.conf(2): syntax error\n" + P +
         "error reading ./.vorbix.conf: " + std::strerror(EILSEQ) + "\n"},
    {"Nuls", std::string("\0\0\0\n", 4), P + "./.vorbix.conf(1): line too long\n"},
    {"MegabyteLine", "#" + std::string(1 << 20, 'x') + "\n",
     P + "./.vorbix.conf(1): line too long\n"},
    {"ManyFaultyLines",
     [] {
         std::string text;
         for (int line = 0; line < 100000; ++line)
             text += "bad\n";
         return text;
     }(),
     P + "./.vorbix.conf(1): syntax error\n" + P + "./.vorbix.conf(2): syntax error\n"},
};

INSTANTIATE_TEST_SUITE_P(, HostileConfiguration, testing::ValuesIn(HOSTILE_FILES),
                         testing::PrintToStringParamName());

TEST_F(Configuration, HundredThousandLinesAreRead) {
    std::string text;
    for (int line = 1; line < 100000; ++line)
        text += line % 2 ? "# comment\n" : "\n";
    write_file(scratch / ".vorbix.conf", text + "charset = latin1\n");
    run_result result = cpm_to_host("\xe9");
    EXPECT_EQ(result.status, 0) << result.err.substr(0, 200);
    EXPECT_EQ(result.out, E_ACUTE);

    write_file(scratch / ".vorbix.conf", text + "bad\n");
    result = cpm_to_host("\xe9");
    EXPECT_EQ(result.err, P + "./.vorbix.conf(100000): syntax error\n" + CONFIG_ERROR);
}

TEST_F(Configuration, CharEntryTakesOverBothDirections) {
    write_file(scratch / ".vorbix.conf", "char 65 = \"x\"\n");
    EXPECT_EQ(cpm_to_host("AB").out, "xB");
    options.stdin_data = "xA";
    write_file(scratch / "dummy", "");
    run_result result = run_converter_process({"-u", "-", "-c", "out.cpm"}, options);
    EXPECT_EQ(result.err, P + "warning: <stdin> contains untranslateable characters\n" + P +
                              "<stdin>:1:2: U+0041\n");
    EXPECT_EQ(read_file(scratch / "out.cpm"), "A" + std::string(127, '\x1a'));
}

TEST_F(Configuration, UnprintableOnlyForCpmToHost) {
    write_file(scratch / ".vorbix.conf", "unprintable = \"?\"\n");
    run_result result = cpm_to_host("a\xe9z");
    EXPECT_EQ(result.out, "a?z");
    EXPECT_EQ(result.err, "");
    options.stdin_data = "a" + E_ACUTE + "z";
    result = run_converter_process({"-u", "-", "-c", "out.cpm"}, options);
    EXPECT_EQ(result.err, P + "warning: <stdin> contains untranslateable characters\n" + P +
                              "<stdin>:1:2: U+00E9\n");
    EXPECT_EQ(read_file(scratch / "out.cpm"), "az" + std::string(126, '\x1a'));
}

// In host text the column counts characters, not bytes.
TEST_F(Configuration, UntranslatableColumnCountsCharacters) {
    write_file(scratch / ".vorbix.conf", "charset = latin1\n");
    options.stdin_data = "\n" + E_ACUTE + E_ACUTE + "\xe2\x82\xac";
    run_result result = run_converter_process({"-u", "-", "-c", "out.cpm"}, options);
    EXPECT_EQ(result.err, P + "warning: <stdin> contains untranslateable characters\n" + P +
                              "<stdin>:2:3: U+20AC\n");
}

TEST_F(Configuration, AlternateTableWithOptionA) {
    write_file(scratch / ".vorbix.conf", "alt charset = latin1\nalt char 65 = \"\u00c4\"\n");
    EXPECT_EQ(cpm_to_host("A\xe9", {"-a"}).out, "\xc3\x84" + E_ACUTE);
    EXPECT_EQ(cpm_to_host("A\xe9", {"-i"}).out, "A");
}

TEST_F(Configuration, VorbixSetRoundTrip) {
    write_file(scratch / ".vorbix.conf", "charset = vorbix\n");
    options.stdin_data = "\xe2\x82\xac " + EN_DASH + " \xe2\x89\xa0\n";
    run_result result = run_converter_process({"-u", "-", "-c", "out.cpm"}, options);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(read_file(scratch / "out.cpm"), "\x80 \x96 \x81\r\n" + std::string(121, '\x1a'));
}

TEST_F(Configuration, EveryStatementOnceIsAcceptedAndOnlyCharsetsMatter) {
    write_file(scratch / ".vorbix.conf", "charset = latin1\n"
                                         "alt charset = vorbix\n"
                                         "char 65 = \"x\"\n"
                                         "alt char 66 = \"y\"\n"
                                         "unprintable = \"?\"\n"
                                         "cpu delay = 1000, 500\n"
                                         "console = full\n"
                                         "close files = false\n"
                                         "screen delay = 10\n"
                                         "application cursor = true\n"
                                         "exchange delete = true\n"
                                         "default drive = a\n"
                                         "drive a = \"drives/a\"\n"
                                         "drive b = readonly, \"drives/b\"\n"
                                         "logfile = \"vorbix.log\"\n"
                                         "loglevel = 2\n"
                                         "lines = 24\n"
                                         "columns = 80\n"
                                         "printer file = \"printer.out\"\n"
                                         "punch file = \"punch.out\"\n"
                                         "reader mode = raw\n"
                                         "dump = startup, error\n"
                                         "colors = true, 7, 0\n");
    run_result result = cpm_to_host("AB\xe9\x80\r\n\x1a");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "xB" + E_ACUTE + "?\n");
    EXPECT_EQ(cpm_to_host("AB\xe9\x80", {"-a"}).out, "Ay" + E_ACUTE + "\xe2\x82\xac");
    // Nothing but the converted text is written: no drive folders, no log.
    EXPECT_EQ(scratch.entries(), (std::vector<std::string>{".vorbix.conf", "home", "in.cpm"}));
}

TEST_F(Configuration, ShippedExamplesWork) {
    const std::string examples = VORBIX_SOURCE_DIR "/examples/";
    run_result result = run_converter_process(
        {"-f", examples + "sample.conf", "-c", examples + "hello.cpm"}, options);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, read_file(examples + "hello.txt"));
    result = run_converter_process(
        {"-f", examples + "sample.conf", "-u", examples + "hello.txt", "-c", "back.cpm"}, options);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(read_file(scratch / "back.cpm"), read_file(examples + "hello.cpm"));
    EXPECT_EQ(cpm_to_host("[x]", {"-a", "-f", examples + "sample.conf"}).out, "\xc3\x84x\xc3\x9c");
}

TEST_F(Configuration, WordStarDocumentsBecomePlainText) {
    const std::string wordstar = VORBIX_SOURCE_DIR "/examples/wordstar.conf";
    // "Hello world": bit 7 on the last letter of each word, a soft space.
    run_result result = cpm_to_host("Hell\xef\xa0worl\xe4\r\n\x1a", {"-f", wordstar});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Hello world\n");
    options.stdin_data = "Hello world~\n";
    result = run_converter_process({"-f", wordstar, "-u", "-", "-c", "plain.cpm"}, options);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(read_file(scratch / "plain.cpm"), "Hello world~\r\n" + std::string(114, '\x1a'));
}

} // namespace
