// The conversion engine: one pass from the open source stream to the open
// target stream, in one of the four directions between host and CP/M text.
// Its parts: the character loops and the report (engine.cc), its record of
// the conversion (conversion_record.h), the plan of the host text for each
// CP/M code (host_output_plan.h) and the block loops (block_loops.h).
#pragma once

#include <cstddef>
#include <cstdint>

/// CR LF: the line end of CP/M text.
constexpr unsigned char CPM_CR = 0x0D;
constexpr unsigned char CPM_LF = 0x0A;
/// ^Z: the end of the text in a CP/M file, and the fill after it.
constexpr unsigned char CPM_END_MARK = 0x1A;
/// CP/M files are whole records of this many bytes.
constexpr std::size_t CPM_RECORD_SIZE = 128;

/// Converts the source into the target as the run state says, completes a
/// CP/M target, writes it out and ends its comparison, then reports read
/// errors, write errors (naming write_name), untranslatable characters and,
/// on the way to CP/M, the marks of CP/M text in the host's, in that order;
/// source names the source in messages. Returns 0 when the conversion
/// succeeded and -1 when it failed.
int run_conversion(const char* source, const char* write_name);

/// How many characters without a translation the last conversion met, also
/// under -i.
std::uint64_t untranslatable_count();

/// The marks of CP/M text that the last conversion of host text found: its
/// CR LF pairs, and whether text follows a ^Z.
struct host_text_marks {
    std::uint64_t line_ends_with_cr;
    bool text_after_end_mark;
};
host_text_marks host_text_marks_found();
