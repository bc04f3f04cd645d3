// One source converted into one target, as the run state names them.
#pragma once

#include "convert/target_file.h"

/// Opens the source and target, runs the engine and closes the source.
/// Returns 0 with the text written and target still to be committed, or -1
/// after its messages with target abandoned and an existing target as it was.
int convert_file(target_file& target);
