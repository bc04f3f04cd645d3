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

bool always_terminate;
bool ignore_unconvertible;
bool unconvertible_is_error;

void reset_run_state_for_testing() {
    source_name = target_name = nullptr;
    source_is_stdin = source_is_host = false;
    target_is_stdout = target_is_host = false;
    always_terminate = ignore_unconvertible = unconvertible_is_error = false;
    source_stream.attach(-1);
    target_stream.attach(-1);
}
