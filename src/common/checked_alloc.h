// Allocation that never returns empty-handed: running out of memory ends the
// run with "out of memory" and status 1.
#pragma once

#include <cstddef>

/// Allocates size bytes (at least one) or exits with "out of memory".
void* checked_alloc(std::size_t size);

/// Resizes block (which may be null) to size bytes or exits with "out of memory".
void* checked_realloc(void* block, std::size_t size);

/// Has running out of memory call cleanup first; cleanup must neither
/// allocate nor return anything but normally.
void set_out_of_memory_cleanup(void (*cleanup)());

/// Makes every failed operator new report "out of memory" and exit with
/// status 1, as checked_alloc does, so that standard containers follow the
/// same rule.
void install_out_of_memory_handler();
