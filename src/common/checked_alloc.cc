// The checked allocation helpers and the matching new-handler.
#include "common/checked_alloc.h"

#include <cstdlib>
#include <new>

#include "common/diagnostic.h"

[[noreturn]] static void out_of_memory() {
    print_diagnostic("out of memory");
    std::exit(1);
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
