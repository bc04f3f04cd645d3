// Fuzzes the configuration language: arbitrary bytes as a configuration file,
// through the real lexer, statement parser and table fill. An accepted file
// must leave both tables complete, with the reverse index agreeing with the
// plain search for every character the tables hold.
#include <clocale>

#include "charset/charset_tables.h"
#include "common/diagnostic.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    set_program_name("config_fuzzer");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    reset_all_state();
    if (parse_configuration_text(data, size) != 0)
        return 0;
    for (int alternate = 0; alternate <= 1; ++alternate) {
        use_alt_charset = alternate;
        const charset_entries& table = alternate ? alt_charset_table : charset_table;
        for (int code = 0; code < CPM_CODE_COUNT; ++code) {
            int c = cpm_to_host_char(code);
            if (c <= 0 || !table[code])
                continue;
            int back = host_to_cpm_char(static_cast<wchar_t>(c));
            require(back == host_to_cpm_char_by_search(static_cast<wchar_t>(c)));
            // A control character is always its own code, whatever the
            // tables hold; any other comes back as the lowest code that holds
            // it, never above this one.
            if (c < 32 || c == 127)
                require(back == c);
            else
                require(back >= 0 && (back <= code || code < 32 || code == 127));
        }
    }
    return 0;
}
