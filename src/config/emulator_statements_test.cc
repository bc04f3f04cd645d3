// The emulator's statements and their value forms, through whole
// configuration texts: exact messages, acceptance, and what reaches settings.
#include "config/emulator_statements.h"

#include <gtest/gtest.h>

#include <clocale>

#include "config/config_test_support.h"
#include "config/settings.h"
#include "config/value_forms.h"
#include "test_support.h"

namespace {

const config_text_case STATEMENT_CASES[] = {
    // cpu delay
    {"CpuDelay", "cpu delay = 1000, 500\n", ""},
    {"CpuDelayBounds", "cpu delay = 1, 2147483647\n", ""},
    {"CpuDelayCountZero", "cpu delay = 0, 5\n", at(1, "cpu delay count out of range")},
    {"CpuDelayCountTooLarge", "cpu delay = 2147483648, 5\n", at(1, "cpu delay count out of range")},
    {"CpuDelayNanosecondsZero", "cpu delay = 5, 0\n", at(1, "cpu delay nanoseconds out of range")},
    {"CpuDelayNanosecondsTooLarge", "cpu delay = 5, 2147483648\n",
     at(1, "cpu delay nanoseconds out of range")},
    {"CpuDelayWithoutSecondNumber", "cpu delay = 5\n", at(1, ", expected")},
    {"CpuDelayTrailingComma", "cpu delay = 5,\n", at(1, "number expected")},
    {"CpuDelayWord", "cpu delay = fast\n", at(1, "number expected")},
    {"CpuWithoutDelay", "cpu speed = 5, 5\n", at(1, "delay expected")},
    {"CpuDelayWithoutEquals", "cpu delay 5, 5\n", at(1, "= expected")},
    {"CpuDelayTwice", "cpu delay = 1, 1\ncpu delay = 2, 2\n", at(2, "cpu delay redefined")},
    {"CpuDelayCountKeptAfterFault", "cpu delay = 5, 0\ncpu delay = 1, 1\n",
     at(1, "cpu delay nanoseconds out of range") + at(2, "cpu delay redefined")},
    {"CpuDelayCountNotKeptAfterRangeFault", "cpu delay = 0, 1\ncpu delay = 1, 1\n",
     at(1, "cpu delay count out of range")},
    // console
    {"ConsoleFullAndLine", "console = full\n", ""},
    {"ConsoleCase", "console = Full\n", at(1, "full or line expected")},
    {"ConsoleNumber", "console = 1\n", at(1, "keyword expected")},
    {"ConsoleWithoutEquals", "console full\n", at(1, "= expected")},
    {"ConsoleTwice", "console = full\nconsole = line\n", at(2, "console redefined")},
    {"ConsoleFaultLeavesUnset", "console = fast\nconsole = line\n", at(1, "full or line expected")},
    // close files, application cursor, exchange delete
    {"CloseFilesAndApplicationCursor", "close files = true\napplication cursor = false\n", ""},
    {"CloseWithoutFiles", "close file = true\n", at(1, "files expected")},
    {"CloseFilesTwice", "close files = true\nclose files = true\n", at(2, "close files redefined")},
    {"BooleanCase", "close files = TRUE\n", at(1, "boolean value expected")},
    {"BooleanString", "close files = \"true\"\n", at(1, "boolean value expected")},
    {"BooleanNumber", "application cursor = 1\n", at(1, "boolean value expected")},
    {"BooleanWithoutEquals", "application cursor true\n", at(1, "= expected")},
    {"ApplicationWithoutCursor", "application = true\n", at(1, "cursor expected")},
    {"ApplicationCursorTwice", "application cursor = true\napplication cursor = false\n",
     at(2, "application cursor redefined")},
    {"ExchangeDeleteTwice", "exchange delete = true\nexchange delete = false\n", ""},
    {"ExchangeWithoutDelete", "exchange = true\n", at(1, "delete expected")},
    // screen delay
    {"ScreenDelayZero", "screen delay = 0\n", ""},
    {"ScreenDelayKey", "screen delay = key\n", ""},
    {"ScreenDelayLargest", "screen delay = 2147483647\n", ""},
    {"ScreenDelayTooLarge", "screen delay = 2147483648\n", at(1, "screen delay out of range")},
    {"ScreenDelayWord", "screen delay = true\n", at(1, "number expected")},
    {"ScreenWithoutDelay", "screen = 5\n", at(1, "delay expected")},
    {"ScreenDelayTwice", "screen delay = 1\nscreen delay = key\n", at(2, "screen delay redefined")},
    // default drive
    {"DefaultDrive", "default drive = b\n", ""},
    {"DefaultDriveUpperCase", "default drive = P\n", ""},
    {"DefaultDriveBeyondP", "default drive = q\n", at(1, "invalid drive name")},
    {"DefaultDriveTwoLetters", "default drive = ab\n", at(1, "invalid drive name")},
    {"DefaultDriveNumber", "default drive = 1\n", at(1, "invalid drive name")},
    {"DefaultWithoutDrive", "default = b\n", at(1, "drive expected")},
    {"DefaultDriveWithoutEquals", "default drive b\n", at(1, "= expected")},
    {"DefaultDriveTwiceIsFatal", "default drive = a\ndefault drive = q\nbad\n",
     at(2, "default drive redefined")},
    {"DefaultDriveTwiceWithoutEquals", "default drive = a\ndefault drive b\nbad\n",
     at(2, "= expected") + at(3, "syntax error")},
    {"DefaultDriveInvalidThenValid", "default drive = q\ndefault drive = a\n",
     at(1, "invalid drive name")},
    // drive
    {"Drive", "drive a = \"/cpm/a\"\ndrive p = readonly, \"/cpm/p\"\n", ""},
    {"DriveBeyondP", "drive q = \"/cpm/q\"\n", at(1, "invalid drive name")},
    {"DriveWithoutLetter", "drive = \"/cpm\"\n", at(1, "invalid drive name")},
    {"DriveReadonlyWithoutComma", "drive a = readonly \"/cpm/a\"\n", at(1, ", expected")},
    {"DriveOtherWord", "drive a = readwrite, \"/cpm/a\"\n", at(1, "string expected")},
    {"DriveWithoutEquals", "drive a \"/cpm/a\"\n", at(1, "= expected")},
    {"DriveTwiceAnyCase", "drive a = \"/x\"\ndrive A = \"/y\"\n", at(2, "drive redefined")},
    // logfile and loglevel
    {"LogfileTwice", "logfile = \"one.log\"\nlogfile = \"two.log\"\n", ""},
    {"LogfileWord", "logfile = log\n", at(1, "string expected")},
    {"LogfileWithoutEquals", "logfile \"x\"\n", at(1, "= expected")},
    {"LoglevelBounds", "loglevel = 5\n", ""},
    {"LoglevelTooLarge", "loglevel = 6\n", at(1, "log level out of range")},
    {"LoglevelTwice", "loglevel = 0\nloglevel = 1\n", at(2, "log level redefined")},
    {"LoglevelRangeBeforeRedefinition", "loglevel = 0\nloglevel = 9\n",
     at(2, "log level out of range")},
    {"LoglevelWord", "loglevel = high\n", at(1, "number expected")},
    // lines and columns
    {"LinesBounds", "lines = 5\ncolumns = 95\n", ""},
    {"LinesLater", "lines = 24\nlines = 30\ncolumns = 20\ncolumns = current\n", ""},
    {"LinesTooFew", "lines = 4\n", at(1, "line number out of range (5..95)")},
    {"LinesTooMany", "lines = 96\n", at(1, "line number out of range (5..95)")},
    {"ColumnsTooFew", "columns = 19\n", at(1, "column number out of range (20..95)")},
    {"LinesHuge", "lines = 4294967320\n", at(1, "line number out of range (5..95)")},
    {"LinesBeyond64Bits", "lines = 99999999999999999999\n",
     at(1, "integer out of range") + at(1, "number expected")},
    {"LinesWord", "lines = all\n", at(1, "number expected")},
    {"LinesWithoutEquals", "lines 24\n", at(1, "= expected")},
    {"LaterLinesStillChecked", "lines = 24\nlines = 2\n",
     at(2, "line number out of range (5..95)")},
    // printer, punch and reader
    {"PrinterFileAndMode",
     "printer file = \"lpt.txt\"\nprinter mode = raw\npunch mode = text\n"
     "reader file = \"in.txt\"\n",
     ""},
    {"PrinterModeTwice", "printer mode = raw\nprinter mode = raw\n",
     at(2, "printer mode redefined")},
    {"PunchFileTwiceSameName", "punch file = \"p\"\npunch file = \"p\"\n",
     at(2, "punch file redefined")},
    {"ReaderFileAndModeInOne", "reader file = \"r\" mode = raw\n", at(1, "syntax error")},
    {"PrinterModeString", "printer mode = \"raw\"\n", at(1, "keyword expected")},
    {"PrinterModeUnknown", "printer mode = cooked\n", at(1, "text or raw expected")},
    {"PrinterWithoutKeyword", "printer = \"x\"\n", at(1, "keyword expected")},
    {"PrinterOtherKeyword", "printer port = 1\n", at(1, "file or mode expected")},
    {"PrinterFileWord", "printer file = lpt\n", at(1, "string expected")},
    {"PrinterFileWithoutEquals", "printer file \"lpt\"\n", at(1, "= expected")},
    {"PrinterModeWithoutEquals", "printer mode raw\n", at(1, "= expected")},
    // dump
    {"DumpAll", "dump = all\n", ""},
    {"DumpAllTwice", "dump = all, all\n", ""},
    {"DumpNone", "dump = none\n", ""},
    {"DumpSeveral", "dump = startup, signal, exit\n", ""},
    {"DumpExitAndError", "dump = exit, error\n", at(1, "illegal dump option combination")},
    {"DumpNoneWithOther", "dump = none, exit\n", at(1, "illegal dump option combination")},
    {"DumpAllWithOther", "dump = all, startup\n", at(1, "illegal dump option combination")},
    {"DumpTrailingComma", "dump = exit,\n", at(1, "dump option expected")},
    {"DumpUnknown", "dump = core\n", at(1, "dump option expected")},
    {"DumpWithoutEquals", "dump all\n", at(1, "= expected")},
    {"DumpTwice", "dump = exit\ndump = signal\n", at(2, "dump options redefined")},
    {"DumpTwiceWithoutEquals", "dump = exit\ndump signal\n", at(2, "= expected")},
    {"DumpPartialBitsKept", "dump = exit, core\ndump = signal\n",
     at(1, "dump option expected") + at(2, "dump options redefined")},
    {"DumpIllegalBitsKept", "dump = exit, error\ndump = signal\n",
     at(1, "illegal dump option combination") + at(2, "dump options redefined")},
    // colors
    {"ColorsTrue", "colors = true\n", ""},
    {"ColorsFalseWithNumbers", "colors = false, 7, 0\n", ""},
    {"ColorsForegroundTooLarge", "colors = true, 8, 0\n",
     at(1, "foreground color number (0..7) expected")},
    {"ColorsBackgroundTooLarge", "colors = true, 1, 8\n",
     at(1, "background color number (0..7) expected")},
    {"ColorsOneNumber", "colors = true, 3\n", at(1, ", expected")},
    {"ColorsNumberWithoutComma", "colors = true 3\n", at(1, "syntax error")},
    {"ColorsWithoutEquals", "colors true\n", at(1, "= expected")},
    {"ColorsTwice", "colors = true\ncolors = false\n", at(2, "color options redefined")},
    {"ColorsEnabledKeptAfterFault", "colors = true, 9\ncolors = true\n",
     at(1, "foreground color number (0..7) expected") + at(2, "color options redefined")},
    {"ColorsBooleanFaultLeavesUnset", "colors = yes\ncolors = true\n",
     at(1, "boolean value expected")},
};

INSTANTIATE_TEST_SUITE_P(EmulatorStatements, ConfigurationText, testing::ValuesIn(STATEMENT_CASES),
                         testing::PrintToStringParamName());

const char EVERY_STATEMENT[] = "# every statement of the language once\n"
                               "charset = latin1\n"
                               "alt charset = vorbix\n"
                               "char 65 = \"x\"\n"
                               "alt char 66 = \"y\"\n"
                               "unprintable = \"?\"\n"
                               "cpu delay = 1000, 500\n"
                               "console = line\n"
                               "close files = true\n"
                               "screen delay = key\n"
                               "application cursor = true\n"
                               "exchange delete = false\n"
                               "default drive = B\n"
                               "drive a = \"/cpm/\xc3\xa9t\xc3\xa9\"\n"
                               "drive P = readonly, \"/cpm/p\"\n"
                               "logfile = \"vorbix.log\"\n"
                               "loglevel = 3\n"
                               "lines = 24\n"
                               "columns = current\n"
                               "printer file = \"printer.txt\"\n"
                               "punch mode = raw\n"
                               "reader mode = text\n"
                               "dump = all\n"
                               "colors = true, 7, 0\n";

// Every statement of the language is accepted; of what it sets, the
// converter reads the drives.
TEST(EmulatorSettings, EveryStatementIsAcceptedAndTheDrivesKept) {
    parse_outcome outcome = parse_config_text(EVERY_STATEMENT);
    ASSERT_EQ(outcome.result, 0) << outcome.messages;
    EXPECT_STREQ(settings.drive_paths[0], "/cpm/\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(settings.drive_read_only[0], 0);
    EXPECT_STREQ(settings.drive_paths[15], "/cpm/p");
    EXPECT_EQ(settings.drive_read_only[15], 1);
    EXPECT_EQ(settings.drive_paths[1], nullptr);
}

TEST(ValueForms, DriveIndex) {
    EXPECT_EQ(drive_index(L'a'), 0);
    EXPECT_EQ(drive_index(L'A'), 0);
    EXPECT_EQ(drive_index(L'p'), 15);
    EXPECT_EQ(drive_index(L'P'), 15);
    EXPECT_EQ(drive_index(L'q'), -1);
    EXPECT_EQ(drive_index(L'1'), -1);
    EXPECT_EQ(drive_index(L'\u00e4'), -1);
}

TEST(ValueForms, FileNameInHostEncoding) {
    parse_config_text("");
    char* name = reinterpret_cast<char*>(1);
    EXPECT_EQ(wide_to_file_name(L"", name), 0);
    EXPECT_STREQ(name, "");
    std::free(name);
    EXPECT_EQ(wide_to_file_name(L"/a/\u20ac", name), 0);
    EXPECT_STREQ(name, "/a/\xe2\x82\xac");
    std::free(name);
    std::setlocale(LC_CTYPE, "C");
    EXPECT_EQ(wide_to_file_name(L"/a/\u20ac", name), -1);
    EXPECT_EQ(name, nullptr);
}

} // namespace
