// Finding and loading the configuration file.
#pragma once

/// Loads the configuration named by path (option -f), or searches the default
/// places when path is null, and leaves both translation tables complete.
/// Returns 0, or -1 after reporting the failure.
int load_configuration(const char* path);
