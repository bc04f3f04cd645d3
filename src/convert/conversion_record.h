// The engine's record of one conversion: where the source's lines begin,
// and the first of each event worth a message (a character without a
// translation, one the locale cannot write, a sequence it cannot read, text
// after a ^Z, a CR LF in host text), with how many there were. The loops
// note events as they meet them; the report after the conversion reads
// them.
#pragma once

#include <cstddef>
#include <cstdint>

class host_text_reader;

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
// worth a warning, and a word in a check. first is kept on the way to CP/M
// only, where the warning gives it.
struct end_mark_record {
    bool seen = false;
    bool text_follows = false;
    text_position first;
};

// CR LF in host text, CP/M or DOS text copied as it was: on the way to CP/M
// it becomes CR CR LF, worth a warning at the first; a check counts them in
// either direction. first is kept on the way to CP/M only.
struct carriage_return_record {
    std::uint64_t count = 0;
    text_position first;
    bool after_cr = false; ///< the host text taken so far ends in a CR
};

// The first character that the locale's encoding cannot hold: the write
// error's cause, and where it stands.
struct unencodable_record {
    bool seen = false;
    text_position first;
    std::uint32_t value = 0;
};

// The first sequence of host text that is not valid in the locale: the read
// error's cause, and where it stands.
struct invalid_input_record {
    bool seen = false;
    text_position first;
    unsigned char byte = 0;
};

// The engine's record of one conversion, cleared at its start so that nothing
// carries over from one file to the next.
struct conversion_record {
    line_tracker lines;
    untranslatable_record untranslatable;
    unencodable_record unencodable;
    invalid_input_record invalid_input;
    end_mark_record end_mark;
    carriage_return_record line_ends_with_cr;
};

/// The conversion under way, or the last one.
extern conversion_record this_conversion;

/// Counts a character without a translation at offset (its CP/M code, or
/// its host character), keeping the place of the first.
void note_untranslatable(std::uint64_t offset, std::uint32_t value);

/// Once the host text's reader has stopped: where, if it stopped at a
/// sequence the locale does not hold. offset is that sequence's character
/// offset.
void note_end_of_host_text(const host_text_reader& input, std::uint64_t offset);

/// Keeps the place of the first character that the locale's encoding
/// cannot hold.
void note_unencodable(std::uint64_t offset, std::uint32_t value);

/// Notes the CR LF pairs and the text after a ^Z in length bytes of host
/// text, whole characters, that follow those noted before: the marks that a
/// copy of host text gives a check. Byte by byte is exact in every encoding
/// in which CR, LF and ^Z are single bytes that no other character contains
/// (ASCII, UTF-8, the ISO 8859 sets and their kin).
void note_host_text_marks(const unsigned char* text, std::size_t length);
