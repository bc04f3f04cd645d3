// Multibyte decoding and encoding with mbrtowc and wcrtomb, carrying the
// shift state across block boundaries.
#include "common/host_text.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <langinfo.h>

namespace {

// Whether the locale's character type is UTF-8, whose fast path needs no
// shift state.
bool locale_is_utf8() {
    return std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
}

} // namespace

host_text_reader::host_text_reader(byte_reader& bytes)
    : bytes_(bytes), state_(), utf8_(locale_is_utf8()) {}

bool host_text_reader::next_decoded(wchar_t& c) {
    for (;;) {
        std::size_t available = bytes_.available();
        if (available > 0) {
            const char* bytes = reinterpret_cast<const char*>(bytes_.data());
            std::size_t used = std::mbrtowc(&c, bytes, available, &state_);
            if (used == static_cast<std::size_t>(-1)) {
                bytes_.fail(EILSEQ);
                return false;
            }
            if (used == static_cast<std::size_t>(-2)) {
                // The sequence goes on past the buffered bytes; mbrtowc keeps
                // its beginning in the state.
                bytes_.consume(available);
                in_sequence_ = true;
            } else {
                // A null character is one byte long in the encodings of
                // every host we run on.
                bytes_.consume(used == 0 ? 1 : used);
                in_sequence_ = false;
                return true;
            }
        }
        if (!bytes_.fill()) {
            if (!bytes_.failed() && !std::mbsinit(&state_))
                bytes_.fail(EILSEQ);
            return false;
        }
    }
}

host_text_writer::host_text_writer(byte_writer& bytes)
    : bytes_(bytes), state_(), utf8_(locale_is_utf8()) {}

void host_text_writer::put_encoded(wchar_t c) {
    char encoded[MB_LEN_MAX];
    std::size_t length = std::wcrtomb(encoded, c, &state_);
    if (length == static_cast<std::size_t>(-1)) {
        // wcrtomb leaves the shift state undefined after a failure.
        std::memset(&state_, 0, sizeof state_);
        bytes_.fail(EILSEQ);
        return;
    }
    bytes_.write(reinterpret_cast<const unsigned char*>(encoded), length);
}
