// What each CP/M code becomes in host text, worked out once per run from the
// tables and the locale's encoding: the plan the CP/M-to-host loops write
// from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "charset/charset_tables.h"
#include "common/byte_stream.h"
#include "common/host_text.h"
#include "convert/engine.h"

// What one CP/M code becomes in host text, worked out once per run.
enum host_output_kind : unsigned char {
    HOST_BYTES,           // these bytes, the same every time (stateless encodings)
    HOST_CHARACTER,       // this character, encoded each time through the shift state
    HOST_UNENCODABLE,     // a character the locale cannot encode: a write error
    HOST_UNTRANSLATABLE,  // no character: dropped and reported
    HOST_CARRIAGE_RETURN, // held back until the next byte is seen
    HOST_LINE_FEED,       // a line end, counted
};

constexpr std::size_t LONGEST_PLANNED_SEQUENCE = 8;

struct host_output {
    host_output_kind kind;
    unsigned char length;
    unsigned char bytes[LONGEST_PLANNED_SEQUENCE];
    wchar_t character;
};

/// A code's bytes for the block loop, packed in one word: up to four bytes
/// as they are stored, from bit 32 how many of them are written, and bit 63
/// set where the block loop leaves the code to the byte loop (a character
/// without a translation, one the locale cannot encode, or one encoded
/// through a shift state). A CR in a block always begins a line end and is
/// written as nothing.
using block_code = std::uint64_t;
constexpr int BLOCK_CODE_LENGTH_SHIFT = 32;
constexpr block_code BLOCK_CODE_LEFT_OUT = block_code{1} << 63;

inline block_code pack_block_code(const unsigned char* bytes, std::size_t length,
                                  std::size_t written) {
    std::uint32_t stored = 0;
    std::memcpy(&stored, bytes, length);
    return stored | block_code{written} << BLOCK_CODE_LENGTH_SHIFT;
}

// Writes a code's bytes at out and returns the end of those that count.
inline unsigned char* put_block_code(unsigned char* out, block_code code) {
    auto stored = static_cast<std::uint32_t>(code);
    std::memcpy(out, &stored, sizeof stored);
    return out + (code >> BLOCK_CODE_LENGTH_SHIFT & 0xFF);
}

struct host_output_plan {
    host_output codes[CPM_CODE_COUNT];
    host_output carriage_return; ///< a CR that turned out not to begin a line end
    host_output line_feed;
    bool plain_text_is_itself; ///< every code 0x20-0x7E and the tab is its own one byte
    block_code block_codes[CPM_CODE_COUNT];
    /// Whole blocks may be converted: every code below 0x80 is its own one
    /// byte, CR and LF included.
    bool blocks_apply;
};

// Input is converted in chunks small enough that their output, at most two
// planned sequences a byte (a held-back CR and the byte's own), always fits
// the room reserved for it in the target's buffer.
constexpr std::size_t CHUNK_SIZE = 1024;
constexpr std::size_t RESERVED_PER_CHUNK = CHUNK_SIZE * 2 * LONGEST_PLANNED_SEQUENCE;
static_assert(RESERVED_PER_CHUNK <= WRITE_BUFFER_SIZE, "a chunk's output must fit the buffer");

/// The translation of every code, through cpm_to_host_char and the locale's
/// encoding. Only an encoding without shift states, whose sequences fit the
/// plan, has its bytes worked out in advance.
host_output_plan plan_host_output();
