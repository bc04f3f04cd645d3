// What a check says about a CP/M source beyond its conversion: the marks of
// text copied between the two worlds without conversion, counted over the
// raw bytes as they are read: line ends without CR (LF alone, before the
// first ^Z), host text copied onto the drive as it was; and records after
// the one that holds the first ^Z that still hold something other than ^Z,
// text that no CP/M program reads and that a conversion drops. (The marks of
// host text, CR LF and text after a ^Z, are the engine's.)
#pragma once

#include <cstddef>
#include <cstdint>

class source_survey {
  public:
    /// Takes the next bytes of the source; the signature of a byte_reader
    /// observer.
    static void take(void* survey, const unsigned char* bytes, std::size_t count);
    /// Counts a last record that the end of the file cut short.
    void finish();

    std::uint64_t line_ends_without_cr() const { return line_ends_without_cr_; }
    std::uint64_t records_after_end_mark() const { return records_after_end_mark_; }

  private:
    void take_cpm_text(const unsigned char* bytes, std::size_t count);
    void take_cpm_fill(const unsigned char* bytes, std::size_t count);

    bool end_mark_seen_ = false;
    unsigned char previous_ = 0;  ///< the byte before these, 0 at the start
    std::uint64_t offset_ = 0;    ///< bytes taken so far
    std::uint64_t fill_from_ = 0; ///< CP/M: where the records after the ^Z's begin
    std::uint64_t line_ends_without_cr_ = 0;
    std::uint64_t records_after_end_mark_ = 0;
    /// After a CP/M ^Z: the record being looked at holds text (not only ^Z).
    bool record_has_text_ = false;
};
