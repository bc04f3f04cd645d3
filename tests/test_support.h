// What the tests share: the prefix of every message, CP/M records, and how a
// row of a table of cases shows in test names and failures.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

/// The prefix of every message of the program.
inline const std::string P = "vorbix-convert: ";

/// The line after the warning about dropped characters, once a run, where no
/// configuration file was found.
inline const std::string BUILTIN_SET =
    P + "no configuration file (.vorbix.conf here or in $HOME): the built-in set vt52 is in use\n";

/// count bytes of ^Z, the fill after the end of CP/M text.
inline std::string fill(std::size_t count) {
    return std::string(count, '\x1a');
}

/// text filled with ^Z to a whole number of 128-byte records, as the program
/// completes a CP/M target.
inline std::string cpm_records(const std::string& text) {
    return text + fill((128 - text.size() % 128) % 128);
}

/// Makes rows of row_type, which have a name, show as that name.
#define PRINTS_AS_ITS_NAME(row_type)                                                               \
    [[maybe_unused]] void PrintTo(const row_type& row, std::ostream* os) {                         \
        *os << row.name;                                                                           \
    }
