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

TEST(EmulatorSettings, AcceptedFileFillsSettings) {
    parse_outcome outcome = parse_config_text(EVERY_STATEMENT);
    ASSERT_EQ(outcome.result, 0) << outcome.messages;
    EXPECT_EQ(settings.cpu_delay_count, 1000);
    EXPECT_EQ(settings.cpu_delay_nanoseconds, 500);
    EXPECT_EQ(settings.console_mode, 0);
    EXPECT_EQ(settings.keep_files_open, 0);
    EXPECT_EQ(settings.screen_delay, -2);
    EXPECT_EQ(settings.application_cursor, 1);
    EXPECT_EQ(settings.exchange_delete, 0);
    EXPECT_EQ(settings.default_drive, 1);
    EXPECT_STREQ(settings.drive_paths[0], "/cpm/\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(settings.drive_read_only[0], 0);
    EXPECT_STREQ(settings.drive_paths[15], "/cpm/p");
    EXPECT_EQ(settings.drive_read_only[15], 1);
    EXPECT_EQ(settings.drive_paths[1], nullptr);
    EXPECT_STREQ(settings.log_file, "vorbix.log");
    EXPECT_EQ(settings.log_level, 3);
    EXPECT_EQ(settings.lines, 24);
    EXPECT_EQ(settings.columns, -1);
    EXPECT_STREQ(settings.printer_file, "printer.txt");
    EXPECT_EQ(settings.printer_mode, -1);
    EXPECT_EQ(settings.punch_mode, 1);
    EXPECT_EQ(settings.reader_mode, 0);
    EXPECT_EQ(settings.punch_file, nullptr);
    EXPECT_EQ(settings.dump_options, 0x36);
    EXPECT_EQ(settings.colors_enabled, 1);
    EXPECT_EQ(settings.colors_foreground, 7);
    EXPECT_EQ(settings.colors_background, 0);
}

struct settings_case {
    const char* name;
    std::string text;
    int settings_record::*field;
    int expected;
};

PRINTS_AS_ITS_NAME(settings_case)

class EmulatorSettingsValue : public testing::TestWithParam<settings_case> {};

TEST_P(EmulatorSettingsValue, AfterAcceptedFile) {
    parse_outcome outcome = parse_config_text(GetParam().text);
    ASSERT_EQ(outcome.result, 0) << outcome.messages;
    EXPECT_EQ(settings.*GetParam().field, GetParam().expected);
}

const settings_case SETTINGS_CASES[] = {
    {"CloseFilesFalseIsKept", "close files = false\n", &settings_record::keep_files_open, 1},
    {"ConsoleFull", "console = full\n", &settings_record::console_mode, 1},
    {"ScreenDelayZero", "screen delay = 0\n", &settings_record::screen_delay, 0},
    {"ExchangeDeleteLastStands", "exchange delete = true\nexchange delete = false\n",
     &settings_record::exchange_delete, 0},
    {"LinesFirstStands", "lines = 24\nlines = 30\n", &settings_record::lines, 24},
    {"LinesCurrentCountsAsSet", "lines = current\nlines = 30\n", &settings_record::lines, -1},
    {"ColumnsBound", "columns = 20\n", &settings_record::columns, 20},
    {"DumpStartupSignal", "dump = startup, signal\n", &settings_record::dump_options, 0x12},
    {"DumpNone", "dump = none\n", &settings_record::dump_options, 0x01},
    {"DumpAllAll", "dump = all, all\n", &settings_record::dump_options, 0x36},
    {"ColorsAloneLeavesNumbers", "colors = true\n", &settings_record::colors_foreground, -1},
    {"ColorsFalseNumbers", "colors = false, 7, 0\n", &settings_record::colors_enabled, 0},
    {"LoglevelZero", "loglevel = 0\n", &settings_record::log_level, 0},
    {"CpuDelayLargest", "cpu delay = 2147483647, 1\n", &settings_record::cpu_delay_count,
     2147483647},
    {"UnsetStaysUnset", "", &settings_record::log_level, -1},
};

INSTANTIATE_TEST_SUITE_P(, EmulatorSettingsValue, testing::ValuesIn(SETTINGS_CASES),
                         testing::PrintToStringParamName());

TEST(EmulatorSettings, RejectedFileMergesNothingButKeepsDirectFields) {
    parse_outcome outcome = parse_config_text(
        "loglevel = 2\ncpu delay = 3, 4\ndump = exit\nexchange delete = true\n"
        "lines = 30\nlogfile = \"x.log\"\ndrive c = readonly, \"/c\"\nprinter mode = raw\nbad\n");
    ASSERT_EQ(outcome.result, -1);
    EXPECT_EQ(settings.log_level, -1);
    EXPECT_EQ(settings.cpu_delay_count, -1);
    EXPECT_EQ(settings.dump_options, 0);
    EXPECT_EQ(settings.exchange_delete, 1);
    EXPECT_EQ(settings.lines, 30);
    EXPECT_STREQ(settings.log_file, "x.log");
    EXPECT_STREQ(settings.drive_paths[2], "/c");
    EXPECT_EQ(settings.drive_read_only[2], 1);
    EXPECT_EQ(settings.printer_mode, 1);
}

TEST(EmulatorSettings, ReadonlyIsRecordedBeforeTheStatementFails) {
    ASSERT_EQ(parse_config_text("drive d = readonly, 7\n").result, -1);
    EXPECT_EQ(settings.drive_read_only[3], 1);
    EXPECT_EQ(settings.drive_paths[3], nullptr);
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
