// Test helpers for the configuration subsystem: parse a configuration text
// from a fresh, unset state and capture the messages it prints.
#pragma once

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
