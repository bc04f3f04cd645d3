// The four conversion loops and the checks after them.
//
// CP/M text is one byte per character with CR LF line ends; its text ends at
// the first ^Z or at the end of the file, and a CP/M file is filled with ^Z
// up to a whole number of 128-byte records. Host text is the locale's
// multibyte encoding with LF line ends and no end mark.
#include "convert/engine.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "charset/charset_tables.h"
#include "common/ascii_run.h"
#include "common/byte_classes.h"
#include "common/diagnostic.h"
#include "common/host_text.h"
#include "config/loader.h"
#include "convert/run_state.h"

namespace {

constexpr unsigned char CPM_CR = 0x0D;
constexpr unsigned char CPM_LF = 0x0A;

// Where a character stands in the source, both counting from 1.
struct text_position {
    std::uint64_t line = 1;
    std::uint64_t column = 1;
};

// The source's lines, brought up to date at line feeds only, so that the
// position of a rare event can be worked out when it happens without a cost
// to every character. Offsets are bytes in CP/M text and characters in host
// text.
struct line_tracker {
    std::uint64_t line_feeds = 0;
    std::uint64_t line_start = 0; ///< the offset just past the last line feed

    void line_feed_at(std::uint64_t offset) {
        ++line_feeds;
        line_start = offset + 1;
    }
    text_position position_of(std::uint64_t offset) const {
        return {line_feeds + 1, offset - line_start + 1};
    }
};

// Characters without a translation: how many, and the first of them.
struct untranslatable_record {
    std::uint64_t count = 0;
    text_position first;
    std::uint32_t first_value = 0; ///< its CP/M code, or its host character
};

// A ^Z in host text ends the text for every CP/M reader; text after it is
// worth a warning.
struct end_mark_record {
    bool seen = false;
    bool text_follows = false;
    text_position first;
};

// CR LF in host text becomes CR CR LF in CP/M: worth a warning, at the first.
struct carriage_return_record {
    std::uint64_t count = 0;
    text_position first;
};

// The first character that the locale's encoding cannot hold: the write
// error's cause, and where it stands.
struct unencodable_record {
    bool seen = false;
    text_position first;
    std::uint32_t value = 0;
};

// The engine's record of one conversion, cleared at its start so that nothing
// carries over from one file to the next.
// The first sequence of host text that is not valid in the locale: the read
// error's cause, and where it stands.
struct invalid_input_record {
    bool seen = false;
    text_position first;
    unsigned char byte = 0;
};

struct conversion_record {
    line_tracker lines;
    untranslatable_record untranslatable;
    unencodable_record unencodable;
    invalid_input_record invalid_input;
    end_mark_record end_mark;
    carriage_return_record line_ends_with_cr;
};

conversion_record record;

void note_untranslatable(std::uint64_t offset, std::uint32_t value) {
    if (record.untranslatable.count++ == 0) {
        record.untranslatable.first = record.lines.position_of(offset);
        record.untranslatable.first_value = value;
    }
}

// Once the host text's reader has stopped: where, if it stopped at a sequence
// the locale does not hold. offset is that sequence's character offset.
void note_end_of_host_text(const host_text_reader& input, std::uint64_t offset) {
    if (source_stream.failed() && source_stream.error_number() == EILSEQ)
        record.invalid_input = {true, record.lines.position_of(offset), input.invalid_byte()};
}

void note_unencodable(std::uint64_t offset, std::uint32_t value) {
    unencodable_record& found = record.unencodable;
    if (!found.seen) {
        found.seen = true;
        found.first = record.lines.position_of(offset);
        found.value = value;
    }
}

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

block_code pack_block_code(const unsigned char* bytes, std::size_t length, std::size_t written) {
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

// stateless: whether encoding keeps no shift state, so that a character's
// bytes can be worked out once.
host_output plan_character(wchar_t c, host_encoding encoding, bool stateless) {
    host_output planned{};
    planned.character = c;
    planned.kind = HOST_CHARACTER;
    if (!stateless)
        return planned;
    char encoded[MB_LEN_MAX];
    std::mbstate_t state{};
    std::size_t length = encode_host_character(encoding, c, encoded, state);
    if (length == static_cast<std::size_t>(-1)) {
        planned.kind = HOST_UNENCODABLE;
    } else {
        planned.kind = HOST_BYTES;
        planned.length = static_cast<unsigned char>(length);
        std::memcpy(planned.bytes, encoded, length);
    }
    return planned;
}

// The codes' bytes for whole blocks. CR and LF are their own bytes in the
// host's text (a CR LF pair is found from the masks, not from the table).
void plan_blocks(host_output_plan& plan) {
    plan.blocks_apply = plan.carriage_return.kind == HOST_BYTES &&
                        plan.carriage_return.length == 1 && plan.carriage_return.bytes[0] == CPM_CR &&
                        plan.line_feed.kind == HOST_BYTES && plan.line_feed.length == 1 &&
                        plan.line_feed.bytes[0] == CPM_LF;
    for (int code = 0; code < CPM_CODE_COUNT; ++code) {
        const host_output& planned = plan.codes[code];
        auto byte = static_cast<unsigned char>(code);
        block_code& block = plan.block_codes[code];
        if (code == CPM_CR || code == CPM_LF)
            block = pack_block_code(&byte, 1, code == CPM_CR ? 0 : 1);
        else if (planned.kind == HOST_BYTES && planned.length <= sizeof(std::uint32_t))
            block = pack_block_code(planned.bytes, planned.length, planned.length);
        else
            block = BLOCK_CODE_LEFT_OUT;
        if (code < 0x80 && code != CPM_CR && block != pack_block_code(&byte, 1, 1))
            plan.blocks_apply = false;
    }
}

// The translation of every code, through cpm_to_host_char and the locale's
// encoding. Only an encoding without shift states, whose sequences fit the
// plan, has its bytes worked out in advance.
host_output_plan plan_host_output() {
    host_encoding encoding = current_host_encoding();
    // MB_CUR_MAX is a size_t in glibc and musl, an int in macOS.
    bool stateless = std::wctomb(nullptr, 0) == 0 &&
                     static_cast<std::size_t>(MB_CUR_MAX) <= LONGEST_PLANNED_SEQUENCE;
    host_output_plan plan;
    for (int code = 0; code < CPM_CODE_COUNT; ++code) {
        // CR and LF are written as the host's CR and LF, never looked up.
        int c = code == CPM_CR || code == CPM_LF ? code : cpm_to_host_char(code);
        if (code == CPM_CR || code == CPM_LF) {
            plan.codes[code] = host_output{};
            plan.codes[code].kind = code == CPM_CR ? HOST_CARRIAGE_RETURN : HOST_LINE_FEED;
        } else if (c < 0) {
            plan.codes[code] = host_output{};
            plan.codes[code].kind = HOST_UNTRANSLATABLE;
        } else {
            plan.codes[code] = plan_character(static_cast<wchar_t>(c), encoding, stateless);
        }
    }
    plan.carriage_return = plan_character(L'\r', encoding, stateless);
    plan.line_feed = plan_character(L'\n', encoding, stateless);
    plan.plain_text_is_itself = plain_text_maps_to_itself([&plan](int code) {
        const host_output& planned = plan.codes[code];
        return planned.kind == HOST_BYTES && planned.length == 1 && planned.bytes[0] == code;
    });
    plan_blocks(plan);
    return plan;
}

struct cpm_to_host_state {
    const host_output_plan plan;
    host_text_writer& output;
    // A CR is held back until the next byte shows whether it begins a CR LF
    // line end (written as LF) or stands alone (written as CR).
    bool pending_cr;
};

// Writes a planned character at out, in the target's reserved room, and
// returns where the next one goes.
unsigned char* emit(const host_output& what, unsigned char* out, cpm_to_host_state& state) {
    if (what.kind == HOST_BYTES) {
        std::memcpy(out, what.bytes, sizeof what.bytes);
        return out + what.length;
    }
    if (what.kind == HOST_UNENCODABLE) {
        target_stream.fail(EILSEQ);
        return out;
    }
    target_stream.commit(out);
    state.output.put(what.character);
    return target_stream.reserve(RESERVED_PER_CHUNK);
}

// Every byte but a plain character outside a held-back CR: line ends, the CR
// itself, untranslatable codes, and characters the plan could not encode.
// offset is the byte's place in the source. Never inlined: it is the rare
// path, and inlined into each loop that calls it, it would take registers and
// room in the instruction cache from the common path around it.
[[gnu::noinline]] unsigned char* convert_special_byte(unsigned char byte, std::uint64_t offset,
                                                      unsigned char* out,
                                                      cpm_to_host_state& state) {
    if (byte == CPM_LF) {
        state.pending_cr = false;
        record.lines.line_feed_at(offset);
        return emit(state.plan.line_feed, out, state);
    }
    if (state.pending_cr) {
        out = emit(state.plan.carriage_return, out, state);
        state.pending_cr = false;
    }
    const host_output& code = state.plan.codes[byte];
    if (code.kind == HOST_CARRIAGE_RETURN) {
        state.pending_cr = true;
        return out;
    }
    if (code.kind == HOST_UNTRANSLATABLE) {
        note_untranslatable(offset, byte);
        return out;
    }
    bool failed_before = target_stream.failed();
    out = emit(code, out, state);
    if (!failed_before && target_stream.failed() && target_stream.error_number() == EILSEQ)
        note_unencodable(offset, static_cast<std::uint32_t>(code.character));
    return out;
}

// Hands each buffered span of CP/M text before the first ^Z to handle_span,
// with the offset of its first byte, and stops reading at that ^Z: what
// follows it is never looked at.
template <typename Handler> void for_each_cpm_text_span(Handler handle_span) {
    std::uint64_t offset = 0;
    while (source_stream.fill()) {
        const unsigned char* text = source_stream.data();
        std::size_t length = source_stream.available();
        const void* end_mark = std::memchr(text, CPM_END_MARK, length);
        if (end_mark)
            length = static_cast<std::size_t>(static_cast<const unsigned char*>(end_mark) - text);
        handle_span(text, length, offset);
        source_stream.consume(length);
        offset += length;
        if (end_mark)
            return;
    }
}

// The characters of well-formed UTF-8: every byte but the continuations.
std::uint64_t utf8_characters(const unsigned char* text, std::size_t length) {
    std::uint64_t count = 0;
    for (std::size_t i = 0; i < length; ++i)
        count += (text[i] & 0xC0) != 0x80;
    return count;
}

// The line feeds among length bytes, eight at a time: in each word, a byte
// that is LF becomes zero, and the sum of a byte's low seven bits and 0x7F
// sets its top bit unless the byte is zero, so that exactly the zero bytes
// are left with the top bit clear.
std::uint64_t line_feeds_in(const unsigned char* text, std::size_t length) {
    constexpr std::uint64_t LOW_SEVEN = 0x7F7F7F7F7F7F7F7Fu;
    constexpr std::uint64_t LINE_FEEDS = 0x0A0A0A0A0A0A0A0Au;
    std::uint64_t count = 0;
    std::size_t at = 0;
    for (; at + 8 <= length; at += 8) {
        std::uint64_t word;
        std::memcpy(&word, text + at, 8);
        word ^= LINE_FEEDS;
        std::uint64_t nonzero = ((word & LOW_SEVEN) + LOW_SEVEN) | word;
        count += static_cast<std::uint64_t>(__builtin_popcountll(~nonzero & ~LOW_SEVEN));
    }
    for (; at < length; ++at)
        count += text[at] == '\n';
    return count;
}

// A copy keeps count of lines only for the place of a read error: the line
// feeds of each span, and the characters after the last of them.
void convert_host_to_host() {
    host_text_reader input(source_stream);
    host_text_writer output(target_stream);
    line_tracker& lines = record.lines;
    std::uint64_t characters = 0;
    wchar_t c;
    for (;;) {
        // In UTF-8 a run of well-formed sequences is copied as it stands:
        // decoding and encoding it again would give the same bytes.
        if (input.at_utf8_boundary()) {
            const unsigned char* text = source_stream.data();
            std::size_t length = valid_utf8_prefix(text, source_stream.available());
            target_stream.write(text, length);
            std::size_t after_line_feed = length;
            while (after_line_feed > 0 && text[after_line_feed - 1] != '\n')
                --after_line_feed;
            if (after_line_feed > 0) {
                lines.line_feeds += line_feeds_in(text, after_line_feed - 1);
                // Offsets count from the last line feed on; only columns matter.
                lines.line_feed_at(0);
                characters = 1;
            }
            characters += utf8_characters(text + after_line_feed, length - after_line_feed);
            source_stream.consume(length);
        }
        if (!input.next(c)) {
            note_end_of_host_text(input, characters);
            return;
        }
        if (c == L'\n')
            lines.line_feed_at(characters);
        ++characters;
        output.put(c);
    }
}

// Copies the text from from up to to, to out, and returns the end of the
// copy. It moves whole blocks, which the room after the source and after the
// output both allow, so that the usual short stretch between two events is
// one unconditional copy.
template <typename Bytes>
[[gnu::always_inline]] inline unsigned char* copy_stretch(unsigned char* out,
                                                          const unsigned char* from,
                                                          const unsigned char* to) {
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
            codes_[value] = static_cast<std::int16_t>(host_to_cpm_char(static_cast<wchar_t>(value)));
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
    [[gnu::always_inline]] static std::uint64_t run(two_byte_codes& two_byte,
                                                    std::uint64_t start) {
        std::uint64_t characters = 0;
        while (source_stream.available() > BYTE_BLOCK_SIZE) {
            // Each block has a byte after it, for a sequence across the
            // boundary.
            const unsigned char* text = source_stream.data();
            std::size_t blocks = std::min((source_stream.available() - 1) / BYTE_BLOCK_SIZE,
                                          BLOCKS_AT_A_TIME);
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
                    static_cast<unsigned>((at[1] & 0xC0) != 0x80) |
                    static_cast<unsigned>(code < 0);
                if ((sequence_fails & static_cast<unsigned>(sequence)) != 0) {
                    copied_to = at;
                    end = at;
                    break;
                }
                int is_line_feed = -static_cast<int>(line_feed);
                *out++ = static_cast<unsigned char>((code & ~is_line_feed) | (CPM_CR & is_line_feed));
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
                record.lines.line_feeds += line_feeds;
                record.lines.line_start = start + characters +
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

void convert_host_to_cpm() {
    // The codes of the characters below U+0100, looked up once.
    std::int16_t low_codes[CPM_CODE_COUNT];
    for (int c = 0; c < CPM_CODE_COUNT; ++c)
        low_codes[c] = static_cast<std::int16_t>(host_to_cpm_char(static_cast<wchar_t>(c)));
    bool plain_text_is_itself =
        plain_text_maps_to_itself([&low_codes](int c) { return low_codes[c] == c; });
    // Blocks need every character below U+0080 to be its own code.
    // The block loop writes every CR as it stands: DOS line ends, whose CR
    // waits for the next character, go through the character loop.
    bool blocks_apply = !crlf_line_ends;
    for (int c = 0; c < 0x80; ++c)
        blocks_apply = blocks_apply && low_codes[c] == c;
    two_byte_codes two_byte;
    host_text_reader input(source_stream);
    end_mark_record& end_mark = record.end_mark;
    std::uint64_t characters = 0; // read so far: the offset of the next one
    bool after_cr = false;        // the last character was a CR
    bool held_cr = false;         // --crlf: that CR is not written yet
    wchar_t c;
    for (;;) {
        // After a ^Z every character is looked at, for the warning; after a
        // CR the next, in case it makes a CR LF pair.
        if (blocks_apply && !end_mark.seen && !after_cr && input.at_utf8_boundary()) {
            std::uint64_t taken = at_vector_level<host_blocks>(two_byte, characters);
            if (taken > 0) {
                characters += taken;
                after_cr = false;
            }
        }
        // A run of plain ASCII text in UTF-8 is the same run of CP/M codes.
        if (plain_text_is_itself && !held_cr && input.at_utf8_boundary()) {
            std::size_t length = source_stream.available();
            if (length > WRITE_BUFFER_SIZE / 2)
                length = WRITE_BUFFER_SIZE / 2;
            unsigned char* out = target_stream.reserve(length);
            std::size_t run = copy_plain_text(source_stream.data(), length, out);
            target_stream.commit(out + run);
            source_stream.consume(run);
            characters += run;
            if (run > 0) {
                after_cr = false;
                if (end_mark.seen)
                    end_mark.text_follows = true;
            }
        }
        bool more = input.next(c);
        // A held CR that no LF follows is a character after all.
        if (held_cr && (!more || c != L'\n'))
            target_stream.put(static_cast<unsigned char>(low_codes[CPM_CR]));
        if (!more) {
            note_end_of_host_text(input, characters);
            return;
        }
        std::uint64_t offset = characters++;
        if (c == static_cast<wchar_t>(CPM_END_MARK)) {
            if (!end_mark.seen) {
                end_mark.seen = true;
                end_mark.first = record.lines.position_of(offset);
            }
        } else if (end_mark.seen) {
            end_mark.text_follows = true;
        }
        if (c == L'\n') {
            if (after_cr && !held_cr) {
                carriage_return_record& pairs = record.line_ends_with_cr;
                if (pairs.count++ == 0)
                    pairs.first = record.lines.position_of(offset - 1);
            }
            after_cr = held_cr = false;
            record.lines.line_feed_at(offset);
            target_stream.put(CPM_CR);
            target_stream.put(CPM_LF);
            continue;
        }
        after_cr = c == L'\r';
        held_cr = after_cr && crlf_line_ends;
        if (held_cr)
            continue;
        auto value = static_cast<std::uint32_t>(c);
        int code = value < CPM_CODE_COUNT ? low_codes[value] : host_to_cpm_char(c);
        if (code < 0)
            note_untranslatable(offset, value);
        else
            target_stream.put(static_cast<unsigned char>(code));
    }
}

void convert_cpm_to_cpm() {
    for_each_cpm_text_span([](const unsigned char* text, std::size_t length, std::uint64_t) {
        target_stream.write(text, length);
    });
}

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
        const unsigned char* stop = nullptr;   // a code the table leaves out
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
        std::size_t blocks = std::min(length > 0 ? (length - 1) / BYTE_BLOCK_SIZE : 0, BLOCKS_AT_A_TIME);
        std::size_t block_number = 0;
        for (; block_number < blocks; ++block_number) {
            const unsigned char* block = text + block_number * BYTE_BLOCK_SIZE;
            byte_block_masks found;
            Bytes::classify(block, found);
            std::uint64_t lf_after =
                found.lf >> 1 | std::uint64_t{block[BYTE_BLOCK_SIZE] == CPM_LF} << 63;
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
            record.lines.line_feeds += line_feeds;
            record.lines.line_start =
                offset + last * BYTE_BLOCK_SIZE +
                static_cast<std::uint64_t>(highest_bit(line_feeds_of[last])) + 1;
        }
        return converted;
    }
};

void convert_cpm_to_host() {
    host_text_writer output(target_stream);
    cpm_to_host_state state{plan_host_output(), output, false};
    for_each_cpm_text_span(
        [&](const unsigned char* text, std::size_t length, std::uint64_t offset) {
            while (length > 0) {
                std::size_t chunk = length < CHUNK_SIZE ? length : CHUNK_SIZE;
                unsigned char* out = target_stream.reserve(RESERVED_PER_CHUNK);
                const host_output& line_feed = state.plan.line_feed;
                std::size_t i = 0;
                // Whole blocks where the table covers them; the byte loop
                // takes a block it does not, up to the next block boundary
                // (and past it while a CR is held back).
                std::size_t bytes_to = 0;
                while (i < chunk) {
                    if (state.plan.blocks_apply && !state.pending_cr && i >= bytes_to) {
                        std::size_t within = std::min(chunk, length - 1) + 1 - i;
                        std::size_t byte_loop_share;
                        i += at_vector_level<cpm_blocks>(text + i, within, offset + i, out,
                                                         state.plan, byte_loop_share);
                        bytes_to = i + byte_loop_share;
                        if (i == chunk)
                            break;
                    }
                    if (state.plan.plain_text_is_itself && !state.pending_cr) {
                        std::size_t run = copy_plain_text(text + i, chunk - i, out);
                        out += run;
                        i += run;
                        if (i == chunk)
                            break;
                    }
                    unsigned char byte = text[i];
                    const host_output& code = state.plan.codes[byte];
                    if (!state.pending_cr) {
                        if (code.kind == HOST_BYTES) {
                            std::memcpy(out, code.bytes, sizeof code.bytes);
                            out += code.length;
                            ++i;
                            continue;
                        }
                        // The usual line end, CR LF within the chunk, becomes LF.
                        if (byte == CPM_CR && i + 1 < chunk && text[i + 1] == CPM_LF &&
                            line_feed.kind == HOST_BYTES) {
                            std::memcpy(out, line_feed.bytes, sizeof line_feed.bytes);
                            out += line_feed.length;
                            record.lines.line_feed_at(offset + i + 1);
                            i += 2;
                            continue;
                        }
                    }
                    out = convert_special_byte(byte, offset + i, out, state);
                    ++i;
                }
                target_stream.commit(out);
                text += chunk;
                offset += chunk;
                length -= chunk;
            }
        });
    if (state.pending_cr)
        output.put(L'\r');
}

// Writes the end mark (with -z) and the ^Z fill up to a whole record.
void complete_cpm_target() {
    if (always_terminate)
        target_stream.put(CPM_END_MARK);
    // Once the target has refused bytes there is no record to complete; the
    // failure is reported by the error check.
    if (target_stream.failed())
        return;
    std::uint64_t cpm_bytes_written = target_stream.bytes_written();
    std::size_t fill = (CPM_RECORD_SIZE - cpm_bytes_written % CPM_RECORD_SIZE) % CPM_RECORD_SIZE;
    for (; fill > 0; --fill)
        target_stream.put(CPM_END_MARK);
}

// The place of the first untranslatable character, after the line that
// reports them: file:line:column, as compilers and grep give it.
void print_first_untranslatable(const char* source) {
    const untranslatable_record& found = record.untranslatable;
    char what[64];
    std::snprintf(what, sizeof what, source_is_host ? "U+%04lX" : "code 0x%02lX",
                  static_cast<unsigned long>(found.first_value));
    char count[48] = "";
    if (found.count > 1)
        std::snprintf(count, sizeof count, ", the first of %lu",
                      static_cast<unsigned long>(found.count));
    print_diagnostic("%s:%lu:%lu: %s%s", source, static_cast<unsigned long>(found.first.line),
                     static_cast<unsigned long>(found.first.column), what, count);
}

} // namespace

std::uint64_t untranslatable_count() {
    return record.untranslatable.count;
}

int run_conversion(const char* source, const char* write_name) {
    record = conversion_record{};
    if (source_is_host)
        target_is_host ? convert_host_to_host() : convert_host_to_cpm();
    else
        target_is_host ? convert_cpm_to_host() : convert_cpm_to_cpm();
    if (!target_is_host)
        complete_cpm_target();
    // Standard output refuses data only when it is written out, so the last
    // block goes out (and a comparison ends, which may still make the file
    // and write it) before the error indicators are looked at.
    target_stream.finish_comparison();

    int result = 0;
    if (source_stream.failed()) {
        print_diagnostic("read error on %s: %s", source,
                         std::strerror(source_stream.error_number()));
        const invalid_input_record& invalid = record.invalid_input;
        if (invalid.seen)
            print_diagnostic("%s:%lu:%lu: byte 0x%02X is not valid in this locale", source,
                             static_cast<unsigned long>(invalid.first.line),
                             static_cast<unsigned long>(invalid.first.column), invalid.byte);
        if (source_is_host)
            hint_at_ascii_locale(source_stream.error_number());
        result = -1;
    }
    if (target_stream.failed()) {
        print_diagnostic("write error on %s: %s", write_name,
                         std::strerror(target_stream.error_number()));
        const unencodable_record& unencodable = record.unencodable;
        if (unencodable.seen)
            print_diagnostic("%s:%lu:%lu: U+%04lX cannot be written in this locale", source,
                             static_cast<unsigned long>(unencodable.first.line),
                             static_cast<unsigned long>(unencodable.first.column),
                             static_cast<unsigned long>(unencodable.value));
        if (target_is_host)
            hint_at_ascii_locale(target_stream.error_number());
        result = -1;
    }
    if (record.untranslatable.count > 0 && !ignore_unconvertible) {
        print_diagnostic("%s%s contains untranslateable characters",
                         unconvertible_is_error ? "" : "warning: ", source);
        print_first_untranslatable(source);
        if (unconvertible_is_error)
            result = -1;
        // Once a run: the dropped characters may only want the configuration.
        static bool default_set_named = false;
        if (!unconvertible_is_error && default_set_in_use && !default_set_named) {
            default_set_named = true;
            print_diagnostic("no configuration file (.vorbix.conf here or in $HOME): the "
                             "built-in set vt52 is in use");
        }
    }
    const end_mark_record& end_mark = record.end_mark;
    if (end_mark.text_follows && !source_stream.failed() && !target_stream.failed())
        print_diagnostic("warning: %s:%lu:%lu: text goes on after a ^Z, where CP/M programs stop "
                         "reading",
                         source, static_cast<unsigned long>(end_mark.first.line),
                         static_cast<unsigned long>(end_mark.first.column));
    const carriage_return_record& pairs = record.line_ends_with_cr;
    if (pairs.count > 0 && !ignore_unconvertible && !source_stream.failed() &&
        !target_stream.failed())
        print_diagnostic("warning: %s:%lu:%lu: line ends in CR LF, which become CR CR LF "
                         "(use --crlf for DOS text)",
                         source,
                         static_cast<unsigned long>(pairs.first.line),
                         static_cast<unsigned long>(pairs.first.column));
    return result;
}
