// What both fuzz targets share: every input starts from the unset state, and
// reads and writes through in-memory files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

/// Returns the character sets, the configuration state, the settings and the
/// run state to their unset state at process start.
void reset_all_state();

/// An in-memory file holding data, positioned at its start.
int memory_file(const std::uint8_t* data, std::size_t size);

/// The whole content of the file behind fd.
std::string file_content(int fd);

/// Parses text as a configuration file; returns the parser's result.
int parse_configuration_text(const std::uint8_t* text, std::size_t size);

/// Stops the fuzzer with a crash when an invariant does not hold, naming the
/// check's line on standard output (standard error may be closed).
inline void require(bool invariant, unsigned line = __builtin_LINE()) {
    if (!invariant) {
        std::printf("failed check on line %u\n", line);
        std::fflush(stdout);
        __builtin_trap();
    }
}
