// Parsing configuration texts in-process for the tests.
#include "config/config_test_support.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>

#include "charset/charset_tables.h"
#include "common/diagnostic.h"
#include "config/lexer.h"
#include "config/loader.h"
#include "config/settings.h"
#include "config/statement_parser.h"

parse_outcome parse_config_text(const std::string& text) {
    static byte_reader reader;
    std::setlocale(LC_CTYPE, "C.UTF-8");
    set_program_name("vorbix-convert");
    reset_charsets_for_testing();
    reset_settings_for_testing();
    reset_statement_parser_for_testing();
    discard_token();

    std::FILE* file = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), file);
    std::fflush(file);
    std::rewind(file);
    reader.attach(fileno(file));
    config_stream = &reader;
    config_path = "test.conf";

    testing::internal::CaptureStderr();
    int result = parse_configuration();
    std::string messages = testing::internal::GetCapturedStderr();
    config_stream = nullptr;
    std::fclose(file);
    return {result, messages};
}

std::string config_message(int line, const std::string& message) {
    return "vorbix-convert: test.conf(" + std::to_string(line) + "): " + message + "\n";
}

TEST_P(ConfigurationText, GivesItsMessagesAndResult) {
    parse_outcome outcome = parse_config_text(GetParam().text);
    EXPECT_EQ(outcome.messages, GetParam().messages);
    EXPECT_EQ(outcome.result, GetParam().messages.empty() ? 0 : -1);
}
