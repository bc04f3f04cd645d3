// Test helpers for the configuration subsystem: parse a configuration text
// from a fresh, unset state and capture the messages it prints.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

struct parse_outcome {
    int result;
    std::string messages;
};

/// Resets the configuration, the settings and both translation tables to
/// their unset state, sets a UTF-8 locale, and parses text as the file
/// "test.conf".
parse_outcome parse_config_text(const std::string& text);

/// The messages the parser prints for a file named "test.conf", each line
/// prefixed as the program prints it.
std::string config_message(int line, const std::string& message);

/// config_message for the file "test.conf", shorter for tables of cases.
inline std::string at(int line, const std::string& message) {
    return config_message(line, message);
}

/// A configuration text and the messages it must give, "" for an accepted file.
struct config_text_case {
    const char* name;
    std::string text;
    std::string messages;
};

inline void PrintTo(const config_text_case& c, std::ostream* os) {
    *os << c.name;
}

/// Parses each case's text and compares messages and result; instantiated
/// with the tables of cases of the statement parser and the emulator
/// statements.
class ConfigurationText : public testing::TestWithParam<config_text_case> {};
