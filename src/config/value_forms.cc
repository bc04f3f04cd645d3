// The value forms. Some write part of their value before they fail (the dump
// bits read so far, the colors-enabled and foreground values); a later
// statement of the same kind then finds its setting given already.
#include "config/value_forms.h"

#include <cstdint>
#include <cstdlib>
#include <cwchar>

#include "common/checked_alloc.h"
#include "config/character_classes.h"
#include "config/config_diagnostic.h"
#include "config/lexer.h"

namespace {

constexpr int LARGEST_SCREEN_DIMENSION = 95;
constexpr std::uint64_t LARGEST_COLOR = 7;

constexpr int DUMP_NONE = 0x01;
constexpr int DUMP_EXIT = 0x04;
constexpr int DUMP_ERROR = 0x08;
constexpr int DUMP_ALL = 0x20;
// What "all" stands for: startup, exit and signal (error is not part of it).
constexpr int DUMP_ALL_EXPANDED = 0x36;

struct dump_option {
    const wchar_t* name;
    int bit;
};

constexpr dump_option DUMP_OPTIONS[] = {
    {L"none", DUMP_NONE},   {L"startup", 0x02}, {L"exit", DUMP_EXIT},
    {L"error", DUMP_ERROR}, {L"signal", 0x10},  {L"all", DUMP_ALL},
};

// Scans and requires a color number, 0 to 7; stores it in slot.
int scan_color(int& slot, const char* what) {
    next_token();
    if (token_kind != TOKEN_NUMBER || token_number > LARGEST_COLOR) {
        report_expected(what);
        return -1;
    }
    slot = static_cast<int>(token_number);
    return 0;
}

} // namespace

bool is_word(const wchar_t* word) {
    return token_kind == TOKEN_IDENTIFIER && std::wcscmp(token_text, word) == 0;
}

int scan_expecting(int kind, const char* what) {
    next_token();
    if (token_kind == kind)
        return 0;
    report_expected(what);
    return -1;
}

int scan_expecting_word(const wchar_t* word, const char* what) {
    next_token();
    if (is_word(word))
        return 0;
    report_expected(what);
    return -1;
}

int parse_boolean(int& slot) {
    if (scan_expecting(TOKEN_EQUALS, "=") != 0)
        return -1;
    next_token();
    int value;
    if (is_word(L"true")) {
        value = 1;
    } else if (is_word(L"false")) {
        value = 0;
    } else {
        print_config_diagnostic("boolean value expected");
        return -1;
    }
    slot = value;
    next_token();
    return 0;
}

int drive_index(wchar_t letter) {
    static const wchar_t DRIVE_LETTERS[] = L"abcdefghijklmnop";
    const wchar_t* found = std::wcschr(DRIVE_LETTERS, lower_case_character(letter));
    return found && *found ? static_cast<int>(found - DRIVE_LETTERS) : -1;
}

int wide_to_file_name(const wchar_t* text, char*& slot) {
    // The encoded length is asked for first: a character may take more bytes
    // than any fixed allowance in some encodings, shift sequences included.
    std::size_t length = std::wcstombs(nullptr, text, 0);
    if (length == static_cast<std::size_t>(-1)) {
        slot = nullptr;
        return -1;
    }
    char* name = static_cast<char*>(checked_alloc(length + 1));
    std::wcstombs(name, text, length + 1);
    name[length] = '\0';
    slot = name;
    return 0;
}

int parse_screen_dimension(const char* name, int lower_bound, int& slot) {
    if (scan_expecting(TOKEN_EQUALS, "=") != 0)
        return -1;
    next_token();
    if (token_kind == TOKEN_NUMBER) {
        // The whole 64-bit value is tested: a huge number is out of range,
        // never cut down to fit.
        if (token_number < static_cast<std::uint64_t>(lower_bound) ||
            token_number > LARGEST_SCREEN_DIMENSION) {
            print_config_diagnostic("%s number out of range (%d..%d)", name, lower_bound,
                                    LARGEST_SCREEN_DIMENSION);
            return -1;
        }
        slot = static_cast<int>(token_number);
    } else if (is_word(L"current")) {
        slot = -1;
    } else {
        report_expected("number");
        return -1;
    }
    next_token();
    return 0;
}

int parse_device_settings(const char* device, char*& file_slot, int& mode_slot) {
    if (scan_expecting(TOKEN_IDENTIFIER, "keyword") != 0)
        return -1;
    if (is_word(L"file")) {
        if (file_slot) {
            print_config_diagnostic("%s file redefined", device);
            return -1;
        }
        if (scan_expecting(TOKEN_EQUALS, "=") != 0 || scan_expecting(TOKEN_STRING, "string") != 0)
            return -1;
        if (wide_to_file_name(token_string, file_slot) != 0) {
            report_invalid("file name");
            return -1;
        }
    } else if (is_word(L"mode")) {
        if (mode_slot != -1) {
            print_config_diagnostic("%s mode redefined", device);
            return -1;
        }
        if (scan_expecting(TOKEN_EQUALS, "=") != 0 ||
            scan_expecting(TOKEN_IDENTIFIER, "keyword") != 0)
            return -1;
        if (is_word(L"text")) {
            mode_slot = 0;
        } else if (is_word(L"raw")) {
            mode_slot = 1;
        } else {
            report_expected("text or raw");
            return -1;
        }
    } else {
        report_expected("file or mode");
        return -1;
    }
    next_token();
    return 0;
}

int parse_dump_options(int& slot) {
    if (scan_expecting(TOKEN_EQUALS, "=") != 0)
        return -1;
    // Tested only after the "=", so that a dump statement without it gets
    // the "= expected" message even when the options are given already.
    if (slot != 0) {
        print_config_diagnostic("dump options redefined");
        return -1;
    }
    do {
        next_token();
        const dump_option* found = nullptr;
        for (const dump_option& option : DUMP_OPTIONS)
            if (is_word(option.name))
                found = &option;
        if (!found) {
            report_expected("dump option");
            return -1;
        }
        slot |= found->bit;
        next_token();
    } while (token_kind == TOKEN_COMMA);

    bool all_with_others = (slot & DUMP_ALL) && slot != DUMP_ALL;
    bool none_with_others = (slot & DUMP_NONE) && slot != DUMP_NONE;
    bool exit_and_error = (slot & DUMP_EXIT) && (slot & DUMP_ERROR);
    if (all_with_others || none_with_others || exit_and_error) {
        print_config_diagnostic("illegal dump option combination");
        return -1;
    }
    if (slot == DUMP_ALL)
        slot = DUMP_ALL_EXPANDED;
    return 0;
}

int parse_colors(int& enabled, int& foreground, int& background) {
    if (enabled != -1) {
        print_config_diagnostic("color options redefined");
        return -1;
    }
    if (parse_boolean(enabled) != 0)
        return -1;
    if (token_kind != TOKEN_COMMA)
        return 0;
    if (scan_color(foreground, "foreground color number (0..7)") != 0 ||
        scan_expecting(TOKEN_COMMA, ",") != 0 ||
        scan_color(background, "background color number (0..7)") != 0)
        return -1;
    next_token();
    return 0;
}
