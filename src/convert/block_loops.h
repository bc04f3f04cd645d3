// The block loops: whole blocks of text classified at once by the vector
// layer, for the two directions between UTF-8 or a planned host encoding and
// CP/M codes. Each runs while the blocks hold only what it covers and leaves
// the rest to the character loops of the engine, which include this header
// and run the loops through at_vector_level.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "charset/charset_tables.h"
#include "common/byte_classes.h"
#include "convert/conversion_record.h"
#include "convert/host_output_plan.h"
#include "convert/run_state.h"

// Copies the text from from up to to, to out, and returns the end of the
// copy. It moves whole blocks, which the room after the source and after the
// output both allow, so that the usual short stretch between two events is
// one unconditional copy.
template <typename Bytes>
[[gnu::always_inline]] inline unsigned char*
copy_stretch(unsigned char* out, const unsigned char* from, const unsigned char* to) {
    std::size_t length = static_cast<std::size_t>(to - from);
    std::size_t copied = 0;
    do {
        Bytes::copy_block(out + copied, from + copied);
        copied += BYTE_BLOCK_SIZE;
    } while (copied < length);
    return out + length;
}

// The codes of the characters U+0080 to U+07FF, the two-byte sequences of
// UTF-8, looked up when first met in a run.
class two_byte_codes {
  public:
    two_byte_codes() { std::fill(std::begin(codes_), std::end(codes_), UNKNOWN); }

    /// The code of the sequence lead, continuation, or -1 for a character
    /// without one. Any two bytes may be asked for: the answer for two that
    /// are not such a sequence means nothing.
    int code_of(unsigned char lead, unsigned char continuation) {
        unsigned value = (lead & 0x1Fu) << 6 | (continuation & 0x3Fu);
        if (codes_[value] == UNKNOWN)
            codes_[value] =
                static_cast<std::int16_t>(host_to_cpm_char(static_cast<wchar_t>(value)));
        return codes_[value];
    }

  private:
    static constexpr std::int16_t UNKNOWN = -2;
    std::int16_t codes_[0x800];
};

// Blocks converted between two reservations of the target's buffer: a
// chunk of CP/M text.
constexpr std::size_t BLOCKS_AT_A_TIME = CHUNK_SIZE / BYTE_BLOCK_SIZE;

// The places of events (line ends, codes or sequences from 0x80 up) in the
// block loops are noted this many at a time, without a branch, and handled
// in one loop for many blocks: a loop for each block would end at a
// different count each time, which the processor cannot foresee.
constexpr int EVENTS_NOTED_AT_ONCE = 4;

// Notes the places of the events, the set bits of events, at notes: each
// place is base and the bit's number, with FLAGGED_EVENT where flagged has the
// bit too. The first EVENTS_NOTED_AT_ONCE notes are written whether or not
// there are so many events; the caller counts the events.
constexpr std::uint32_t FLAGGED_EVENT = std::uint32_t{1} << 31;
inline void note_events(std::uint64_t events, std::uint64_t flagged, std::uint32_t base,
                        std::uint32_t* notes) {
    for (int i = 0; i < EVENTS_NOTED_AT_ONCE; ++i) {
        // Bit 63 keeps the mask from being empty, for which the lowest bit
        // is undefined: once the events run out, the notes written are past
        // the count and never read.
        auto bit = static_cast<unsigned>(lowest_bit(events | std::uint64_t{1} << 63));
        *notes++ = (base + bit) | static_cast<std::uint32_t>(flagged >> bit & 1) << 31;
        events &= events - 1;
    }
    for (; events != 0; events &= events - 1) {
        auto bit = static_cast<unsigned>(lowest_bit(events));
        *notes++ = (base + bit) | static_cast<std::uint32_t>(flagged >> bit & 1) << 31;
    }
}

// Converts the UTF-8 text at the start of the source's buffer block by block,
// while the masks show what the block loop covers: plain text, LF (written
// CR LF) and two-byte sequences with a code. It stops at anything else (a
// CR, a ^Z, a longer or invalid sequence, a character without a code), which
// the character loop then takes. start is the offset of the first character,
// for the line count. Returns the characters consumed.
//
// The events of a block are its LFs and the first bytes of its sequences.
// What an event does is chosen from the masks, not from its byte: the next
// event's place then never waits for this one's byte to be read and
// compared, and the two kinds, which come in no order, take no branch.
template <typename Bytes> struct host_blocks {
    [[gnu::always_inline]] static std::uint64_t run(two_byte_codes& two_byte, std::uint64_t start) {
        std::uint64_t characters = 0;
        while (source_stream.available() > BYTE_BLOCK_SIZE) {
            // Each block has a byte after it, for a sequence across the
            // boundary.
            const unsigned char* text = source_stream.data();
            std::size_t blocks =
                std::min((source_stream.available() - 1) / BYTE_BLOCK_SIZE, BLOCKS_AT_A_TIME);
            const unsigned char* blocks_end = text + blocks * BYTE_BLOCK_SIZE;
            const unsigned char* end = blocks_end;
            // The places of the blocks' events, an LF flagged, noted first
            // and then handled in one loop.
            std::uint32_t events_at[BLOCKS_AT_A_TIME * BYTE_BLOCK_SIZE + EVENTS_NOTED_AT_ONCE];
            std::size_t noted = 0;
            std::uint64_t lead_before = 0; // the last byte before the block began a sequence
            for (const unsigned char* block = text; block < blocks_end; block += BYTE_BLOCK_SIZE) {
                byte_block_masks found;
                Bytes::classify(block, found);
                // A continuation byte where no sequence began stops the
                // text, as a CR and a ^Z do.
                std::uint64_t continuations_here = found.high & ~found.lead;
                std::uint64_t stray = continuations_here & ~(found.lead << 1 | lead_before);
                lead_before = found.lead >> (BYTE_BLOCK_SIZE - 1);
                std::uint64_t stops = found.cr | found.end_mark | stray;
                std::uint64_t events = found.lead | found.lf;
                // Only the events before the first stop: stops & -stops is its
                // bit alone, and one less is every bit below it.
                if (stops != 0)
                    events &= (stops & (~stops + 1)) - 1;
                auto events_here = static_cast<std::size_t>(Bytes::count(events));
                note_events(events, found.lf, static_cast<std::uint32_t>(block - text),
                            events_at + noted);
                noted += events_here;
                if (stops != 0) {
                    end = block + lowest_bit(stops);
                    break;
                }
            }
            // An LF is written CR and copied with the next stretch; a
            // sequence is written as its code and skipped. What an event
            // does is chosen from its note, not from its byte, so that the
            // next event never waits for this one's byte, and neither kind
            // takes a branch of its own.
            // Each byte at most two (an LF), and one copy's worth after them.
            unsigned char* out =
                target_stream.reserve(2 * BLOCKS_AT_A_TIME * BYTE_BLOCK_SIZE + BYTE_BLOCK_SIZE);
            const unsigned char* copied_to = text;
            std::uint64_t line_feeds = 0;
            std::size_t handled = 0;
            for (; handled < noted; ++handled) {
                const unsigned char* at = text + (events_at[handled] & ~FLAGGED_EVENT);
                out = copy_stretch<Bytes>(out, copied_to, at);
                std::uint64_t line_feed = events_at[handled] >> 31;
                std::uint64_t sequence = 1 - line_feed;
                int code = two_byte.code_of(at[0], at[1]);
                // Worked out whole, without a branch for each part.
                unsigned sequence_fails =
                    static_cast<unsigned>(static_cast<unsigned char>(at[0] - 0xC2) > 0xDF - 0xC2) |
                    static_cast<unsigned>((at[1] & 0xC0) != 0x80) | static_cast<unsigned>(code < 0);
                if ((sequence_fails & static_cast<unsigned>(sequence)) != 0) {
                    copied_to = at;
                    end = at;
                    break;
                }
                int is_line_feed = -static_cast<int>(line_feed);
                *out++ =
                    static_cast<unsigned char>((code & ~is_line_feed) | (CPM_CR & is_line_feed));
                copied_to = at + 2 * sequence;
                line_feeds += line_feed;
            }
            // Every event handled that is not an LF skipped a sequence's
            // second byte.
            std::uint64_t continuations = handled - line_feeds;
            // A sequence that ends the last block takes the byte after it too.
            bool stopped = end != blocks_end;
            end = std::max(end, copied_to);
            out = copy_stretch<Bytes>(out, copied_to, end);
            target_stream.commit(out);
            if (line_feeds != 0) {
                std::size_t last = handled - 1;
                while ((events_at[last] & FLAGGED_EVENT) == 0)
                    --last;
                std::uint64_t continuations_before_it = last - (line_feeds - 1);
                this_conversion.lines.line_feeds += line_feeds;
                this_conversion.lines.line_start = start + characters +
                                                   (events_at[last] & ~FLAGGED_EVENT) -
                                                   continuations_before_it + 1;
            }
            std::size_t consumed = static_cast<std::size_t>(end - text);
            source_stream.consume(consumed);
            characters += consumed - continuations;
            if (stopped)
                break;
        }
        return characters;
    }
};

// A block with more codes from 0x80 up than this is expanded byte by byte,
// without a branch; one with fewer, between them. Twelve is about where the
// two cost the same: the byte loop takes 64 table entries whatever the block
// holds, and each event between copies costs a copy of the stretch before it
// and a table entry, some five times a byte's share. Latin-1 prose (a few
// high codes a block) stays on the event path; text in a set of another
// alphabet (most bytes high) takes the byte loop.
constexpr int SPARSE_HIGH_CODES = 12;

// The most events (CRs before LFs and codes from 0x80 up) of a block that
// is not converted byte by byte: its high codes and a CR in every other byte.
constexpr std::size_t MOST_EVENTS_IN_A_BLOCK = SPARSE_HIGH_CODES + BYTE_BLOCK_SIZE / 2;

// Converts the length bytes at text into out while the table covers them,
// and returns how many bytes it converted. The text is taken whole blocks at
// a time, while they hold only plain text, CR LF line ends (the CR dropped)
// and codes with planned bytes: a CR that does not begin a line end stops the
// conversion at its block, and byte_loop_share is set to the block; a code
// the table leaves out stops it at the code, and byte_loop_share is set to
// the code alone. Every block converted has a byte after it in the text, for
// a CR LF pair across the boundary, and the text may be read up to
// BYTE_BLOCK_SIZE bytes past that (the stream's buffer has the room). length
// is at most CHUNK_SIZE + 1. offset is the text's place in the source, for
// the line count.
template <typename Bytes> struct cpm_blocks {
    [[gnu::always_inline]] static std::size_t run(const unsigned char* text, std::size_t length,
                                                  std::uint64_t offset, unsigned char*& out,
                                                  const host_output_plan& plan,
                                                  std::size_t& byte_loop_share) {
        const block_code* codes = plan.block_codes;
        const unsigned char* copied_to = text; // the text before this is in the output
        unsigned char* written_to = out;
        const unsigned char* stop = nullptr; // a code the table leaves out
        std::uint32_t events_at[BLOCKS_AT_A_TIME * MOST_EVENTS_IN_A_BLOCK + EVENTS_NOTED_AT_ONCE];
        std::size_t noted = 0;
        // The text between events copied as it stands, each event (a high
        // code, a CR before an LF) through the table.
        auto handle_noted_events = [&]() __attribute__((always_inline)) {
            for (std::size_t i = 0; i < noted; ++i) {
                const unsigned char* at = text + events_at[i];
                written_to = copy_stretch<Bytes>(written_to, copied_to, at);
                block_code code = codes[*at];
                copied_to = at;
                if ((code & BLOCK_CODE_LEFT_OUT) != 0) {
                    stop = at;
                    break;
                }
                written_to = put_block_code(written_to, code);
                copied_to = at + 1;
            }
            noted = 0;
        };
        std::uint64_t line_feeds_of[BLOCKS_AT_A_TIME];
        std::size_t blocks =
            std::min(length > 0 ? (length - 1) / BYTE_BLOCK_SIZE : 0, BLOCKS_AT_A_TIME);
        std::size_t block_number = 0;
        for (; block_number < blocks; ++block_number) {
            const unsigned char* block = text + block_number * BYTE_BLOCK_SIZE;
            byte_block_masks found;
            Bytes::classify(block, found);
            std::uint64_t lf_after = found.lf >> 1 | std::uint64_t{block[BYTE_BLOCK_SIZE] == CPM_LF}
                                                         << 63;
            if ((found.cr & ~lf_after) != 0)
                break;
            line_feeds_of[block_number] = found.lf;
            int high_codes = Bytes::count(found.high);
            if (high_codes > SPARSE_HIGH_CODES) {
                // Dense: each byte through the table, without a branch.
                handle_noted_events();
                if (stop != nullptr)
                    break;
                unsigned char* block_out = copy_stretch<Bytes>(written_to, copied_to, block);
                block_code left_out = 0;
                for (std::size_t i = 0; i < BYTE_BLOCK_SIZE; ++i) {
                    block_code code = codes[block[i]];
                    left_out |= code;
                    block_out = put_block_code(block_out, code);
                }
                if ((left_out & BLOCK_CODE_LEFT_OUT) != 0)
                    break;
                written_to = block_out;
                copied_to = block + BYTE_BLOCK_SIZE;
            } else {
                std::uint64_t events = found.high | found.cr;
                auto events_here = static_cast<std::size_t>(high_codes + Bytes::count(found.cr));
                note_events(events, 0, static_cast<std::uint32_t>(block - text), events_at + noted);
                noted += events_here;
            }
        }
        handle_noted_events();
        // Where the conversion ends: at a code left out, or at the first
        // block not converted.
        std::size_t converted = block_number * BYTE_BLOCK_SIZE;
        byte_loop_share = BYTE_BLOCK_SIZE;
        if (stop != nullptr) {
            converted = static_cast<std::size_t>(stop - text);
            byte_loop_share = 1;
        }
        out = copy_stretch<Bytes>(written_to, copied_to, text + converted);
        // The line feeds before that.
        std::size_t whole_blocks = converted / BYTE_BLOCK_SIZE;
        std::size_t in_last = converted % BYTE_BLOCK_SIZE;
        if (in_last != 0)
            line_feeds_of[whole_blocks++] &= (std::uint64_t{1} << in_last) - 1;
        std::uint64_t line_feeds = 0;
        for (std::size_t i = 0; i < whole_blocks; ++i)
            line_feeds += static_cast<std::uint64_t>(Bytes::count(line_feeds_of[i]));
        if (line_feeds != 0) {
            std::size_t last = whole_blocks - 1;
            while (line_feeds_of[last] == 0)
                --last;
            this_conversion.lines.line_feeds += line_feeds;
            this_conversion.lines.line_start =
                offset + last * BYTE_BLOCK_SIZE +
                static_cast<std::uint64_t>(highest_bit(line_feeds_of[last])) + 1;
        }
        return converted;
    }
};
