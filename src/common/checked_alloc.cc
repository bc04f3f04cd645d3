// The checked allocation helpers and the matching new-handler.
#include "common/checked_alloc.h"

#include <cstdlib>
#include <new>
#include <unistd.h>

#include "common/diagnostic.h"

namespace {

void (*cleanup_first)() = nullptr;

// Nothing here allocates, since nothing can: no message is held or
// formatted, the line goes straight to standard error, and the process ends
// without running destructors that might want memory.
[[noreturn]] void out_of_memory() {
    if (cleanup_first)
        cleanup_first();
    print_fixed_diagnostic("out of memory");
    _exit(1);
}

} // namespace

void set_out_of_memory_cleanup(void (*cleanup)()) {
    cleanup_first = cleanup;
}

void* checked_alloc(std::size_t size) {
    void* block = std::malloc(size ? size : 1);
    if (!block)
        out_of_memory();
    return block;
}

void* checked_realloc(void* block, std::size_t size) {
    void* resized = std::realloc(block, size ? size : 1);
    if (!resized)
        out_of_memory();
    return resized;
}

void install_out_of_memory_handler() {
    std::set_new_handler(out_of_memory);
}
