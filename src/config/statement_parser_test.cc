// Whole configuration texts through the statement parser: the messages with
// file name and line number, acceptance of the file, and the tables it leaves.
#include "config/statement_parser.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "charset/charset_tables.h"
#include "config/config_test_support.h"
#include "config/settings.h"

namespace {

const std::string LONG_LINE(1022, 'x');

std::string CR_HINT(int line) {
    return at(line, "the line ends in CR: the file has DOS line ends");
}

const config_text_case PARSER_CASES[] = {
    {"EmptyFile", "", ""},
    {"BlankAndComments", "\n   \n# comment\n\t; other\n", ""},
    {"LinesCountedAcrossComments", "# one\n\n\ncharset = nothing\n",
     at(4, "invalid charset name") + at(4, "the built-in sets are vt52, ascii, latin1 and vorbix")},
    {"AllCharsetStatements",
     "charset = latin1\nalt charset = vorbix\nchar 65 = \"x\"\nalt char 0x41 = \"y\"\nunprintable "
     "= \"?\"\n",
     ""},
    {"CommentAfterStatement", "charset = ascii # the plain one\n", ""},
    {"SecondNameOnLine", "charset = ascii latin1\n", at(1, "syntax error")},
    {"CharsetWithoutEquals", "charset latin1\n", at(1, "= expected")},
    {"CharsetWithoutName", "charset = \"latin1\"\n", at(1, "charset name expected")},
    {"CharsetNameCase", "charset = Latin1\n", at(1, "invalid charset name") + at(1, "the built-in sets are vt52, ascii, latin1 and vorbix")},
    {"CharsetTwice", "charset = ascii\ncharset = latin1\n", at(2, "charset redefined")},
    {"AltCharsetTwice", "alt charset = ascii\nalt charset = ascii\n",
     at(2, "alt charset redefined")},
    // The hints name the cause once a file, after the line's own messages.
    {"CharsetNamesHintedOnce", "charset = bogus\nalt charset = latin-1\n",
     at(1, "invalid charset name") + at(1, "the built-in sets are vt52, ascii, latin1 and vorbix") + at(2, "invalid charset name")},
    {"CharsetValidThenInvalid", "charset = ascii\ncharset = bogus\n", at(2, "charset redefined")},
    {"CharsetAndAltCharsetAreSeparate", "charset = ascii\nalt charset = latin1\n", ""},
    {"CharCode255", "char 255 = \"\u00ff\"\n", ""},
    {"CharCode256", "char 256 = \"x\"\n", at(1, "number (0..255) expected")},
    {"CharWithoutCode", "char = \"x\"\n", at(1, "number (0..255) expected")},
    {"CharTwoCharacters", "char 65 = \"xy\"\n", at(1, "string may contain only one character")},
    {"CharEmptyString", "char 65 = \"\"\n", ""},
    {"CharTwice", "char 65 = \"x\"\nchar 65 = \"y\"\n", at(2, "char redefined")},
    {"CharTwiceSpelledDifferently", "char 65 = \"x\"\nchar 0101 = \"y\"\n",
     at(2, "char redefined")},
    {"AltCharTwice", "alt char 65 = \"x\"\nalt char 65 = \"y\"\n", at(2, "alt char redefined")},
    {"CharAndAltCharSameCode", "char 65 = \"x\"\nalt char 65 = \"y\"\n", ""},
    {"CharWithoutEquals", "char 65 \"x\"\n", at(1, "= expected")},
    {"CharWithoutString", "char 65 = x\n", at(1, "string expected")},
    {"CharTrailingToken", "char 65 = \"x\" ,\n", at(1, "syntax error")},
    {"UnprintableTwice", "unprintable = \"?\"\nunprintable = \"!\"\n",
     at(2, "unprintable char redefined")},
    {"UnprintableUnterminated", "unprintable = \"?\n",
     at(1, "unterminated string") + at(1, "string expected")},
    {"UnprintableTwoCharacters", "unprintable = \"??\"\n",
     at(1, "string may contain only one character")},
    {"AltUnprintable", "alt unprintable = \"?\"\n", at(1, "keyword alt unexpected")},
    {"AltAlone", "alt\n", at(1, "keyword expected")},
    {"AltEquals", "alt = x\n", at(1, "keyword expected")},
    {"KeywordCase", "Charset = ascii\n", at(1, "syntax error")},
    {"UnknownKeyword", "frobnicate = 1\n", at(1, "syntax error")},
    {"LineStartsWithNumber", "12\n", at(1, "keyword expected")},
    {"LineStartsWithString", "\"x\"\n", at(1, "keyword expected")},
    {"LineStartsWithEquals", "= x\n", at(1, "keyword expected")},
    {"LineStartsWithComma", ", x\n", at(1, "keyword expected")},
    {"LexicalErrorFirst", "_x\n", at(1, "invalid token") + at(1, "keyword expected")},
    {"CrLfLineEnds", "charset = ascii\r\nlines = 24\r\n",
     at(1, "invalid token") + at(1, "syntax error") + CR_HINT(1) + at(2, "invalid token") +
         at(2, "syntax error")},
    {"CrOnlyOnARejectedLine", "bad\n# fine\r\nx y\r\n",
     at(1, "syntax error") + at(3, "syntax error") + CR_HINT(3)},
    {"ByteOrderMark", "\xef\xbb\xbf# comment\n",
     at(1, "invalid token") + at(1, "keyword expected") +
         at(1, "the file begins with a byte order mark")},
    {"EveryCauseInOrder", "\xef\xbb\xbf" "charset = ascii\r\n",
     at(1, "invalid token") + at(1, "keyword expected") + CR_HINT(1) +
         at(1, "the file begins with a byte order mark")},
    {"LastLineEndsInCr", "charset = ascii\r",
     at(1, "line too long") + CR_HINT(1) + at(1, "the last line has no line end")},
    {"SeveralFaultyLines",
     "charset = ascii\nbad\n# fine\nchar 300 = \"x\"\nunprintable = \"x\"\nx y\n",
     at(2, "syntax error") + at(4, "number (0..255) expected") + at(6, "syntax error")},
    {"LongestLine", "#" + LONG_LINE.substr(1) + "\n", ""},
    {"LineTooLong", "#" + LONG_LINE + "\ncharset = bogus\n", at(1, "line too long")},
    {"LastLineWithoutNewline", "charset = ascii\n# fine",
     at(2, "line too long") + at(2, "the last line has no line end")},
    {"NulBeforeNewline", std::string("charset = ascii\0\n", 17), at(1, "line too long")},
    {"NulLine", std::string("\0\n", 2), at(1, "line too long")},
    {"LineTooLongEndsAtOnce", "bad\n" + LONG_LINE + "x\nbad\n",
     at(1, "syntax error") + at(2, "line too long")},
    {"InvalidSequence", "bad\ncharset = ascii\n# caf\xc3\n",
     at(1, "syntax error") + "vorbix-convert: error reading test.conf: " + std::strerror(EILSEQ) +
         "\n"},
    {"TruncatedSequenceAtEnd", "charset = ascii\n#\xe2\x82",
     "vorbix-convert: error reading test.conf: " + std::string(std::strerror(EILSEQ)) + "\n"},
};

INSTANTIATE_TEST_SUITE_P(ParserMessages, ConfigurationText, testing::ValuesIn(PARSER_CASES),
                         testing::PrintToStringParamName());

TEST(ParserTables, EmptyFileGivesDefaultSetInBothTables) {
    ASSERT_EQ(parse_config_text("").result, 0);
    for (int code = 0; code < 256; ++code) {
        wchar_t expected = builtin_charsets[code][CHARSET_VT52];
        for (charset_entries* table : {&charset_table, &alt_charset_table}) {
            if (expected == 0) {
                EXPECT_EQ((*table)[code], nullptr) << code;
            } else {
                ASSERT_NE((*table)[code], nullptr) << code;
                EXPECT_EQ((*table)[code][0], expected) << code;
            }
        }
    }
    EXPECT_EQ(unprintable_char, nullptr);
}

TEST(ParserTables, SetsAndEntriesCompleteTheTables) {
    ASSERT_EQ(parse_config_text("charset = latin1\nalt charset = vorbix\nchar 65 = \"x\"\n"
                                "alt char 66 = \"\"\nunprintable = \"?\"\n")
                  .result,
              0);
    EXPECT_STREQ(charset_table[65], L"x");
    EXPECT_STREQ(charset_table[233], L"\u00e9");
    EXPECT_EQ(charset_table[150], nullptr);
    EXPECT_STREQ(alt_charset_table[150], L"\u2013");
    EXPECT_STREQ(alt_charset_table[66], L"");
    EXPECT_STREQ(alt_charset_table[65], L"A");
    EXPECT_STREQ(unprintable_char, L"?");
}

TEST(ParserTables, AltCharsetAloneLeavesPrimaryDefault) {
    ASSERT_EQ(parse_config_text("alt charset = ascii\n").result, 0);
    EXPECT_NE(charset_table[1], nullptr);
    EXPECT_EQ(alt_charset_table[1], nullptr);
}

TEST(ParserTables, RejectedFileCompletesNoTable) {
    ASSERT_EQ(parse_config_text("char 65 = \"x\"\ncharset = latin1\nbad\n").result, -1);
    EXPECT_STREQ(charset_table[65], L"x");
    EXPECT_EQ(charset_table[66], nullptr);
    EXPECT_EQ(alt_charset_table[66], nullptr);
}

} // namespace
