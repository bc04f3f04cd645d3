// Whole conversions in each direction: the bytes that come out, the messages
// and the exit status, through files and through the standard streams.
#include <gtest/gtest.h>
#include <sys/stat.h>
#ifdef __linux__
#include <sched.h>
#endif

#include <cerrno>
#include <cstring>

#include "run_converter.h"
#include "test_support.h"

namespace {

const std::string Z(1, '\x1a');

enum class format { host, cpm };

struct conversion_case {
    const char* name;
    format from;
    format to;
    std::vector<std::string> flags;
    std::string input;
    std::string output;
    std::string messages = "";
    int status = 0;
};

PRINTS_AS_ITS_NAME(conversion_case)

class Conversion : public testing::TestWithParam<conversion_case> {};

// Runs the case file to file; a failing run must leave no target and no
// temporary file behind.
TEST_P(Conversion, FileToFile) {
    const conversion_case& c = GetParam();
    scratch_dir scratch;
    write_file(scratch / "src", c.input);
    std::vector<std::string> args = c.flags;
    args.insert(args.end(), {c.from == format::host ? "-u" : "-c", "src",
                             c.to == format::host ? "-u" : "-c", "dst"});
    run_options options;
    options.working_dir = scratch.path();
    run_result result = run_converter_process(args, options);
    std::string expected_messages = c.messages;
    for (std::size_t at; (at = expected_messages.find("$SRC")) != std::string::npos;)
        expected_messages.replace(at, 4, "src");
    EXPECT_EQ(result.err, expected_messages);
    EXPECT_EQ(result.status, c.status);
    if (c.status == 0) {
        EXPECT_EQ(read_file(scratch / "dst"), c.output);
        EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"dst", "src"}));
    } else {
        EXPECT_EQ(scratch.entries(), std::vector<std::string>{"src"});
    }
}

// The same case with host text on the standard streams where the format allows.
TEST_P(Conversion, ThroughStandardStreams) {
    const conversion_case& c = GetParam();
    scratch_dir scratch;
    std::vector<std::string> args = c.flags;
    run_options options;
    options.working_dir = scratch.path();
    std::string source = "<stdin>";
    if (c.from == format::host) {
        options.stdin_data = c.input;
    } else {
        write_file(scratch / "src", c.input);
        args.insert(args.end(), {"-c", "src"});
        source = "src";
    }
    if (c.to == format::cpm) {
        if (c.from == format::host)
            args.insert(args.end(), {"-u", "-"});
        args.insert(args.end(), {"-c", "dst"});
    }
    run_result result = run_converter_process(args, options);
    std::string expected_messages = c.messages;
    for (std::size_t at; (at = expected_messages.find("$SRC")) != std::string::npos;)
        expected_messages.replace(at, 4, source);
    EXPECT_EQ(result.err, expected_messages);
    EXPECT_EQ(result.status, c.status);
    if (c.to == format::host) {
        // Standard output gets the text as far as it was converted, even when
        // the run fails.
        if (c.status == 0) {
            EXPECT_EQ(result.out, c.output);
        }
    } else if (c.status == 0) {
        EXPECT_EQ(read_file(scratch / "dst"), c.output);
    } else {
        EXPECT_FALSE(file_exists(scratch / "dst"));
    }
}

const std::string WARNING = P + "warning: $SRC contains untranslateable characters\n";
const std::string UNTRANSLATABLE = P + "$SRC contains untranslateable characters\n";
// The read error of host text the locale does not hold, and where it stands.
std::string bad_sequence(const std::string& place, const std::string& byte) {
    return P + "read error on $SRC: " + std::strerror(EILSEQ) + "\n" + P + "$SRC:" + place +
           ": byte " + byte + " is not valid in this locale\n";
}

const conversion_case CONVERSIONS[] = {
    // CP/M to host: CR LF becomes LF, a lone CR stays, the text ends at the first ^Z.
    {"CpmLinesToHost", format::cpm, format::host, {}, "A\r\nA\r\n" + Z, "A\nA\n"},
    {"CpmLoneLf", format::cpm, format::host, {}, "A\n", "A\n"},
    {"CpmLoneCr", format::cpm, format::host, {}, "A\rA", "A\rA"},
    {"CpmCrCrLf", format::cpm, format::host, {}, "A\r\r\n", "A\r\n"},
    {"CpmCrAtEnd", format::cpm, format::host, {}, "A\r", "A\r"},
    {"CpmCrBeforeEndMark", format::cpm, format::host, {}, "A\r" + Z + "A", "A\r"},
    {"CpmLfCr", format::cpm, format::host, {}, "A\n\rB\r\n", "A\n\rB\n"},
    {"CpmEndMarkFirst", format::cpm, format::host, {}, Z + "A\r\n", ""},
    {"CpmEmpty", format::cpm, format::host, {}, "", ""},
    {"CpmGarbageAfterEndMark",
     format::cpm,
     format::host,
     {},
     "ok\r\n" + Z + "\xff\xfe stale\r\n",
     "ok\n"},
    {"CpmControlBytesPass",
     format::cpm,
     format::host,
     {},
     std::string("\t\x0c\x01\x1b\x7f\x00", 6),
     "\t\x0c\x01\x1b\x7f" + std::string(1, '\0')},
    {"CpmNulPadding",
     format::cpm,
     format::host,
     {},
     "END\r\n" + std::string(3, '\0'),
     "END\n" + std::string(3, '\0')},
    // Where the first untranslatable byte stands: the line after the LFs
    // before it, the column in bytes, a lone CR counted as one.
    {"CpmPositionAfterCrLf",
     format::cpm,
     format::host,
     {},
     "ab\r\ncd\xa0\xe9",
     "ab\ncd",
     WARNING + P + "$SRC:2:3: code 0xA0, the first of 2\n" + BUILTIN_SET},
    {"CpmPositionAfterLoneCr",
     format::cpm,
     format::host,
     {},
     "ab\rc\xe9",
     "ab\rc",
     WARNING + P + "$SRC:1:5: code 0xE9\n" + BUILTIN_SET},
    {"CpmPositionAfterLoneLf",
     format::cpm,
     format::host,
     {},
     "a\nb\n\xff",
     "a\nb\n",
     WARNING + P + "$SRC:3:1: code 0xFF\n" + BUILTIN_SET},
    {"CpmPositionSilentWithI", format::cpm, format::host, {"-i"}, "a\r\n\xff", "a\n"},
    {"HostPositionLaterLine",
     format::host,
     format::cpm,
     {},
     "x\n\ny \xe2\x82\xacz\xf0\x9f\x98\x80\n",
     "x\r\n\r\ny z\r\n" + fill(118),
     WARNING + P + "$SRC:3:3: U+20AC, the first of 2\n" + BUILTIN_SET},
    {"HostPositionFiveDigits",
     format::host,
     format::cpm,
     {"-e"},
     "\xf0\x9f\x98\x80",
     "",
     UNTRANSLATABLE + P + "$SRC:1:1: U+1F600\n",
     1},
    // A ^Z in host text with more text after it is worth a warning: CP/M
    // programs stop reading there.
    {"HostEndMarkInTheMiddle",
     format::host,
     format::cpm,
     {},
     "a\nb\x1a"
     "c\n",
     "a\r\nb\x1a"
     "c\r\n" +
         fill(120),
     P + "warning: $SRC:2:2: text goes on after a ^Z, where CP/M programs stop reading\n"},
    {"HostEndMarkThenLineFeed",
     format::host,
     format::cpm,
     {"-i"},
     "ab\x1a\n",
     "ab\x1a\r\n" + fill(123),
     P + "warning: $SRC:1:3: text goes on after a ^Z, where CP/M programs stop reading\n"},
    {"HostEndMarkAtTheEnd", format::host, format::cpm, {}, "ab\n\x1a", "ab\r\n\x1a" + fill(123)},
    {"HostEndMarksOnlyAtTheEnd",
     format::host,
     format::cpm,
     {},
     "ab\x1a\x1a\x1a",
     "ab\x1a\x1a\x1a" + fill(123)},
    {"HostEndMarkAndUntranslatable",
     format::host,
     format::cpm,
     {},
     "\x1a\xc3\xa9",
     "\x1a" + fill(127),
     WARNING + P + "$SRC:1:2: U+00E9\n" + BUILTIN_SET + P +
         "warning: $SRC:1:1: text goes on after a ^Z, where CP/M programs stop reading\n"},
    // Bytes without an entry in "vt52" are dropped and reported.
    {"CpmHighBytesWarn",
     format::cpm,
     format::host,
     {},
     "ab\xe9\xa0"
     "c\r\n",
     "abc\n",
     WARNING + P + "$SRC:1:3: code 0xE9, the first of 2\n" + BUILTIN_SET},
    {"CpmHighBytesError",
     format::cpm,
     format::host,
     {"-e"},
     "ab\xe9"
     "c",
     "",
     UNTRANSLATABLE + P + "$SRC:1:3: code 0xE9\n",
     1},
    {"CpmHighBytesIgnored",
     format::cpm,
     format::host,
     {"-i"},
     "ab\xe9"
     "c",
     "abc"},
    {"CpmUntranslatableAfterEndMarkNotSeen",
     format::cpm,
     format::host,
     {"-e"},
     "a" + Z + "\xe9",
     "a"},
    {"CpmToHostIgnoresZ", format::cpm, format::host, {"-z"}, "A\r\n", "A\n"},

    // Host to CP/M: LF becomes CR LF, then ^Z fills the last record.
    {"HostEmpty", format::host, format::cpm, {}, "", ""},
    {"HostEmptyTerminated", format::host, format::cpm, {"-z"}, "", fill(128)},
    {"HostOneLine", format::host, format::cpm, {}, "A\n", "A\r\n" + fill(125)},
    {"HostNoFinalNewline", format::host, format::cpm, {}, "A", "A" + fill(127)},
    // A CR LF pair is warned about once, at the first CR, after the other
    // warnings; the bytes stay as they are.
    {"HostCrLfBecomesCrCrLf", format::host, format::cpm, {}, "A\r\n", "A\r\r\n" + fill(124),
     P + "warning: $SRC:1:2: line ends in CR LF, which become CR CR LF (use --crlf for DOS text)\n"},
    {"HostCrLfOnceAtTheFirst", format::host, format::cpm, {}, "ab\r\r\ncd\r\ne\r\n",
     "ab\r\r\r\ncd\r\r\ne\r\r\n" + fill(113),
     P + "warning: $SRC:1:4: line ends in CR LF, which become CR CR LF (use --crlf for DOS text)\n"},
    {"HostCrLfNotUnderI", format::host, format::cpm, {"-i"}, "\xc3\xa9\r\n", "\r\r\n" + fill(125)},
    // --crlf: DOS text, CR LF one line end; a CR without an LF stays a CR,
    // also at the end and before another CR; CP/M sources do not change.
    {"CrlfOneLineEnd", format::host, format::cpm, {"--crlf"}, "ab\r\ncd\r\n", "ab\r\ncd\r\n" + fill(120)},
    {"CrlfLoneCrs", format::host, format::cpm, {"--crlf"}, "a\rb\r\r\nc\r", "a\rb\r\r\nc\r" + fill(120)},
    {"CrlfWithoutLfs", format::host, format::cpm, {"--crlf"}, "a\n\xc3\xa9\r\n", "a\r\n\r\n" + fill(123),
     P + "warning: $SRC contains untranslateable characters\n" + P + "$SRC:2:1: U+00E9\n" +
         BUILTIN_SET},
    {"CrlfNoEffectOnCpm", format::cpm, format::host, {"--crlf"}, "a\r\r\n", "a\r\n"},
    {"HostCrLfAfterTheOtherWarnings", format::host, format::cpm, {}, "\xc3\xa9\x1a\r\n",
     "\x1a\r\r\n" + fill(124),
     P + "warning: $SRC contains untranslateable characters\n" + P + "$SRC:1:1: U+00E9\n" +
         BUILTIN_SET + P + "warning: $SRC:1:2: text goes on after a ^Z, where CP/M programs stop reading\n" + P +
         "warning: $SRC:1:3: line ends in CR LF, which become CR CR LF (use --crlf for DOS text)\n"},
    {"Host127Bytes",
     format::host,
     format::cpm,
     {},
     std::string(127, 'x'),
     std::string(127, 'x') + Z},
    {"Host127BytesTerminated",
     format::host,
     format::cpm,
     {"-z"},
     std::string(127, 'x'),
     std::string(127, 'x') + Z},
    {"Host128Bytes",
     format::host,
     format::cpm,
     {},
     std::string(126, 'x') + "\n",
     std::string(126, 'x') + "\r\n"},
    {"Host128BytesTerminated",
     format::host,
     format::cpm,
     {"-z"},
     std::string(126, 'x') + "\n",
     std::string(126, 'x') + "\r\n" + fill(128)},
    {"Host200Bytes",
     format::host,
     format::cpm,
     {"-z"},
     std::string(200, 'x'),
     std::string(200, 'x') + fill(56)},
    {"HostControlCharacters",
     format::host,
     format::cpm,
     {},
     "\t\x1a\x7f",
     "\t\x1a\x7f" + fill(125),
     P + "warning: $SRC:1:2: text goes on after a ^Z, where CP/M programs stop reading\n"},
    {"HostUntranslatableWarn",
     format::host,
     format::cpm,
     {},
     "caf\xc3\xa9\n",
     "caf\r\n" + fill(123),
     WARNING + P + "$SRC:1:4: U+00E9\n" + BUILTIN_SET},
    {"HostUntranslatableError",
     format::host,
     format::cpm,
     {"-e"},
     "caf\xc3\xa9\n",
     "",
     UNTRANSLATABLE + P + "$SRC:1:4: U+00E9\n",
     1},
    {"HostUntranslatableIgnored",
     format::host,
     format::cpm,
     {"-i", "-z"},
     "\xe2\x96\x88",
     fill(128)},
    {"HostInvalidSequence",
     format::host,
     format::cpm,
     {},
     "AB\xff"
     "C\n",
     "",
     bad_sequence("1:3", "0xFF"),
     1},
    {"HostTruncatedSequenceAtEnd", format::host, format::cpm, {}, "AB\xc3", "",
     bad_sequence("1:3", "0xC3"), 1},
    // Latin-1 text read as UTF-8: the first byte that is not UTF-8, counted
    // in characters after the line feeds before it.
    {"HostLatin1InUtf8", format::host, format::cpm, {}, "Gr\x7d\x7e\nFrau M\xfcller\n", "",
     bad_sequence("2:7", "0xFC"), 1},
    {"HostInvalidAndUntranslatable",
     format::host,
     format::cpm,
     {},
     "\xc3\xa9\xff",
     "",
     bad_sequence("1:2", "0xFF") + WARNING + P + "$SRC:1:1: U+00E9\n" + BUILTIN_SET,
     1},

    // CP/M to CP/M: the text up to the first ^Z, with a fresh end and fill.
    {"CpmCopyFullRecord",
     format::cpm,
     format::cpm,
     {},
     std::string(128, 'x'),
     std::string(128, 'x')},
    {"CpmCopyFullRecordTerminated",
     format::cpm,
     format::cpm,
     {"-z"},
     std::string(128, 'x'),
     std::string(128, 'x') + fill(128)},
    {"CpmCopyStopsAtEndMark",
     format::cpm,
     format::cpm,
     {},
     "AB\r\n" + Z + "old",
     "AB\r\n" + fill(124)},
    {"CpmCopyKeepsBytes",
     format::cpm,
     format::cpm,
     {"-e"},
     "\xe9\r\r\n\n",
     "\xe9\r\r\n\n" + fill(123)},
    {"CpmCopyEmpty", format::cpm, format::cpm, {}, Z, ""},
    {"CpmCopyEmptyTerminated", format::cpm, format::cpm, {"-z"}, Z + "x", fill(128)},

    // Host to host: a plain copy of valid text.
    {"HostCopy",
     format::host,
     format::host,
     {"-e", "-z"},
     "a\r\n\x1a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80",
     "a\r\n\x1a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
    {"HostCopyNul", format::host, format::host, {}, std::string("a\0b", 3), std::string("a\0b", 3)},
    {"HostCopyInvalid", format::host, format::host, {}, "ok\n\x80", "", bad_sequence("2:1", "0x80"),
     1},
    // Line feeds counted eight bytes at a time, with and without LFs among
    // the eight, and the rest one at a time.
    {"HostCopyInvalidAfterManyLines", format::host, format::host, {},
     std::string(600, 'x') + "\n\n" + std::string(37, '\n') + "ab\nabcdefghijklmn\n\xc3\xa4\n" +
         "abc\xff",
     "", bad_sequence("43:4", "0xFF"), 1},
    {"HostCopyLatin1InUtf8", format::host, format::host, {}, "\xc3\xa4\xc3\xa4\n\n\xc3\xa4 M\xfcller\n",
     "", bad_sequence("3:4", "0xFC"), 1},
};

INSTANTIATE_TEST_SUITE_P(, Conversion, testing::ValuesIn(CONVERSIONS),
                         testing::PrintToStringParamName());

TEST(ConversionRun, TextBeforeInvalidSequenceReachesStdout) {
    run_options options;
    options.stdin_data = "line 1\nline 2\xc3(";
    run_result result = run_converter_process({}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "line 1\nline 2");
    EXPECT_EQ(result.err, P + "read error on <stdin>: " + std::strerror(EILSEQ) + "\n" + P +
                              "<stdin>:2:7: byte 0xC3 is not valid in this locale\n");
}

// In a locale whose character set is ASCII, on every C library: a byte from
// 0x80 up is an invalid sequence, a character above U+007F cannot be
// written, and the first such failure of a run says that the locale is the
// likely cause.
struct ascii_locale_case {
    const char* name;
    std::string locale;
    std::vector<std::string> args;
    std::string configuration;
    std::string out;
    std::string err; // "$PID" stands for the process id
};

PRINTS_AS_ITS_NAME(ascii_locale_case)

const std::string HINT =
    P + "the locale's character set is ASCII: set LC_ALL to the text's locale, such as C.UTF-8\n";
const std::string EILSEQ_TEXT = std::strerror(EILSEQ);

const ascii_locale_case ASCII_LOCALE_CASES[] = {
    {"ReadingHostText",
     "LC_ALL=C",
     {"-u", "in.txt"},
     "",
     "caf",
     P + "read error on in.txt: " + EILSEQ_TEXT + "\n" + P +
         "in.txt:1:4: byte 0xC3 is not valid in this locale\n" + HINT},
    {"ReadingInPosix",
     "LC_ALL=POSIX",
     {"-u", "in.txt", "-c", "out.cpm"},
     "",
     "",
     P + "read error on in.txt: " + EILSEQ_TEXT + "\n" + P +
         "in.txt:1:4: byte 0xC3 is not valid in this locale\n" + HINT},
    {"WritingHostText",
     "LC_ALL=C",
     {"-c", "in.cpm"},
     "charset = latin1\n",
     "abcd",
     P + "write error on <stdout>: " + EILSEQ_TEXT + "\n" + P +
         "in.cpm:1:3: U+00E9 cannot be written in this locale\n" + HINT},
    {"WritingWhereTheFirstStands",
     "LC_ALL=C",
     {"-c", "two.cpm", "-u", "out.txt"},
     "charset = latin1\n",
     "",
     P + "write error on out.txt.temp.$PID: " + EILSEQ_TEXT + "\n" + P +
         "two.cpm:2:2: U+00E8 cannot be written in this locale\n" + HINT},
    {"WritingHostFile",
     "LC_ALL=C",
     {"-c", "in.cpm", "-u", "out.txt"},
     "charset = latin1\n",
     "",
     P + "write error on out.txt.temp.$PID: " + EILSEQ_TEXT + "\n" + P +
         "in.cpm:1:3: U+00E9 cannot be written in this locale\n" + HINT},
    {"ReadingTheConfiguration",
     "LC_ALL=C",
     {"-c", "in.cpm"},
     "char 65 = \"\xc3\x84\"\n",
     "",
     P + "error reading ./.vorbix.conf: " + EILSEQ_TEXT + "\n" + HINT + P +
         "command line or configuration error\n"},
    // A CP/M file has no multibyte text to fail: no hint.
    {"CpmOnly", "LC_ALL=C", {"-c", "in.cpm", "-c", "out.cpm"}, "", "", ""},
    // The same failure in a UTF-8 locale: the message alone.
    {"Utf8Locale",
     "LC_ALL=C.UTF-8",
     {"-u", "bad.txt"},
     "",
     "caf",
     P + "read error on bad.txt: " + EILSEQ_TEXT + "\n" + P +
         "bad.txt:1:4: byte 0xC3 is not valid in this locale\n"},
};

class AsciiLocale : public testing::TestWithParam<ascii_locale_case> {};

TEST_P(AsciiLocale, DecidedByTheProgramWithAHint) {
    const ascii_locale_case& c = GetParam();
    scratch_dir scratch;
    write_file(scratch / "in.txt", "caf\xc3\xa9\n");
    write_file(scratch / "bad.txt", "caf\xc3(\n");
    write_file(scratch / "in.cpm", "ab\xe9"
                                   "cd\x1a");
    write_file(scratch / "two.cpm", "a\r\nb\xe8\xe9\x1a");
    if (!c.configuration.empty())
        write_file(scratch / ".vorbix.conf", c.configuration);
    run_options options;
    options.working_dir = scratch.path();
    options.environment = {c.locale, "HOME=" + scratch / "home"};
    run_result result = run_converter_process(c.args, options);
    std::string err = c.err;
    if (std::size_t at = err.find("$PID"); at != std::string::npos)
        err.replace(at, 4, std::to_string(result.pid));
    EXPECT_EQ(result.status, err.empty() ? 0 : 1);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, err);
    EXPECT_FALSE(file_exists(scratch / "out.txt"));
}

INSTANTIATE_TEST_SUITE_P(, AsciiLocale, testing::ValuesIn(ASCII_LOCALE_CASES),
                         testing::PrintToStringParamName());

// The hint comes once in a run, however many files fail.
TEST(ConversionRun, AsciiLocaleHintOncePerRun) {
    scratch_dir scratch;
    ASSERT_EQ(mkdir((scratch / "in").c_str(), 0777), 0);
    ASSERT_EQ(mkdir((scratch / "out").c_str(), 0777), 0);
    write_file(scratch / "in/a", "\xc3\xa9");
    write_file(scratch / "in/b", "\xc3\xa9");
    run_options options;
    options.working_dir = scratch.path();
    options.environment = {"LC_ALL=C"};
    run_result result = run_converter_process({"-u", "in", "-u", "out"}, options);
    EXPECT_EQ(result.err, P + "read error on in/a: " + EILSEQ_TEXT + "\n" + P +
                              "in/a:1:1: byte 0xC3 is not valid in this locale\n" + HINT + P +
                              "read error on in/b: " + EILSEQ_TEXT + "\n" + P +
                              "in/b:1:1: byte 0xC3 is not valid in this locale\n" + P +
                              "2 of 2 files failed\n");
}

#ifdef __linux__
// A large target is written on a second thread where the run has a second
// processor; pinned to one, it writes in turn. The bytes are the same.
TEST(ConversionRun, OneProcessorOrTwoWriteTheSameBytes) {
    std::string host, cpm;
    for (int line = 0; line < 40000; ++line) {
        host += "caf\xc3\xa9 " + std::to_string(line) + "\n";
        cpm += "caf\xe9 " + std::to_string(line) + "\r\n";
    }
    cpm += fill((128 - cpm.size() % 128) % 128);
    scratch_dir scratch;
    write_file(scratch / "in.txt", host);
    write_file(scratch / "latin1.conf", "charset = latin1\n");
    run_options options;
    options.working_dir = scratch.path();
    for (bool pinned : {false, true}) {
        SCOPED_TRACE(pinned);
        if (pinned)
            options.before_exec = [] {
                cpu_set_t allowed, one;
                CPU_ZERO(&one);
                sched_getaffinity(0, sizeof allowed, &allowed);
                for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
                    if (CPU_ISSET(cpu, &allowed)) {
                        CPU_SET(cpu, &one);
                        break;
                    }
                sched_setaffinity(0, sizeof one, &one);
            };
        run_result result =
            run_converter_process({"-f", "latin1.conf", "-u", "in.txt", "-c", "out.cpm"}, options);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_TRUE(read_file(scratch / "out.cpm") == cpm) << "the target differs";
    }
}
#endif

TEST(ConversionRun, LongTextCrossesBlockBoundaries) {
    // Multibyte characters and CR LF pairs straddle the converter's internal
    // block boundaries somewhere in this text.
    std::string host;
    std::string cpm;
    for (int line = 0; line < 20000; ++line) {
        host += "line \xc3\xa9 " + std::to_string(line) + "\n";
        cpm += "line  " + std::to_string(line) + "\r\n";
    }
    scratch_dir scratch;
    write_file(scratch / "in.txt", host);
    run_options options;
    options.working_dir = scratch.path();
    run_result result = run_converter_process({"-i", "-u", "in.txt", "-c", "out.cpm"}, options);
    ASSERT_EQ(result.status, 0) << result.err;
    std::string expected = cpm + fill((128 - cpm.size() % 128) % 128);
    EXPECT_EQ(read_file(scratch / "out.cpm"), expected);

    result = run_converter_process({"-c", "out.cpm", "-u", "back.txt"}, options);
    ASSERT_EQ(result.status, 0) << result.err;
    std::string back;
    for (int line = 0; line < 20000; ++line)
        back += "line  " + std::to_string(line) + "\n";
    EXPECT_EQ(read_file(scratch / "back.txt"), back);
}

struct same_file_case {
    const char* name;
    const char* from;
    const char* to;
    std::string input;
    std::string output;
};

PRINTS_AS_ITS_NAME(same_file_case)

class SameFile : public testing::TestWithParam<same_file_case> {};

// The source is read whole before the temporary file replaces it.
TEST_P(SameFile, SourceIsReplacedByItsConversion) {
    const same_file_case& c = GetParam();
    scratch_dir scratch;
    write_file(scratch / "f", c.input);
    run_options options;
    options.working_dir = scratch.path();
    run_result result = run_converter_process({c.from, "f", c.to, "f"}, options);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(read_file(scratch / "f"), c.output);
    EXPECT_EQ(scratch.entries(), std::vector<std::string>{"f"});
}

const same_file_case SAME_FILE[] = {
    {"HostToCpm", "-u", "-c", "a\nb\n", "a\r\nb\r\n" + fill(122)},
    {"CpmToHost", "-c", "-u", "a\r\nb\r\n" + fill(122), "a\nb\n"},
    {"CpmToCpm", "-c", "-c", "a\r\n" + Z + "old", "a\r\n" + fill(125)},
    {"HostToHost", "-u", "-u", "a\nb", "a\nb"},
};

INSTANTIATE_TEST_SUITE_P(, SameFile, testing::ValuesIn(SAME_FILE),
                         testing::PrintToStringParamName());

TEST(ConversionRun, SymbolicLinkTargetIsReplacedNotFollowed) {
    scratch_dir scratch;
    write_file(scratch / "in", "x\n");
    write_file(scratch / "real", "old");
    ASSERT_EQ(symlink("real", (scratch / "link").c_str()), 0);
    run_options options;
    options.working_dir = scratch.path();
    run_result result = run_converter_process({"-u", "in", "-u", "link"}, options);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(read_file(scratch / "real"), "old");
    EXPECT_EQ(read_file(scratch / "link"), "x\n");
    struct stat status;
    ASSERT_EQ(lstat((scratch / "link").c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
}

} // namespace
