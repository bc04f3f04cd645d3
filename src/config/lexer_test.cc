// The lexer on single lines: the tokens it gives, where it leaves the cursor
// after an error, and its messages.
#include "config/lexer.h"

#include <gtest/gtest.h>

#include <cwchar>

#include "common/diagnostic.h"
#include "config/loader.h"
#include "config/statement_parser.h"
#include "test_support.h"

namespace {

// ASCII as it is, other characters as <code point>.
std::string describe(const wchar_t* text) {
    std::string described;
    for (; *text; ++text)
        described += *text < 0x80 ? std::string(1, static_cast<char>(*text))
                                  : "<" + std::to_string(*text) + ">";
    return described;
}

// Scans line until TOKEN_END or TOKEN_NONE and describes the tokens, e.g.
// "id:abc = num:12 , str:x END"; a lexical error ends with "NONE@<cursor>".
std::string scan(const std::wstring& line, std::string& messages) {
    set_program_name("vorbix-convert");
    config_path = "test.conf";
    config_line_number = 7;
    std::wcsncpy(line_buffer, line.c_str(), LINE_BUFFER_SIZE - 1);
    line_buffer[LINE_BUFFER_SIZE - 1] = 0;
    line_cursor = line_buffer;
    std::string tokens;
    testing::internal::CaptureStderr();
    for (int count = 0; count < 20; ++count) {
        next_token();
        if (!tokens.empty())
            tokens += ' ';
        switch (token_kind) {
        case TOKEN_END:
            tokens += "END";
            break;
        case TOKEN_NONE:
            tokens += "NONE@" + std::to_string(line_cursor - line_buffer);
            EXPECT_EQ(token_string, nullptr);
            EXPECT_EQ(token_text, nullptr);
            break;
        case TOKEN_IDENTIFIER:
            tokens += "id:" + describe(token_text);
            break;
        case TOKEN_NUMBER:
            tokens += "num:" + std::to_string(token_number);
            break;
        case TOKEN_STRING:
            tokens += "str:" + describe(token_string);
            break;
        default:
            tokens += static_cast<char>(token_kind);
        }
        if (token_kind == TOKEN_END || token_kind == TOKEN_NONE)
            break;
    }
    messages = testing::internal::GetCapturedStderr();
    discard_token();
    return tokens;
}

const std::string AT_LINE = "vorbix-convert: test.conf(7): ";

struct lexer_case {
    const char* name;
    std::wstring line;
    std::string tokens;
    std::string messages = "";
};

PRINTS_AS_ITS_NAME(lexer_case)

class Lexer : public testing::TestWithParam<lexer_case> {};

TEST_P(Lexer, Tokens) {
    std::string messages;
    EXPECT_EQ(scan(GetParam().line, messages), GetParam().tokens);
    EXPECT_EQ(messages, GetParam().messages);
}

const lexer_case LEXER_CASES[] = {
    {"Empty", L"", "END"},
    {"Blanks", L" \t  ", "END"},
    {"Comment", L"  # charset = x", "END"},
    {"SemicolonComment", L"; x", "END"},
    {"NoBlanks", L"abc=12,x", "id:abc = num:12 , id:x END"},
    {"NumberThenIdentifier", L"12abc", "num:12 id:abc END"},
    {"SemicolonEndsStatement", L"lines = 24; columns = 80", "id:lines = num:24 END"},
    {"Octal", L"017", "num:15 END"},
    {"Hexadecimal", L"0x1F", "num:31 END"},
    {"HexadecimalUpperDigits", L"0xfF", "num:255 END"},
    {"OctalStopsAtEight", L"08", "num:0 num:8 END"},
    {"UpperCaseXIsNoPrefix", L"0X1F", "num:0 id:X1F END"},
    {"HexPrefixWithoutDigits", L"0xg", "num:0 id:g END"},
    {"HexPrefixAcceptsSpaceAndSecondPrefix", L"0x 0x10", "num:16 END"},
    {"HexPrefixAcceptsSign", L"0x-1", "num:18446744073709551615 END"},
    {"Zero", L"0", "num:0 END"},
    {"LargestNumber", L"18446744073709551615", "num:18446744073709551615 END"},
    {"NumberTooLarge", L"x 18446744073709551616", "id:x NONE@2",
     AT_LINE + "integer out of range\n"},
    {"HexTooLarge", L"0x10000000000000000", "NONE@0", AT_LINE + "integer out of range\n"},
    {"UnderscoreStartsNothing", L"_name", "NONE@0", AT_LINE + "invalid token\n"},
    {"UnderscoreInside", L"name_1 a1b2", "id:name_1 id:a1b2 END"},
    {"CaseKept", L"TRUE true", "id:TRUE id:true END"},
    {"LocaleLetters", L"\u00e9t\u00e9 = 1", "id:<233>t<233> = num:1 END"},
    {"EmptyString", L"\"\"", "str: END"},
    {"StringKeepsSpecials", L"\"a #;,= b\" x", "str:a #;,= b id:x END"},
    {"StringEscapes", L"\"\\\"\\'\\\\\"", "str:\"'\\ END"},
    {"StringWide", L"\"\u20ac\"", "str:<8364> END"},
    {"BadEscape", L"\"ab\\n\"", "NONE@4", AT_LINE + "invalid escape sequence\n"},
    {"BackslashAtEnd", L"\"ab\\", "NONE@4", AT_LINE + "invalid escape sequence\n"},
    {"Unterminated", L"x \"abc", "id:x NONE@6", AT_LINE + "unterminated string\n"},
    {"CarriageReturn", L"x\r", "id:x NONE@1", AT_LINE + "invalid token\n"},
    {"FormFeed", L"\f", "NONE@0", AT_LINE + "invalid token\n"},
    // The same on every C library, musl's narrower blanks included.
    {"OghamAndIdeographicSpaces", L"char\u1680 65\u3000= \"q\"", "id:char num:65 = str:q END"},
    {"NoBreakSpaceIsNoBlank", L"x\u00a0y", "id:x NONE@1", AT_LINE + "invalid token\n"},
    {"Punctuation", L"x = -1", "id:x = NONE@4", AT_LINE + "invalid token\n"},
};

INSTANTIATE_TEST_SUITE_P(, Lexer, testing::ValuesIn(LEXER_CASES),
                         testing::PrintToStringParamName());

TEST(LexerState, EndIsSticky) {
    std::string messages;
    scan(L"a # b", messages);
    next_token();
    EXPECT_EQ(token_kind, TOKEN_END);
    next_token();
    EXPECT_EQ(token_kind, TOKEN_END);
}

TEST(LexerState, StringBufferGrowsInSixteens) {
    std::string messages;
    EXPECT_EQ(scan(L"\"0123456789abcdef\"", messages), "str:0123456789abcdef END");
    EXPECT_EQ(scan(L"\"0123456789abcdefg\"", messages), "str:0123456789abcdefg END");
    EXPECT_EQ(scan(L"\"0123456789abcdefghijklmnopqrstuvwxyz\\", messages), "NONE@38");
}

} // namespace
