// Host text through the locale's multibyte encoding, done by hand over the
// byte streams. The C library's wide streams would transliterate characters
// that the locale cannot encode and drop a truncated sequence at the end of
// the file, both without an error; here both are errors (EILSEQ).
//
// Two encodings are decided here rather than by the C library, whose rules
// differ from host to host: ASCII, in any locale whose character set is ASCII
// (the C and POSIX locales of every C library among them), and UTF-8 as RFC
// 3629 defines it. Every other encoding goes through mbrtowc and wcrtomb.
#pragma once

#include <cerrno>
#include <cwchar>

#include "common/byte_stream.h"
#include "common/utf8.h"

enum class host_encoding { ASCII, UTF8, OTHER };

/// The encoding of the locale's character type as it is set now.
host_encoding current_host_encoding();

/// Encodes c as encoding has it into out (room for MB_LEN_MAX bytes),
/// carrying state; returns the length, or (size_t)-1 when the encoding cannot
/// represent c.
std::size_t encode_host_character(host_encoding encoding, wchar_t c, char* out,
                                  std::mbstate_t& state);

/// Follows a message about host text, or the configuration file, that failed
/// with error_number: in an ASCII locale an invalid or unencodable character
/// most likely means that the locale is not the text's, and the first such
/// failure of the run says so.
void hint_at_ascii_locale(int error_number);

/// Decodes host text from a byte_reader, one character per call.
class host_text_reader {
  public:
    explicit host_text_reader(byte_reader& bytes);

    /// Whether the locale is UTF-8, so that valid_utf8_prefix may judge the
    /// bytes that follow: no sequence is ever left half read.
    bool at_utf8_boundary() const { return encoding_ == host_encoding::UTF8; }

    /// Reads the next character into c. Returns false at the end of the input
    /// or on a failure; an invalid sequence, or one cut off by the end of the
    /// input, sets the reader's error indicator with EILSEQ.
    bool next(wchar_t& c) {
        if (encoding_ != host_encoding::OTHER && bytes_.available() > 0) {
            const unsigned char* bytes = bytes_.data();
            if (bytes[0] < 0x80) {
                c = bytes[0];
                bytes_.consume(1);
                return true;
            }
            if (encoding_ == host_encoding::UTF8) {
                std::size_t length = decode_utf8(bytes, bytes_.available(), c);
                if (length > 0) {
                    bytes_.consume(length);
                    return true;
                }
            }
        }
        return next_decoded(c);
    }

    /// After next() failed with EILSEQ: the first byte of the invalid
    /// sequence, or of the one the end of the input cut off.
    unsigned char invalid_byte() const { return invalid_byte_; }

  private:
    bool next_decoded(wchar_t& c);
    bool next_utf8(wchar_t& c);
    bool next_multibyte(wchar_t& c);
    void fail_at(unsigned char first);

    byte_reader& bytes_;
    std::mbstate_t state_;
    host_encoding encoding_;
    /// The first byte of the sequence that mbrtowc holds in its state.
    unsigned char sequence_start_ = 0;
    unsigned char invalid_byte_ = 0;
};

/// Encodes host characters into a byte_writer.
class host_text_writer {
  public:
    explicit host_text_writer(byte_writer& bytes);

    /// Writes c in the locale's encoding. A character that the encoding
    /// cannot represent is not written and sets the error indicator with
    /// EILSEQ; the writing goes on.
    void put(wchar_t c) {
        if (encoding_ == host_encoding::UTF8) {
            unsigned char* out = bytes_.reserve(4);
            std::size_t length = encode_utf8(c, out);
            if (length > 0)
                bytes_.commit(out + length);
            else
                bytes_.fail(EILSEQ);
            return;
        }
        put_encoded(c);
    }

  private:
    void put_encoded(wchar_t c);

    byte_writer& bytes_;
    std::mbstate_t state_;
    host_encoding encoding_;
};
