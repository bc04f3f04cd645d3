// The settings records and the merge at the end of an accepted file.
#include "config/settings.h"

#include <cstdlib>
#include <initializer_list>

namespace {

void merge_field(int& destination, int pending) {
    if (destination == UNSET)
        destination = pending;
}

} // namespace

pending_record pending_values;
settings_record settings;

void clear_pending_values() {
    pending_values = pending_record{};
}

void merge_pending_values() {
    merge_field(settings.console_mode, pending_values.console_mode);
    merge_field(settings.application_cursor, pending_values.application_cursor);
    merge_field(settings.keep_files_open, pending_values.keep_files_open);
    merge_field(settings.screen_delay, pending_values.screen_delay);
    merge_field(settings.log_level, pending_values.log_level);
    merge_field(settings.default_drive, pending_values.default_drive);
    if (settings.cpu_delay_count == UNSET) {
        settings.cpu_delay_count = pending_values.cpu_delay_count;
        settings.cpu_delay_nanoseconds = pending_values.cpu_delay_nanoseconds;
    }
    merge_field(settings.colors_enabled, pending_values.colors_enabled);
    merge_field(settings.colors_foreground, pending_values.colors_foreground);
    merge_field(settings.colors_background, pending_values.colors_background);
    if (settings.dump_options == 0)
        settings.dump_options = pending_values.dump_options;
}

void reset_settings_for_testing() {
    for (char* text :
         {settings.printer_file, settings.punch_file, settings.reader_file, settings.log_file})
        std::free(text);
    for (char* path : settings.drive_paths)
        std::free(path);
    settings = settings_record{};
}
