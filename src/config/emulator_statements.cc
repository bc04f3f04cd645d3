// The emulator's statements: their grammar, bounds, redefinition rules and
// destinations. Most record into pending_values, which reaches settings only
// when the whole file is accepted; a few write settings directly.
#include "config/emulator_statements.h"

#include <climits>
#include <cstdlib>
#include <cwchar>

#include "config/config_diagnostic.h"
#include "config/lexer.h"
#include "config/settings.h"
#include "config/value_forms.h"

namespace {

constexpr std::uint64_t LARGEST_DELAY = INT_MAX;
constexpr std::uint64_t LARGEST_LOG_LEVEL = 5;
constexpr int SCREEN_DELAY_KEY = -2;

statement_result redefined(const char* what) {
    report_redefined(what);
    return STATEMENT_FAULTY;
}

// The drive number of the current token when it is a one-letter identifier
// naming a drive, else -1.
int current_drive_letter() {
    if (token_kind != TOKEN_IDENTIFIER || std::wcslen(token_text) != 1)
        return -1;
    return drive_index(token_text[0]);
}

// Scans the current value of "lines" or "columns"; the first accepted one
// stands, later ones are still checked.
statement_result parse_screen_dimension_statement(const char* name, int lower_bound, int& setting) {
    int value;
    if (parse_screen_dimension(name, lower_bound, value) != 0)
        return STATEMENT_FAULTY;
    if (setting == 0)
        setting = value;
    return STATEMENT_ACCEPTED;
}

} // namespace

statement_result parse_cpu_statement() {
    if (scan_expecting_word(L"delay", "delay") != 0)
        return STATEMENT_FAULTY;
    if (pending_values.cpu_delay_count != UNSET)
        return redefined("cpu delay");
    if (scan_expecting(TOKEN_EQUALS, "=") != 0 || scan_expecting(TOKEN_NUMBER, "number") != 0)
        return STATEMENT_FAULTY;
    if (token_number < 1 || token_number > LARGEST_DELAY) {
        print_config_diagnostic("cpu delay count out of range");
        return STATEMENT_FAULTY;
    }
    // Recorded at once: a fault further on leaves the count given, so that a
    // later cpu delay statement is a redefinition.
    pending_values.cpu_delay_count = static_cast<int>(token_number);
    if (scan_expecting(TOKEN_COMMA, ",") != 0 || scan_expecting(TOKEN_NUMBER, "number") != 0)
        return STATEMENT_FAULTY;
    if (token_number < 1 || token_number > LARGEST_DELAY) {
        print_config_diagnostic("cpu delay nanoseconds out of range");
        return STATEMENT_FAULTY;
    }
    int nanoseconds = static_cast<int>(token_number);
    next_token();
    pending_values.cpu_delay_nanoseconds = nanoseconds;
    return STATEMENT_ACCEPTED;
}

statement_result parse_console_statement() {
    if (pending_values.console_mode != UNSET)
        return redefined("console");
    if (scan_expecting(TOKEN_EQUALS, "=") != 0 || scan_expecting(TOKEN_IDENTIFIER, "keyword") != 0)
        return STATEMENT_FAULTY;
    int mode;
    if (is_word(L"full")) {
        mode = 1;
    } else if (is_word(L"line")) {
        mode = 0;
    } else {
        report_expected("full or line");
        return STATEMENT_FAULTY;
    }
    pending_values.console_mode = mode;
    next_token();
    return STATEMENT_ACCEPTED;
}

statement_result parse_close_statement() {
    if (scan_expecting_word(L"files", "files") != 0)
        return STATEMENT_FAULTY;
    if (pending_values.keep_files_open != UNSET)
        return redefined("close files");
    if (parse_boolean(pending_values.keep_files_open) != 0)
        return STATEMENT_FAULTY;
    // "close files = true" means the files are not kept open.
    pending_values.keep_files_open = !pending_values.keep_files_open;
    return STATEMENT_ACCEPTED;
}

statement_result parse_screen_statement() {
    if (scan_expecting_word(L"delay", "delay") != 0)
        return STATEMENT_FAULTY;
    if (pending_values.screen_delay != UNSET)
        return redefined("screen delay");
    if (scan_expecting(TOKEN_EQUALS, "=") != 0)
        return STATEMENT_FAULTY;
    next_token();
    int delay;
    if (token_kind == TOKEN_NUMBER) {
        if (token_number > LARGEST_DELAY) {
            print_config_diagnostic("screen delay out of range");
            return STATEMENT_FAULTY;
        }
        delay = static_cast<int>(token_number);
    } else if (is_word(L"key")) {
        delay = SCREEN_DELAY_KEY;
    } else {
        report_expected("number");
        return STATEMENT_FAULTY;
    }
    pending_values.screen_delay = delay;
    next_token();
    return STATEMENT_ACCEPTED;
}

statement_result parse_application_statement() {
    if (scan_expecting_word(L"cursor", "cursor") != 0)
        return STATEMENT_FAULTY;
    if (pending_values.application_cursor != UNSET)
        return redefined("application cursor");
    if (parse_boolean(pending_values.application_cursor) != 0)
        return STATEMENT_FAULTY;
    return STATEMENT_ACCEPTED;
}

statement_result parse_exchange_statement() {
    if (scan_expecting_word(L"delete", "delete") != 0)
        return STATEMENT_FAULTY;
    // No redefinition test: the last accepted value stands.
    if (parse_boolean(settings.exchange_delete) != 0)
        return STATEMENT_FAULTY;
    return STATEMENT_ACCEPTED;
}

statement_result parse_default_statement() {
    if (scan_expecting_word(L"drive", "drive") != 0 || scan_expecting(TOKEN_EQUALS, "=") != 0)
        return STATEMENT_FAULTY;
    next_token();
    // A second default drive ends the whole parse, before its letter is
    // looked at.
    if (pending_values.default_drive != UNSET) {
        report_redefined("default drive");
        return STATEMENT_FATAL;
    }
    int drive = current_drive_letter();
    if (drive < 0) {
        report_invalid("drive name");
        return STATEMENT_FAULTY;
    }
    pending_values.default_drive = drive;
    next_token();
    return STATEMENT_ACCEPTED;
}

statement_result parse_drive_statement() {
    next_token();
    int drive = current_drive_letter();
    if (drive < 0) {
        report_invalid("drive name");
        return STATEMENT_FAULTY;
    }
    if (settings.drive_paths[drive])
        return redefined("drive");
    if (scan_expecting(TOKEN_EQUALS, "=") != 0)
        return STATEMENT_FAULTY;
    next_token();
    if (is_word(L"readonly")) {
        settings.drive_read_only[drive] = 1;
        if (scan_expecting(TOKEN_COMMA, ",") != 0)
            return STATEMENT_FAULTY;
        next_token();
    }
    if (token_kind != TOKEN_STRING) {
        report_expected("string");
        return STATEMENT_FAULTY;
    }
    if (wide_to_file_name(token_string, settings.drive_paths[drive]) != 0) {
        report_invalid("file name");
        return STATEMENT_FAULTY;
    }
    next_token();
    return STATEMENT_ACCEPTED;
}

statement_result parse_logfile_statement() {
    if (scan_expecting(TOKEN_EQUALS, "=") != 0 || scan_expecting(TOKEN_STRING, "string") != 0)
        return STATEMENT_FAULTY;
    // No redefinition test: the last accepted name stands, and the one it
    // replaces is released.
    char* replaced = settings.log_file;
    int converted = wide_to_file_name(token_string, settings.log_file);
    std::free(replaced);
    if (converted != 0) {
        report_invalid("file name");
        return STATEMENT_FAULTY;
    }
    next_token();
    return STATEMENT_ACCEPTED;
}

statement_result parse_loglevel_statement() {
    if (scan_expecting(TOKEN_EQUALS, "=") != 0 || scan_expecting(TOKEN_NUMBER, "number") != 0)
        return STATEMENT_FAULTY;
    // The range is tested before the redefinition.
    if (token_number > LARGEST_LOG_LEVEL) {
        print_config_diagnostic("log level out of range");
        return STATEMENT_FAULTY;
    }
    if (pending_values.log_level != UNSET)
        return redefined("log level");
    int level = static_cast<int>(token_number);
    next_token();
    pending_values.log_level = level;
    return STATEMENT_ACCEPTED;
}

statement_result parse_lines_statement() {
    return parse_screen_dimension_statement("line", 5, settings.lines);
}

statement_result parse_columns_statement() {
    return parse_screen_dimension_statement("column", 20, settings.columns);
}

statement_result parse_printer_statement() {
    if (parse_device_settings("printer", settings.printer_file, settings.printer_mode) != 0)
        return STATEMENT_FAULTY;
    return STATEMENT_ACCEPTED;
}

statement_result parse_punch_statement() {
    if (parse_device_settings("punch", settings.punch_file, settings.punch_mode) != 0)
        return STATEMENT_FAULTY;
    return STATEMENT_ACCEPTED;
}

statement_result parse_reader_statement() {
    if (parse_device_settings("reader", settings.reader_file, settings.reader_mode) != 0)
        return STATEMENT_FAULTY;
    return STATEMENT_ACCEPTED;
}

statement_result parse_dump_statement() {
    if (parse_dump_options(pending_values.dump_options) != 0)
        return STATEMENT_FAULTY;
    return STATEMENT_ACCEPTED;
}

statement_result parse_colors_statement() {
    if (parse_colors(pending_values.colors_enabled, pending_values.colors_foreground,
                     pending_values.colors_background) != 0)
        return STATEMENT_FAULTY;
    return STATEMENT_ACCEPTED;
}
