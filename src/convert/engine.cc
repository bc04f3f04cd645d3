// The four conversion loops, character by character around the block loops,
// and the report after them.
//
// CP/M text is one byte per character with CR LF line ends; its text ends at
// the first ^Z or at the end of the file, and a CP/M file is filled with ^Z
// up to a whole number of 128-byte records. Host text is the locale's
// multibyte encoding with LF line ends and no end mark.
#include "convert/engine.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "charset/charset_tables.h"
#include "common/ascii_run.h"
#include "common/byte_classes.h"
#include "common/diagnostic.h"
#include "common/host_text.h"
#include "config/loader.h"
#include "convert/block_loops.h"
#include "convert/conversion_record.h"
#include "convert/host_output_plan.h"
#include "convert/run_state.h"

namespace {

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
        this_conversion.lines.line_feed_at(offset);
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
// are left with the top bit clear. Those top bits, shifted down to ones, are
// summed by one multiplication into the top byte (a population count would
// be a call into the compiler's library on the baseline x86-64, which has
// no such instruction).
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
        count += ((~nonzero & ~LOW_SEVEN) >> 7) * 0x0101010101010101u >> 56;
    }
    for (; at < length; ++at)
        count += text[at] == '\n';
    return count;
}

// A copy keeps count of lines only for the place of a read error: the line
// feeds of each span, and the characters after the last of them. It notes
// the marks of CP/M text in the host's, for a check.
void convert_host_to_host() {
    host_text_reader input(source_stream);
    host_text_writer output(target_stream);
    line_tracker& lines = this_conversion.lines;
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
            note_host_text_marks(text, length);
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
        // For the marks a character is one byte: itself below 0x80, and
        // above it one that is none of CR, LF and ^Z.
        auto mark = static_cast<unsigned char>(c < 0x80 ? c : 0x80);
        note_host_text_marks(&mark, 1);
    }
}

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
    end_mark_record& end_mark = this_conversion.end_mark;
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
                end_mark.first = this_conversion.lines.position_of(offset);
            }
        } else if (end_mark.seen) {
            end_mark.text_follows = true;
        }
        if (c == L'\n') {
            if (after_cr) {
                carriage_return_record& pairs = this_conversion.line_ends_with_cr;
                if (pairs.count++ == 0)
                    pairs.first = this_conversion.lines.position_of(offset - 1);
            }
            after_cr = held_cr = false;
            this_conversion.lines.line_feed_at(offset);
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
                            this_conversion.lines.line_feed_at(offset + i + 1);
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
    const untranslatable_record& found = this_conversion.untranslatable;
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

// A stream's failure: "read error" or "write error" on name, then, where
// the character that caused it is known, its place in the source and the
// cause, and the hint at the locale when the host's side failed.
void report_stream_failure(const char* what, const char* name, int error_number, const char* source,
                           const text_position* place, const char* cause, bool host_side) {
    print_diagnostic("%s error on %s: %s", what, name, std::strerror(error_number));
    if (place)
        print_diagnostic("%s:%lu:%lu: %s", source, static_cast<unsigned long>(place->line),
                         static_cast<unsigned long>(place->column), cause);
    if (host_side)
        hint_at_ascii_locale(error_number);
}

} // namespace

std::uint64_t untranslatable_count() {
    return this_conversion.untranslatable.count;
}

host_text_marks host_text_marks_found() {
    return {this_conversion.line_ends_with_cr.count, this_conversion.end_mark.text_follows};
}

int run_conversion(const char* source, const char* write_name) {
    this_conversion = conversion_record{};
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
        const invalid_input_record& invalid = this_conversion.invalid_input;
        char cause[64];
        std::snprintf(cause, sizeof cause, "byte 0x%02X is not valid in this locale", invalid.byte);
        report_stream_failure("read", source, source_stream.error_number(), source,
                              invalid.seen ? &invalid.first : nullptr, cause, source_is_host);
        result = -1;
    }
    if (target_stream.failed()) {
        const unencodable_record& unencodable = this_conversion.unencodable;
        char cause[64];
        std::snprintf(cause, sizeof cause, "U+%04lX cannot be written in this locale",
                      static_cast<unsigned long>(unencodable.value));
        report_stream_failure("write", write_name, target_stream.error_number(), source,
                              unencodable.seen ? &unencodable.first : nullptr, cause,
                              target_is_host);
        result = -1;
    }
    if (this_conversion.untranslatable.count > 0 && !ignore_unconvertible) {
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
    const end_mark_record& end_mark = this_conversion.end_mark;
    bool warn_of_marks = !target_is_host && !source_stream.failed() && !target_stream.failed();
    if (end_mark.text_follows && warn_of_marks)
        print_diagnostic("warning: %s:%lu:%lu: text goes on after a ^Z, where CP/M programs stop "
                         "reading",
                         source, static_cast<unsigned long>(end_mark.first.line),
                         static_cast<unsigned long>(end_mark.first.column));
    const carriage_return_record& pairs = this_conversion.line_ends_with_cr;
    if (pairs.count > 0 && !crlf_line_ends && !ignore_unconvertible && warn_of_marks)
        print_diagnostic("warning: %s:%lu:%lu: line ends in CR LF, which become CR CR LF "
                         "(use --crlf for DOS text)",
                         source, static_cast<unsigned long>(pairs.first.line),
                         static_cast<unsigned long>(pairs.first.column));
    return result;
}
