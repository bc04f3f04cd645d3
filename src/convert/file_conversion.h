// One source converted into one target, as the run state names them.
#pragma once

/// Opens the source and the target, runs the engine, closes the source and
/// commits or abandons the target. Returns 0, or -1 after its messages, with
/// an existing target as it was.
int convert_file();
