// Resets and in-memory files for the fuzz targets.
#include "fuzz_support.h"

#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

#include "charset/charset_tables.h"
#include "config/lexer.h"
#include "config/loader.h"
#include "config/settings.h"
#include "config/statement_parser.h"
#include "convert/engine.h"
#include "convert/run_state.h"

void reset_all_state() {
    reset_charsets_for_testing();
    reset_settings_for_testing();
    reset_statement_parser_for_testing();
    reset_run_state_for_testing();
    discard_token();
}

int memory_file(const std::uint8_t* data, std::size_t size) {
#ifdef __linux__
    int fd = memfd_create("fuzz", 0);
#else
    char path[] = "/tmp/vorbix-fuzz-XXXXXX";
    int fd = mkstemp(path);
    if (fd >= 0)
        unlink(path);
#endif
    require(fd >= 0);
    std::size_t done = 0;
    while (done < size) {
        ssize_t count = write(fd, data + done, size - done);
        require(count > 0);
        done += static_cast<std::size_t>(count);
    }
    require(lseek(fd, 0, SEEK_SET) == 0);
    return fd;
}

std::string file_content(int fd) {
    std::string content;
    require(lseek(fd, 0, SEEK_SET) == 0);
    char buffer[65536];
    ssize_t count;
    while ((count = read(fd, buffer, sizeof buffer)) > 0)
        content.append(buffer, static_cast<std::size_t>(count));
    return content;
}

int parse_configuration_text(const std::uint8_t* text, std::size_t size) {
    static byte_reader reader;
    int fd = memory_file(text, size);
    reader.attach(fd);
    config_stream = &reader;
    config_path = "fuzz.conf";
    int result = parse_configuration();
    config_stream = nullptr;
    close(fd);
    return result;
}
