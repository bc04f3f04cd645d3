// Storage for the run state.
#include "convert/run_state.h"

const char* source_name;
bool source_is_stdin;
bool source_is_host;
byte_reader source_stream;

const char* target_name;
bool target_is_stdout;
bool target_is_host;
byte_writer target_stream;

namespace {
bool standard_descriptor_closed[3];
}

bool was_closed_at_start(int fd) {
    return fd >= 0 && fd <= 2 && standard_descriptor_closed[fd];
}

void set_closed_at_start(int fd) {
    standard_descriptor_closed[fd] = true;
}

bool convert_binary_files;
bool check_only;
bool quiet;
bool crlf_line_ends;
bool update_only;
bool keep_dates;
bool verbose;

bool always_terminate;
bool ignore_unconvertible;
bool unconvertible_is_error;

void reset_run_state_for_testing() {
    source_name = target_name = nullptr;
    source_is_stdin = source_is_host = false;
    target_is_stdout = target_is_host = false;
    always_terminate = ignore_unconvertible = unconvertible_is_error = false;
    convert_binary_files = check_only = quiet = crlf_line_ends = update_only = keep_dates = verbose = false;
    for (bool& closed : standard_descriptor_closed)
        closed = false;
    source_stream.attach(-1);
    target_stream.attach(-1);
}
