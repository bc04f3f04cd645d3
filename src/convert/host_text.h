// Host text through the locale's multibyte encoding, done by hand over the
// byte streams. The C library's wide streams would transliterate characters
// that the locale cannot encode and drop a truncated sequence at the end of
// the file, both without an error; here both are errors (EILSEQ).
#pragma once

#include <cwchar>

#include "convert/byte_stream.h"

/// Decodes host text from a byte_reader, one character per call.
class host_text_reader {
  public:
    explicit host_text_reader(byte_reader& bytes);

    /// Reads the next character into c. Returns false at the end of the input
    /// or on a failure; an invalid sequence, or one cut off by the end of the
    /// input, sets the reader's error indicator with EILSEQ.
    bool next(wchar_t& c);

  private:
    byte_reader& bytes_;
    std::mbstate_t state_;
};

/// Encodes host characters into a byte_writer.
class host_text_writer {
  public:
    explicit host_text_writer(byte_writer& bytes);

    /// Writes c in the locale's encoding. A character that the encoding
    /// cannot represent is not written and sets the error indicator with
    /// EILSEQ; the writing goes on.
    void put(wchar_t c);

  private:
    byte_writer& bytes_;
    std::mbstate_t state_;
};
