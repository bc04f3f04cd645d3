// Fuzzes the conversion engine in all four directions against a reference: a
// plain conversion, one byte or one character at a time, written the obvious
// way from the rules of the two formats and sharing none of the engine's
// speed code (plans, chunks, SIMD runs, the reverse index). Every input must
// give the same bytes and the same messages from both, or the fuzzer stops.
//
// Input: one byte of options (bits 0-1 the direction, 2 -z, 3 -i, 4 -e,
// 5 -a, 6 the C locale instead of UTF-8, 7 a Latin-1 locale instead of
// UTF-8, where one is installed and converts: C.ISO-8859-1, as CI makes it),
// one byte choosing the tables (bits 0-1 the primary table, 2-3 the
// alternate: the identity "ascii", "latin1", "vorbix", or a table whose
// entries are not themselves; bit 4 a substitute "?"; bits 5-6 the vector
// layer: the processor's best, the plain one, the baseline SSE2 or NEON, or
// AVX2 where the processor has it), then the source.
#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <unistd.h>
#include <vector>

#include "charset/charset_tables.h"
#include "common/byte_classes.h"
#include "common/diagnostic.h"
#include "convert/engine.h"
#include "convert/run_state.h"
#include "fuzz_support.h"

namespace {

const char* const PROGRAM = "conversion_fuzzer";
const char* const SOURCE = "fuzz-source";
const char* const TARGET = "fuzz-target";

// A table whose printable codes each stand for the next character, and a few
// codes above 127 for characters far away: no code is itself.
std::string rotated_table(const char* prefix) {
    std::string text;
    for (int code = 32; code < 126; ++code) {
        char escaped[8];
        int next = code + 1;
        if (next == '"' || next == '\\')
            std::snprintf(escaped, sizeof escaped, "\\%c", next);
        else
            std::snprintf(escaped, sizeof escaped, "%c", next);
        text += std::string(prefix) + "char " + std::to_string(code) + " = \"" + escaped + "\"\n";
    }
    text += std::string(prefix) + "char 126 = \"\xe2\x82\xac\"\n";
    text += std::string(prefix) + "char 200 = \"\xf0\x9f\x98\x80\"\n";
    text += std::string(prefix) + "char 201 = \"\"\n";
    return text;
}

std::string table_statements(unsigned choice, const char* prefix) {
    static const char* const SETS[] = {"ascii", "latin1", "vorbix"};
    if (choice < 3)
        return std::string(prefix) + "charset = " + SETS[choice] + "\n";
    return rotated_table(prefix) + prefix + "charset = ascii\n";
}

// The reference: the tables read entry by entry.
int reference_to_host(int code) {
    if (code < 32 || code == 127)
        return code;
    const wchar_t* entry = (use_alt_charset ? alt_charset_table : charset_table)[code];
    if (!entry)
        entry = unprintable_char;
    return entry ? static_cast<int>(entry[0]) : -1;
}

int reference_to_cpm(std::uint32_t c) {
    if (c < 32 || c == 127)
        return static_cast<int>(c);
    for (int code = 32; code < 256; ++code) {
        const wchar_t* entry = (use_alt_charset ? alt_charset_table : charset_table)[code];
        if (code != 127 && entry && static_cast<std::uint32_t>(entry[0]) == c)
            return code;
    }
    return -1;
}

// The locale's encoding of host text: ASCII (the C locale), UTF-8, or a
// single-byte set in which every byte is the character of its value.
enum class host_encoding_of_run { ASCII, UTF8, LATIN1 };
host_encoding_of_run encoding;

// One character of host text at bytes[at]: its length, or 0 when the bytes
// there are not a character (invalid, or cut off by the end).
std::size_t reference_decode(const std::string& bytes, std::size_t at, std::uint32_t& c) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[at + i]); };
    std::size_t left = bytes.size() - at;
    if (byte(0) < 0x80 || encoding == host_encoding_of_run::LATIN1) {
        c = byte(0);
        return 1;
    }
    if (encoding == host_encoding_of_run::ASCII)
        return 0;
    std::size_t length;
    std::uint32_t lowest;
    if ((byte(0) & 0xE0) == 0xC0) {
        length = 2, lowest = 0x80, c = byte(0) & 0x1F;
    } else if ((byte(0) & 0xF0) == 0xE0) {
        length = 3, lowest = 0x800, c = byte(0) & 0x0F;
    } else if ((byte(0) & 0xF8) == 0xF0) {
        length = 4, lowest = 0x10000, c = byte(0) & 0x07;
    } else {
        return 0;
    }
    if (left < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (byte(i) & 0x3F);
    }
    if (c < lowest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return length;
}

// Appends c in the locale's encoding; false when the encoding cannot hold it.
bool reference_encode(std::uint32_t c, std::string& out) {
    if (c < 0x80 || (c < 0x100 && encoding == host_encoding_of_run::LATIN1)) {
        out += static_cast<char>(c);
        return true;
    }
    if (encoding != host_encoding_of_run::UTF8 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return false;
    if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (c & 0x3F));
    return true;
}

struct reference_result {
    std::string output;
    bool read_error = false;
    unsigned long invalid_line = 0, invalid_column = 0;
    unsigned invalid_byte = 0;
    bool write_error = false;
    unsigned long untranslatable = 0;
    unsigned long first_line = 0, first_column = 0;
    std::uint32_t first_value = 0;
    bool end_mark_seen = false, text_after_end_mark = false;
    unsigned long end_mark_line = 0, end_mark_column = 0;
    unsigned long line_ends_with_cr = 0, cr_line = 0, cr_column = 0;
    unsigned long unencodable_line = 0, unencodable_column = 0, unencodable_value = 0;
};

reference_result reference_conversion(const std::string& input) {
    reference_result r;
    unsigned long line = 1, column = 1;
    auto untranslatable = [&](std::uint32_t value) {
        if (r.untranslatable++ == 0) {
            r.first_line = line;
            r.first_column = column;
            r.first_value = value;
        }
    };
    if (source_is_host) {
        std::vector<std::uint32_t> text;
        unsigned long read_line = 1, read_column = 1;
        for (std::size_t at = 0; at < input.size();) {
            std::uint32_t c;
            std::size_t length = reference_decode(input, at, c);
            if (length == 0) {
                r.read_error = true;
                r.invalid_line = read_line;
                r.invalid_column = read_column;
                r.invalid_byte = static_cast<unsigned char>(input[at]);
                break;
            }
            text.push_back(c);
            at += length;
            if (c == '\n')
                ++read_line, read_column = 1;
            else
                ++read_column;
        }
        std::uint32_t previous = 0;
        for (std::uint32_t c : text) {
            if (target_is_host) {
                reference_encode(c, r.output);
                continue;
            }
            if (c == 0x1A && !r.end_mark_seen) {
                r.end_mark_seen = true;
                r.end_mark_line = line;
                r.end_mark_column = column;
            } else if (c != 0x1A && r.end_mark_seen) {
                r.text_after_end_mark = true;
            }
            if (c == '\n' && previous == '\r' && r.line_ends_with_cr++ == 0) {
                r.cr_line = line;
                r.cr_column = column - 1;
            }
            previous = c;
            if (c == '\n') {
                r.output += "\r\n";
            } else {
                int code = reference_to_cpm(c);
                if (code < 0)
                    untranslatable(c);
                else
                    r.output += static_cast<char>(code);
            }
            if (c == '\n')
                ++line, column = 1;
            else
                ++column;
        }
    } else {
        std::string text = input.substr(0, input.find('\x1a'));
        bool pending_cr = false;
        for (unsigned char byte : text) {
            if (!target_is_host) {
                r.output += static_cast<char>(byte);
                continue;
            }
            if (byte == '\n') {
                r.output += '\n';
                pending_cr = false;
            } else {
                if (pending_cr)
                    r.output += '\r';
                pending_cr = byte == '\r';
                if (!pending_cr) {
                    int c = reference_to_host(byte);
                    if (c < 0)
                        untranslatable(byte);
                    else if (!reference_encode(static_cast<std::uint32_t>(c), r.output) &&
                             !r.write_error) {
                        r.write_error = true;
                        r.unencodable_line = line;
                        r.unencodable_column = column;
                        r.unencodable_value = static_cast<unsigned long>(c);
                    }
                }
            }
            if (byte == '\n')
                ++line, column = 1;
            else
                ++column;
        }
        if (pending_cr)
            r.output += '\r';
    }
    if (!target_is_host) {
        if (always_terminate)
            r.output += '\x1a';
        while (r.output.size() % 128 != 0)
            r.output += '\x1a';
    }
    return r;
}

// The messages the reference run gives, in the engine's order.
std::string reference_messages(const reference_result& r) {
    std::string messages;
    auto line = [&](const std::string& text) {
        messages += std::string(PROGRAM) + ": " + text + "\n";
    };
    // A failure's line, then the place of its cause in the source.
    auto failure = [&](const char* what, const char* name, unsigned long at_line,
                       unsigned long at_column, const std::string& cause) {
        line(std::string(what) + " error on " + name + ": " + std::strerror(EILSEQ));
        line(std::string(SOURCE) + ":" + std::to_string(at_line) + ":" + std::to_string(at_column) +
             ": " + cause);
    };
    char cause[64];
    if (r.read_error) {
        std::snprintf(cause, sizeof cause, "byte 0x%02X is not valid in this locale",
                      r.invalid_byte);
        failure("read", SOURCE, r.invalid_line, r.invalid_column, cause);
    }
    if (r.write_error) {
        std::snprintf(cause, sizeof cause, "U+%04lX cannot be written in this locale",
                      r.unencodable_value);
        failure("write", TARGET, r.unencodable_line, r.unencodable_column, cause);
    }
    if (r.untranslatable > 0 && !ignore_unconvertible) {
        line(std::string(unconvertible_is_error ? "" : "warning: ") + SOURCE +
             " contains untranslateable characters");
        char place[128];
        std::snprintf(place, sizeof place,
                      source_is_host ? "%s:%lu:%lu: U+%04lX" : "%s:%lu:%lu: code 0x%02lX", SOURCE,
                      r.first_line, r.first_column, static_cast<unsigned long>(r.first_value));
        std::string text = place;
        if (r.untranslatable > 1)
            text += ", the first of " + std::to_string(r.untranslatable);
        line(text);
    }
    if (r.text_after_end_mark && !r.read_error && !r.write_error) {
        char warning[160];
        std::snprintf(
            warning, sizeof warning,
            "warning: %s:%lu:%lu: text goes on after a ^Z, where CP/M programs stop reading",
            SOURCE, r.end_mark_line, r.end_mark_column);
        line(warning);
    }
    if (r.line_ends_with_cr > 0 && !ignore_unconvertible && !r.read_error && !r.write_error) {
        char warning[160];
        std::snprintf(warning, sizeof warning,
                      "warning: %s:%lu:%lu: line ends in CR LF, which become CR CR LF "
                      "(use --crlf for DOS text)",
                      SOURCE, r.cr_line, r.cr_column);
        line(warning);
    }
    return messages;
}

// The engine's messages, without the once-a-process hint about an ASCII
// locale, which depends on the inputs before this one.
std::string without_hint(std::string messages) {
    const std::string hint = std::string(PROGRAM) +
                             ": the locale's character set is ASCII: set LC_ALL to the text's "
                             "locale, such as C.UTF-8\n";
    std::size_t at = messages.find(hint);
    if (at != std::string::npos)
        messages.erase(at, hint.size());
    return messages;
}

// Sets the Latin-1 locale where one is installed and its converter is at
// hand: a C library without its conversion modules (as under qemu with a
// cross build's C library) knows the locale's name yet takes no byte above
// 0x7F.
bool latin1_locale_converts() {
    if (!std::setlocale(LC_CTYPE, "C.ISO-8859-1"))
        return false;
    std::mbstate_t state{};
    wchar_t c = 0;
    return std::mbrtowc(&c, "\xE9", 1, &state) == 1 && c == 0xE9;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    set_program_name(PROGRAM);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    unsigned options = data[0];
    unsigned tables = data[1];
    std::string input(reinterpret_cast<const char*>(data + 2), size - 2);

    reset_all_state();
    const vector_level LEVELS[] = {vector_level::PLAIN, vector_level::PLAIN, vector_level::SSE2,
                                   vector_level::AVX2};
    unsigned level = (tables >> 5) & 3;
    if ((level == 0 || !use_vector_level(LEVELS[level])) && !use_vector_level(vector_level::NEON) &&
        !use_vector_level(vector_level::AVX2))
        use_vector_level(vector_level::SSE2);
    // The configuration is read in UTF-8; the conversion in the run's locale.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    std::string configuration =
        table_statements(tables & 3, "") + table_statements((tables >> 2) & 3, "alt ");
    if (tables & 0x10)
        configuration += "unprintable = \"?\"\n";
    require(parse_configuration_text(reinterpret_cast<const std::uint8_t*>(configuration.data()),
                                     configuration.size()) == 0);
    encoding = host_encoding_of_run::UTF8;
    if (options & 0x40) {
        encoding = host_encoding_of_run::ASCII;
        std::setlocale(LC_CTYPE, "C");
    } else if ((options & 0x80) && latin1_locale_converts()) {
        encoding = host_encoding_of_run::LATIN1;
    } else {
        std::setlocale(LC_CTYPE, "C.UTF-8");
    }
    source_is_host = options & 1;
    target_is_host = options & 2;
    always_terminate = options & 4;
    ignore_unconvertible = options & 8;
    unconvertible_is_error = (options & 0x10) && !ignore_unconvertible;
    use_alt_charset = (options & 0x20) ? 1 : 0;

    int source_fd = memory_file(data + 2, size - 2);
    int target_fd = memory_file(nullptr, 0);
    int messages_fd = memory_file(nullptr, 0);
    source_stream.attach(source_fd);
    target_stream.attach(target_fd);
    int saved_stderr = dup(STDERR_FILENO);
    dup2(messages_fd, STDERR_FILENO);
    int result = run_conversion(SOURCE, TARGET);
    dup2(saved_stderr, STDERR_FILENO);
    close(saved_stderr);
    std::string output = file_content(target_fd);
    std::string messages = without_hint(file_content(messages_fd));
    close(source_fd);
    close(target_fd);
    close(messages_fd);

    reference_result expected = reference_conversion(input);
    require(output == expected.output);
    require(messages == reference_messages(expected));
    bool failed = expected.read_error || expected.write_error ||
                  (expected.untranslatable > 0 && unconvertible_is_error);
    require((result != 0) == failed);
    return 0;
}
