// The command line as users type it: options, their errors and the usage text.
#include <gtest/gtest.h>

#include <clocale>

#include "run_converter.h"
#include "test_support.h"

namespace {

const std::string CONFIG_ERROR = P + "command line or configuration error\n";

// --help and --version alone answer on standard output with status 0.
TEST(CommandLine, LongHelpAndVersion) {
    std::string help = usage_text();
    for (std::size_t at; (at = help.find(P)) != std::string::npos;)
        help.erase(at, P.size());
    help += "    --binary        convert binary files in folders too\n"
            "    --charset NAME  translate through set NAME (--charsets lists them)\n"
            "    --charsets      list the character sets by name, and exit\n"
            "    --check         convert, write nothing, report each file\n"
            "    --crlf          host text going to CP/M has CR LF line ends\n"
            "    --keep-date     give the target the source's times\n"
            "    --quiet         no skip lines or progress, for cron\n"
            "    --update        convert only when the target is older\n"
            "    --verbose       name the configuration and each converted file\n";
    const struct {
        const char* word;
        std::string out;
    } cases[] = {
        {"--help", help},
        {"--version", "vorbix-convert " VORBIX_VERSION "\n"},
    };
    for (const auto& c : cases) {
        run_result result = run_converter_process({c.word}, {});
        EXPECT_EQ(result.status, 0) << c.word;
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, "");
    }
}

struct command_line_case {
    const char* name;
    std::vector<std::string> args;
    std::string messages; // printed before the usage text
};

PRINTS_AS_ITS_NAME(command_line_case)

class CommandLineErrors : public testing::TestWithParam<command_line_case> {};

TEST_P(CommandLineErrors, PrintMessagesInOrderThenUsageOnce) {
    const command_line_case& c = GetParam();
    scratch_dir scratch;
    run_options options;
    options.working_dir = scratch.path();
    run_result result = run_converter_process(c.args, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, c.messages + usage_text() + CONFIG_ERROR);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(scratch.entries().empty()) << "no file may be created";
}

const command_line_case COMMAND_LINE_ERRORS[] = {
    {"HelpWithAnotherWord", {"-h", "-a"}, P + "invalid option -h\n"},
    // --help and --version count only alone; a long option is named as
    // typed, never abbreviated, and takes no value.
    {"LongHelpWithAnotherWord", {"--help", "-a"}, P + "invalid option --help\n"},
    {"LongVersionAfterAnOption", {"-a", "--version"}, P + "invalid option --version\n"},
    {"LongOptionsAbbreviatedOrWithValue",
     {"--bin", "-z", "--binary=yes", "-c", "a", "--binary", "-u", "b"},
     P + "invalid option --bin\n" + P + "invalid option --binary=yes\n"},
    {"HelpGrouped", {"-ah"}, P + "invalid option -h\n"},
    {"UnknownLetter", {"-x"}, P + "invalid option -x\n"},
    {"MissingArgumentOfC", {"-c"}, P + "invalid option -c\n"},
    {"MissingArgumentOfU", {"-u", "a", "-u"}, P + "invalid option -u\n"},
    {"MissingArgumentOfF", {"-f"}, P + "invalid option -f\n"},
    {"RepeatedFlagEachTime",
     {"-a", "-a", "-a"},
     P + "option -a may be specified only once\n" + P + "option -a may be specified only once\n"},
    {"RepeatedGroupedFlags",
     {"-zez", "-e"},
     P + "option -z may be specified only once\n" + P + "option -e may be specified only once\n"},
    {"RepeatedConfigFile", {"-f", "x", "-fy"}, P + "option -f may be specified only once\n"},
    {"RepeatedIgnore", {"-i", "-i"}, P + "option -i may be specified only once\n"},
    {"ThirdFile", {"-u", "a", "-u", "b", "-u", "c"}, P + "source and target already specified\n"},
    {"FourthFile",
     {"-u", "a", "-c", "b", "-c", "c", "-u", "d"},
     P + "source and target already specified\n" + P + "source and target already specified\n"},
    {"CpmStdinAsSource", {"-c", "-"}, P + "stdin/stdout only allowed for Unix files\n"},
    {"CpmStdoutAsTarget", {"-u", "a", "-c", "-"}, P + "stdin/stdout only allowed for Unix files\n"},
    {"ThirdFileAsCpmStdout",
     {"-u", "a", "-u", "b", "-c", "-"},
     P + "source and target already specified\n" + P +
         "stdin/stdout only allowed for Unix files\n"},
    {"Positional", {"-u", "a", "b"}, P + "positional arguments are not allowed\n"},
    {"PositionalAfterDashDash",
     {"-u", "a", "--", "b"},
     P + "positional arguments are not allowed\n"},
    // The option after the first word is never read: no "-z" message, no reordering.
    {"OptionAfterPositional",
     {"-u", "a", "b", "-z", "-z"},
     P + "positional arguments are not allowed\n"},
    {"LoneDashIsPositional", {"-"}, P + "positional arguments are not allowed\n"},
    {"IgnoreAndError", {"-i", "-e"}, P + "options -i and -e are mutually exclusive\n"},
    {"AllInOrder",
     {"-a", "-q", "-a", "-i", "-c", "-", "-e", "word"},
     P + "invalid option -q\n" + P + "option -a may be specified only once\n" + P +
         "stdin/stdout only allowed for Unix files\n" + P +
         "positional arguments are not allowed\n" + P +
         "options -i and -e are mutually exclusive\n"},
};

INSTANTIATE_TEST_SUITE_P(, CommandLineErrors, testing::ValuesIn(COMMAND_LINE_ERRORS),
                         testing::PrintToStringParamName());

TEST(CommandLine, HelpAloneIsUsageAndSuccess) {
    run_result result = run_converter_process({"-h"}, {});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, usage_text());
    EXPECT_EQ(result.out, "");
}

// The locale variables in the order the C library reads them: the first one
// set and not empty is named.
struct missing_locale_case {
    std::vector<std::string> environment;
    std::string named;
};

TEST(CommandLine, LocaleThatCannotBeSetIsFatalAndNamed) {
    const std::string missing = "xx_NOWHERE.UTF-8";
    // Some C libraries (musl) accept any locale name.
    if (std::setlocale(LC_CTYPE, missing.c_str())) {
        std::setlocale(LC_CTYPE, "C");
        GTEST_SKIP() << "this C library accepts the locale name " << missing;
    }
    const missing_locale_case cases[] = {
        {{"LC_ALL=" + missing, "LC_CTYPE=C", "LANG=C"}, "LC_ALL=" + missing},
        {{"LC_ALL=", "LC_CTYPE=" + missing, "LANG=C"}, "LC_CTYPE=" + missing},
        {{"LANG=" + missing}, "LANG=" + missing},
    };
    for (const missing_locale_case& c : cases) {
        run_options options;
        options.environment = c.environment;
        run_result result = run_converter_process({"-h"}, options);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, P + "setlocale(LC_CTYPE) failed\n" + P + c.named +
                                  " names no installed locale; 'locale -a' lists the installed "
                                  "ones\n");
    }
}

struct default_streams_case {
    const char* name;
    std::vector<std::string> args;
};

PRINTS_AS_ITS_NAME(default_streams_case)

class DefaultStreams : public testing::TestWithParam<default_streams_case> {};

// Every spelling of "standard input to standard output" copies host text.
TEST_P(DefaultStreams, CopyHostTextFromStdinToStdout) {
    run_options options;
    options.stdin_data = "caf\xc3\xa9\r\n\x1a tail";
    run_result result = run_converter_process(GetParam().args, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, options.stdin_data);
}

const default_streams_case DEFAULT_STREAMS[] = {
    {"NoArguments", {}},
    {"StdinExplicit", {"-u", "-"}},
    {"BothExplicit", {"-u", "-", "-u", "-"}},
    {"FlagsHaveNoEffect", {"-a", "-z", "-e"}},
    {"GroupedFlags", {"-azi"}},
};

INSTANTIATE_TEST_SUITE_P(, DefaultStreams, testing::ValuesIn(DEFAULT_STREAMS),
                         testing::PrintToStringParamName());

TEST(CommandLine, CpmSourceAloneGoesToStdoutAsHostText) {
    scratch_dir scratch;
    write_file(scratch / "f.cpm", "A\r\nB\r\n\x1a\x1a\x1a");
    run_options options;
    options.working_dir = scratch.path();
    run_result result = run_converter_process({"-c", "f.cpm"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "A\nB\n");
    EXPECT_EQ(scratch.entries(), std::vector<std::string>{"f.cpm"});
}

TEST(CommandLine, ArgumentInSameWordAndNamesBeginningWithDash) {
    scratch_dir scratch;
    write_file(scratch / "-in", "x\n");
    run_options options;
    options.working_dir = scratch.path();
    run_result result = run_converter_process({"-u-in", "-c", "-out"}, options);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(read_file(scratch / "-out"), "x\r\n" + std::string(125, '\x1a'));
}

} // namespace
