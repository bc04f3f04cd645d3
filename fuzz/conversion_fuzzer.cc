// Fuzzes the conversion engine in all four directions: arbitrary bytes as the
// source, through the real loops, with tables from an arbitrary configuration.
//
// Input: one byte of options (bits 0-1 the direction, 2 -z, 3 -i, 4 -e,
// 5 -a, 6 the C locale instead of UTF-8), one byte n, n bytes of
// configuration text, then the source.
#include <clocale>
#include <cstring>
#include <unistd.h>

#include "charset/charset_tables.h"
#include "common/diagnostic.h"
#include "convert/engine.h"
#include "convert/run_state.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    set_program_name("conversion_fuzzer");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    unsigned options = data[0];
    std::size_t config_size = data[1];
    if (size < 2 + config_size)
        return 0;
    const std::uint8_t* source = data + 2 + config_size;
    std::size_t source_size = size - 2 - config_size;

    reset_all_state();
    std::setlocale(LC_CTYPE, options & 0x40 ? "C" : "C.UTF-8");
    if (config_size > 0) {
        if (parse_configuration_text(data + 2, config_size) != 0)
            return 0;
    } else {
        fill_charset_table(charset_table, CHARSET_VT52);
        fill_charset_table(alt_charset_table, CHARSET_VT52);
    }
    source_is_host = options & 1;
    target_is_host = options & 2;
    always_terminate = options & 4;
    ignore_unconvertible = options & 8;
    unconvertible_is_error = (options & 0x10) && !ignore_unconvertible;
    use_alt_charset = (options & 0x20) ? 1 : 0;
    source_name = "fuzz-source";
    target_name = "fuzz-target";

    int source_fd = memory_file(source, source_size);
    int target_fd = memory_file(nullptr, 0);
    source_stream.attach(source_fd);
    target_stream.attach(target_fd);
    run_conversion(target_name);
    std::string output = file_content(target_fd);
    close(source_fd);
    close(target_fd);

    std::string input(reinterpret_cast<const char*>(source), source_size);
    std::string text = input.substr(0, input.find('\x1a'));
    if (!target_is_host) {
        require(output.size() % CPM_RECORD_SIZE == 0);
        require(!always_terminate || output.find('\x1a') != std::string::npos);
    }
    if (!source_is_host && !target_is_host) {
        require(output.compare(0, text.size(), text) == 0);
        require(output.find_first_not_of('\x1a', text.size()) == std::string::npos);
    }
    if (source_is_host && target_is_host && !source_stream.failed())
        require(output == input);
    // Without a configuration no code stands for CR: every CR written comes
    // from a CR of the text.
    if (!source_is_host && target_is_host && config_size == 0)
        require(output.find('\r') == std::string::npos || text.find('\r') != std::string::npos);
    return 0;
}
