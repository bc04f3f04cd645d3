// Finding, opening and closing the configuration file.
#pragma once

#include "common/byte_stream.h"

/// The configuration file's name as messages give it: the -f name,
/// "./.vorbix.conf", or "$HOME/.vorbix.conf".
extern const char* config_path;
/// The open configuration file while it is parsed; null otherwise.
extern byte_reader* config_stream;

/// Loads the file named by path (option -f), or else the first of
/// "./.vorbix.conf" and "$HOME/.vorbix.conf" that opens; with none, completes
/// both tables from the default set. Returns 0, or -1 after reporting why.
int load_configuration(const char* path);
