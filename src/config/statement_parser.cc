// The line loop, the dispatch of statements by keyword, and the end of the
// parse with its merge and table fill.
#include "config/statement_parser.h"

#include <cstring>
#include <cwchar>

#include "charset/charset_tables.h"
#include "common/diagnostic.h"
#include "common/host_text.h"
#include "config/charset_statements.h"
#include "config/config_diagnostic.h"
#include "config/emulator_statements.h"
#include "config/lexer.h"
#include "config/loader.h"
#include "config/settings.h"

wchar_t line_buffer[LINE_BUFFER_SIZE];
int config_line_number;

namespace {

struct statement_entry {
    const wchar_t* keyword;
    statement_result (*parse)();
};

// The statements without the "alt" prefix, by their first keyword.
constexpr statement_entry STATEMENTS[] = {
    {L"cpu", parse_cpu_statement},
    {L"console", parse_console_statement},
    {L"unprintable", parse_unprintable_statement},
    {L"close", parse_close_statement},
    {L"screen", parse_screen_statement},
    {L"application", parse_application_statement},
    {L"exchange", parse_exchange_statement},
    {L"default", parse_default_statement},
    {L"drive", parse_drive_statement},
    {L"logfile", parse_logfile_statement},
    {L"loglevel", parse_loglevel_statement},
    {L"lines", parse_lines_statement},
    {L"columns", parse_columns_statement},
    {L"printer", parse_printer_statement},
    {L"punch", parse_punch_statement},
    {L"reader", parse_reader_statement},
    {L"dump", parse_dump_statement},
    {L"colors", parse_colors_statement},
};

// Reads one line into line_buffer as fgetws would: up to and including its
// newline, at most LINE_BUFFER_SIZE - 1 characters. Returns how many were
// read: 0 when nothing was, or when the stream failed (a partial line is
// dropped).
std::size_t read_line(host_text_reader& input) {
    std::size_t count = 0;
    wchar_t c;
    while (count < LINE_BUFFER_SIZE - 1 && input.next(c)) {
        line_buffer[count++] = c;
        if (c == L'\n')
            break;
    }
    line_buffer[count] = 0;
    return config_stream->failed() ? 0 : count;
}

statement_result dispatch_statement() {
    if (token_kind != TOKEN_IDENTIFIER) {
        report_expected("keyword");
        return STATEMENT_FAULTY;
    }
    bool alternate = std::wcscmp(token_text, L"alt") == 0;
    if (alternate) {
        next_token();
        if (token_kind != TOKEN_IDENTIFIER) {
            report_expected("keyword");
            return STATEMENT_FAULTY;
        }
    }
    if (std::wcscmp(token_text, L"charset") == 0)
        return parse_charset_statement(alternate);
    if (std::wcscmp(token_text, L"char") == 0)
        return parse_char_statement(alternate);
    if (alternate) {
        print_config_diagnostic("keyword alt unexpected");
        return STATEMENT_FAULTY;
    }
    for (const statement_entry& statement : STATEMENTS) {
        if (std::wcscmp(token_text, statement.keyword) == 0)
            return statement.parse();
    }
    // No statement begins with this keyword.
    print_config_diagnostic("syntax error");
    return STATEMENT_FAULTY;
}

int column_or_default(int column) {
    return column == -1 ? CHARSET_VT52 : column;
}

int end_parse(bool parse_failed) {
    if (config_stream->failed()) {
        print_diagnostic("error reading %s: %s", config_path,
                         std::strerror(config_stream->error_number()));
        hint_at_ascii_locale(config_stream->error_number());
        return -1;
    }
    if (parse_failed)
        return -1;
    merge_pending_values();
    fill_charset_table(charset_table, column_or_default(pending_values.charset_column));
    fill_charset_table(alt_charset_table, column_or_default(pending_values.alt_charset_column));
    return 0;
}

// After the messages of a rejected line of length characters (its newline
// taken off): the causes that ordinary editors leave behind, in this order.
void hint_at_rejected_line(std::size_t length, bool no_line_end) {
    if (length > 0 && line_buffer[length - 1] == L'\r')
        print_config_hint(HINT_DOS_LINE_ENDS);
    if (no_line_end)
        print_config_hint(HINT_NO_LAST_LINE_END);
    if (config_line_number == 1 && line_buffer[0] == 0xFEFF)
        print_config_hint(HINT_BYTE_ORDER_MARK);
}

int parse_lines() {
    clear_pending_values();
    bool parse_failed = false;
    host_text_reader input(*config_stream);
    for (;;) {
        ++config_line_number;
        std::size_t count = read_line(input);
        if (count == 0)
            return end_parse(parse_failed);
        std::size_t length = std::wcslen(line_buffer);
        // A line that fills the buffer, a last line without its newline and
        // a line with a null character all end the parse here.
        if (length == 0 || line_buffer[length - 1] != L'\n') {
            print_config_diagnostic("line too long");
            bool cut_by_end = line_buffer[count - 1] != L'\n' && count < LINE_BUFFER_SIZE - 1;
            hint_at_rejected_line(length, cut_by_end);
            return -1;
        }
        line_buffer[length - 1] = 0;
        --length;
        line_cursor = line_buffer;
        next_token();
        if (token_kind == TOKEN_END)
            continue;
        statement_result result = dispatch_statement();
        if (result == STATEMENT_FATAL)
            return -1;
        if (result == STATEMENT_ACCEPTED && token_kind != TOKEN_END) {
            print_config_diagnostic("syntax error");
            result = STATEMENT_FAULTY;
        }
        if (result == STATEMENT_FAULTY) {
            parse_failed = true;
            hint_at_rejected_line(length, false);
        }
    }
}

} // namespace

int parse_configuration() {
    reset_config_hints();
    int result = parse_lines();
    discard_token();
    return result;
}

void reset_statement_parser_for_testing() {
    config_line_number = 0;
}
