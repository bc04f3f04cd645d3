// The steps of one file's conversion, the same for a single run and for each
// file of a folder.
#include "convert/file_conversion.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "common/diagnostic.h"
#include "convert/engine.h"
#include "convert/run_state.h"

int convert_file(target_file& target) {
    int source_fd = STDIN_FILENO;
    if (!source_is_stdin) {
        source_fd = open(source_name, O_RDONLY | O_CLOEXEC);
        if (source_fd < 0) {
            print_diagnostic("couldn't open %s: %s", source_name, std::strerror(errno));
            return -1;
        }
    }
    source_stream.attach(source_fd);

    bool failed = target.open(target_name, target_is_stdout) != 0;
    if (!failed) {
        target_stream.attach(target.fd());
        if (target.is_new_file())
            target_stream.start_early_writeback();
        failed = run_conversion(target.write_name()) != 0;
    }
    // The source is closed before the target is renamed, so that a target
    // that is the source itself is replaced only once it has been read.
    if (!source_is_stdin && close(source_fd) != 0) {
        print_diagnostic("couldn't close %s: %s", source_name, std::strerror(errno));
        failed = true;
    }
    if (!failed)
        return 0;
    target.abort();
    return -1;
}
