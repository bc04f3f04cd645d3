// Host text through the locale's multibyte encoding, done by hand over the
// byte streams. The C library's wide streams would transliterate characters
// that the locale cannot encode and drop a truncated sequence at the end of
// the file, both without an error; here both are errors (EILSEQ).
#pragma once

#include <cwchar>

#include "common/byte_stream.h"
#include "common/utf8.h"

/// Decodes host text from a byte_reader, one character per call.
class host_text_reader {
  public:
    explicit host_text_reader(byte_reader& bytes);

    /// Whether the locale is UTF-8 and no sequence is open, so that
    /// valid_utf8_prefix may judge the bytes that follow.
    bool at_utf8_boundary() const { return utf8_ && !in_sequence_; }

    /// Reads the next character into c. Returns false at the end of the input
    /// or on a failure; an invalid sequence, or one cut off by the end of the
    /// input, sets the reader's error indicator with EILSEQ.
    bool next(wchar_t& c) {
        // UTF-8 keeps no shift state between characters, so a well-formed
        // sequence decodes on its own unless an earlier one is still open.
        if (utf8_ && !in_sequence_ && bytes_.available() > 0) {
            std::size_t length = decode_utf8(bytes_.data(), bytes_.available(), c);
            if (length > 0) {
                bytes_.consume(length);
                return true;
            }
        }
        return next_decoded(c);
    }

  private:
    bool next_decoded(wchar_t& c);

    byte_reader& bytes_;
    std::mbstate_t state_;
    bool utf8_;
    bool in_sequence_ = false;
};

/// Encodes host characters into a byte_writer.
class host_text_writer {
  public:
    explicit host_text_writer(byte_writer& bytes);

    /// Writes c in the locale's encoding. A character that the encoding
    /// cannot represent is not written and sets the error indicator with
    /// EILSEQ; the writing goes on.
    void put(wchar_t c) {
        if (utf8_) {
            unsigned char* out = bytes_.reserve(4);
            std::size_t length = encode_utf8(c, out);
            if (length > 0) {
                bytes_.commit(out + length);
                return;
            }
        }
        put_encoded(c);
    }

  private:
    void put_encoded(wchar_t c);

    byte_writer& bytes_;
    std::mbstate_t state_;
    bool utf8_;
};
