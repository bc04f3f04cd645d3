// vorbix-convert converts text files, one file or every file of a folder,
// between the CP/M format that the emulator keeps on the host's disk and the
// host's own text format, in any of the four directions, translating
// characters through the character set of the emulator's configuration.
#include "convert/driver.h"

int main(int argc, char* argv[]) {
    return run_converter(argc, argv);
}
