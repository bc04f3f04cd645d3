// Host text decoding and encoding: ASCII and UTF-8 by the rules above, any
// other encoding through mbrtowc and wcrtomb, carrying the shift state across
// block boundaries.
#include "common/host_text.h"

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <langinfo.h>
#include <strings.h>

#include "common/diagnostic.h"

namespace {

bool hint_given;

bool is_ascii_code(wchar_t c) {
    return static_cast<std::uint32_t>(c) < 0x80;
}

} // namespace

host_encoding current_host_encoding() {
    const char* codeset = nl_langinfo(CODESET);
    if (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0)
        return host_encoding::UTF8;
    // The names the C libraries give ASCII; and the C and POSIX locales,
    // which some C libraries give a character set of their own making.
    for (const char* ascii : {"ANSI_X3.4-1968", "US-ASCII", "ASCII", "646"})
        if (strcasecmp(codeset, ascii) == 0)
            return host_encoding::ASCII;
    const char* name = std::setlocale(LC_CTYPE, nullptr);
    if (name && (std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0))
        return host_encoding::ASCII;
    return host_encoding::OTHER;
}

std::size_t encode_host_character(host_encoding encoding, wchar_t c, char* out,
                                  std::mbstate_t& state) {
    switch (encoding) {
    case host_encoding::ASCII:
        if (!is_ascii_code(c))
            return static_cast<std::size_t>(-1);
        out[0] = static_cast<char>(c);
        return 1;
    case host_encoding::UTF8: {
        std::size_t length = encode_utf8(c, reinterpret_cast<unsigned char*>(out));
        return length > 0 ? length : static_cast<std::size_t>(-1);
    }
    case host_encoding::OTHER:
        break;
    }
    std::size_t length = std::wcrtomb(out, c, &state);
    // wcrtomb leaves the shift state undefined after a failure.
    if (length == static_cast<std::size_t>(-1))
        std::memset(&state, 0, sizeof state);
    return length;
}

void hint_at_ascii_locale(int error_number) {
    if (error_number != EILSEQ || hint_given || current_host_encoding() != host_encoding::ASCII)
        return;
    hint_given = true;
    print_diagnostic("the locale's character set is ASCII: set LC_ALL to the text's locale, "
                     "such as C.UTF-8");
}

host_text_reader::host_text_reader(byte_reader& bytes)
    : bytes_(bytes), state_(), encoding_(current_host_encoding()) {}

void host_text_reader::fail_at(unsigned char first) {
    invalid_byte_ = first;
    bytes_.fail(EILSEQ);
}

bool host_text_reader::next_decoded(wchar_t& c) {
    switch (encoding_) {
    case host_encoding::ASCII:
        // next() takes every byte below 0x80 itself.
        if (bytes_.available() > 0 || bytes_.fill()) {
            if (bytes_.data()[0] < 0x80)
                return next(c);
            fail_at(bytes_.data()[0]);
        }
        return false;
    case host_encoding::UTF8:
        return next_utf8(c);
    case host_encoding::OTHER:
        break;
    }
    return next_multibyte(c);
}

// A sequence that decode_utf8 declined: either cut off by the end of the
// buffered bytes, and then completed by reading more, or invalid.
bool host_text_reader::next_utf8(wchar_t& c) {
    for (;;) {
        std::size_t available = bytes_.available();
        if (available > 0) {
            std::size_t length = decode_utf8(bytes_.data(), available, c);
            if (length > 0) {
                bytes_.consume(length);
                return true;
            }
            if (!is_utf8_prefix(bytes_.data(), available)) {
                fail_at(bytes_.data()[0]);
                return false;
            }
        }
        unsigned char first = available > 0 ? bytes_.data()[0] : 0;
        if (!bytes_.fill()) {
            // A sequence cut off by the end of the input.
            if (!bytes_.failed() && available > 0)
                fail_at(first);
            return false;
        }
    }
}

bool host_text_reader::next_multibyte(wchar_t& c) {
    for (;;) {
        std::size_t available = bytes_.available();
        if (available > 0) {
            const char* bytes = reinterpret_cast<const char*>(bytes_.data());
            bool starts_sequence = std::mbsinit(&state_) != 0;
            std::size_t used = std::mbrtowc(&c, bytes, available, &state_);
            if (used == static_cast<std::size_t>(-1)) {
                fail_at(starts_sequence ? bytes_.data()[0] : sequence_start_);
                return false;
            }
            if (used == static_cast<std::size_t>(-2)) {
                // The sequence goes on past the buffered bytes; mbrtowc keeps
                // its beginning in the state, and its first byte is kept here.
                if (starts_sequence)
                    sequence_start_ = bytes_.data()[0];
                bytes_.consume(available);
            } else {
                // A null character is one byte long in the encodings of
                // every host we run on.
                bytes_.consume(used == 0 ? 1 : used);
                return true;
            }
        }
        if (!bytes_.fill()) {
            if (!bytes_.failed() && !std::mbsinit(&state_))
                fail_at(sequence_start_);
            return false;
        }
    }
}

host_text_writer::host_text_writer(byte_writer& bytes)
    : bytes_(bytes), state_(), encoding_(current_host_encoding()) {}

void host_text_writer::put_encoded(wchar_t c) {
    char encoded[MB_LEN_MAX];
    std::size_t length = encode_host_character(encoding_, c, encoded, state_);
    if (length == static_cast<std::size_t>(-1)) {
        bytes_.fail(EILSEQ);
        return;
    }
    bytes_.write(reinterpret_cast<const unsigned char*>(encoded), length);
}
