// Configuration messages with their "%s(%d): " prefix.
#include "config/config_diagnostic.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "common/diagnostic.h"
#include "config/loader.h"
#include "config/statement_parser.h"

void print_config_diagnostic(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list measuring;
    va_copy(measuring, arguments);
    int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    std::vector<char> message(static_cast<std::size_t>(length > 0 ? length : 0) + 1);
    std::vsnprintf(message.data(), message.size(), format, arguments);
    va_end(arguments);
    print_diagnostic("%s(%d): %s", config_path, config_line_number, message.data());
}

void report_expected(const char* what) {
    print_config_diagnostic("%s expected", what);
}

void report_redefined(const char* what) {
    print_config_diagnostic("%s redefined", what);
}

void report_invalid(const char* what) {
    print_config_diagnostic("invalid %s", what);
}

namespace {

constexpr const char* HINTS[] = {
    "the line ends in CR: the file has DOS line ends",
    "the last line has no line end",
    "the file begins with a byte order mark",
    "the built-in sets are vt52, ascii, latin1 and vorbix",
};

bool hint_given[sizeof HINTS / sizeof HINTS[0]];

} // namespace

void print_config_hint(config_hint hint) {
    if (hint_given[hint])
        return;
    hint_given[hint] = true;
    print_config_diagnostic("%s", HINTS[hint]);
}

void reset_config_hints() {
    for (bool& given : hint_given)
        given = false;
}
