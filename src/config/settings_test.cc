// The settings records: {} is the unset record, and the merge carries each
// pending value into settings, field by field.
#include "config/settings.h"

#include <gtest/gtest.h>

namespace {

struct int_field {
    const char* name;
    int settings_record::*in_settings;
    int pending_record::*in_pending; ///< null: written directly, never merged
    int unset;
};

const int_field INT_FIELDS[] = {
    {"console_mode", &settings_record::console_mode, &pending_record::console_mode, -1},
    {"application_cursor", &settings_record::application_cursor,
     &pending_record::application_cursor, -1},
    {"exchange_delete", &settings_record::exchange_delete, nullptr, -1},
    {"screen_delay", &settings_record::screen_delay, &pending_record::screen_delay, -1},
    {"printer_mode", &settings_record::printer_mode, nullptr, -1},
    {"punch_mode", &settings_record::punch_mode, nullptr, -1},
    {"reader_mode", &settings_record::reader_mode, nullptr, -1},
    {"log_level", &settings_record::log_level, &pending_record::log_level, -1},
    {"default_drive", &settings_record::default_drive, &pending_record::default_drive, -1},
    {"keep_files_open", &settings_record::keep_files_open, &pending_record::keep_files_open, -1},
    {"cpu_delay_count", &settings_record::cpu_delay_count, &pending_record::cpu_delay_count, -1},
    {"cpu_delay_nanoseconds", &settings_record::cpu_delay_nanoseconds,
     &pending_record::cpu_delay_nanoseconds, -1},
    {"colors_enabled", &settings_record::colors_enabled, &pending_record::colors_enabled, -1},
    {"colors_foreground", &settings_record::colors_foreground, &pending_record::colors_foreground,
     -1},
    {"colors_background", &settings_record::colors_background, &pending_record::colors_background,
     -1},
    {"lines", &settings_record::lines, nullptr, 0},
    {"columns", &settings_record::columns, nullptr, 0},
    {"dump_options", &settings_record::dump_options, &pending_record::dump_options, 0},
};

TEST(Settings, EmptyRecordsStayUnsetThroughTheMerge) {
    reset_settings_for_testing();
    clear_pending_values();
    EXPECT_EQ(pending_values.charset_column, UNSET);
    EXPECT_EQ(pending_values.alt_charset_column, UNSET);
    merge_pending_values();
    for (const int_field& field : INT_FIELDS) {
        EXPECT_EQ(settings.*field.in_settings, field.unset) << field.name;
        if (field.in_pending) {
            EXPECT_EQ(pending_values.*field.in_pending, field.unset) << field.name;
        }
    }
    for (char* text :
         {settings.printer_file, settings.punch_file, settings.reader_file, settings.log_file})
        EXPECT_EQ(text, nullptr);
    for (int drive = 0; drive < DRIVE_COUNT; ++drive) {
        EXPECT_EQ(settings.drive_paths[drive], nullptr);
        EXPECT_EQ(settings.drive_read_only[drive], 0);
    }
}

TEST(Settings, MergeCarriesEveryPendingValue) {
    reset_settings_for_testing();
    clear_pending_values();
    int value = 100;
    for (const int_field& field : INT_FIELDS)
        if (field.in_pending)
            pending_values.*field.in_pending = ++value;
    merge_pending_values();
    value = 100;
    for (const int_field& field : INT_FIELDS)
        if (field.in_pending) {
            EXPECT_EQ(settings.*field.in_settings, ++value) << field.name;
        }
    reset_settings_for_testing();
}

} // namespace
