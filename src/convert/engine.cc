// The four conversion loops and the checks after them.
//
// CP/M text is one byte per character with CR LF line ends; its text ends at
// the first ^Z or at the end of the file, and a CP/M file is filled with ^Z
// up to a whole number of 128-byte records. Host text is the locale's
// multibyte encoding with LF line ends and no end mark.
#include "convert/engine.h"

#include <cstdint>
#include <cstring>

#include "charset/charset_tables.h"
#include "common/diagnostic.h"
#include "common/host_text.h"
#include "convert/run_state.h"

namespace {

constexpr unsigned char CPM_CR = 0x0D;
constexpr unsigned char CPM_LF = 0x0A;

bool untranslatable_seen;

// Hands each buffered span of CP/M text before the first ^Z to handle_span,
// and stops reading at that ^Z: what follows it is never looked at.
template <typename Handler> void for_each_cpm_text_span(Handler handle_span) {
    while (source_stream.fill()) {
        const unsigned char* text = source_stream.data();
        std::size_t length = source_stream.available();
        const void* end_mark = std::memchr(text, CPM_END_MARK, length);
        if (end_mark)
            length = static_cast<std::size_t>(static_cast<const unsigned char*>(end_mark) - text);
        handle_span(text, length);
        source_stream.consume(length);
        if (end_mark)
            return;
    }
}

} // namespace

void convert_host_to_host() {
    host_text_reader input(source_stream);
    host_text_writer output(target_stream);
    wchar_t c;
    while (input.next(c))
        output.put(c);
}

void convert_host_to_cpm() {
    host_text_reader input(source_stream);
    wchar_t c;
    while (input.next(c)) {
        if (c == L'\n') {
            target_stream.put(CPM_CR);
            target_stream.put(CPM_LF);
            continue;
        }
        int code = host_to_cpm_char(c);
        if (code < 0)
            untranslatable_seen = true;
        else
            target_stream.put(static_cast<unsigned char>(code));
    }
}

void convert_cpm_to_cpm() {
    for_each_cpm_text_span([](const unsigned char* text, std::size_t length) {
        target_stream.write(text, length);
    });
}

void convert_cpm_to_host() {
    host_text_writer output(target_stream);
    // A CR is held back until the next byte shows whether it begins a CR LF
    // line end (written as LF) or stands alone (written as CR).
    bool pending_cr = false;
    for_each_cpm_text_span([&](const unsigned char* text, std::size_t length) {
        for (std::size_t i = 0; i < length; ++i) {
            unsigned char byte = text[i];
            if (byte == CPM_LF) {
                output.put(L'\n');
                pending_cr = false;
                continue;
            }
            if (pending_cr) {
                output.put(L'\r');
                pending_cr = false;
            }
            if (byte == CPM_CR) {
                pending_cr = true;
                continue;
            }
            int c = cpm_to_host_char(byte);
            if (c < 0)
                untranslatable_seen = true;
            else
                output.put(static_cast<wchar_t>(c));
        }
    });
    if (pending_cr)
        output.put(L'\r');
}

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

int run_conversion(const char* write_name) {
    if (source_is_host)
        target_is_host ? convert_host_to_host() : convert_host_to_cpm();
    else
        target_is_host ? convert_cpm_to_host() : convert_cpm_to_cpm();
    if (!target_is_host)
        complete_cpm_target();
    // Standard output refuses data only when it is written out, so the last
    // block goes out before the error indicators are looked at.
    target_stream.flush();

    int result = 0;
    if (source_stream.failed()) {
        print_diagnostic("read error on %s: %s", source_name,
                         std::strerror(source_stream.error_number()));
        result = -1;
    }
    if (target_stream.failed()) {
        print_diagnostic("write error on %s: %s", write_name,
                         std::strerror(target_stream.error_number()));
        result = -1;
    }
    if (untranslatable_seen && !ignore_unconvertible) {
        print_diagnostic("%s%s contains untranslateable characters",
                         unconvertible_is_error ? "" : "warning: ", source_name);
        if (unconvertible_is_error)
            result = -1;
    }
    return result;
}

void reset_engine_for_testing() {
    untranslatable_seen = false;
}
