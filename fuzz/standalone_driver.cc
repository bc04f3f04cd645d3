// Runs a fuzz target where libFuzzer's runtime is not at hand, as in a cross
// build run under qemu: every input of the corpus folders given, then random
// mutations of them until -max_total_time=SECONDS (default 60) has passed.
// A failed check (a trap or an abort) writes the input to crash-<pid> and
// ends the run by the signal, as libFuzzer does; the exit status is then not
// 0. -close_fd_mask=2 sends the targets' messages to /dev/null; -seed=N
// replays the mutations of a run that printed seed N.
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

const std::uint8_t* current_data;
std::size_t current_size;

constexpr std::size_t MOST_INPUT_BYTES = 256 * 1024;

extern "C" void write_crash_input(int signal_number) {
    char name[64];
    std::snprintf(name, sizeof name, "crash-%ld", static_cast<long>(getpid()));
    int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        ssize_t ignored = write(fd, current_data, current_size);
        (void)ignored;
        close(fd);
    }
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

std::vector<std::uint8_t> read_whole(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return bytes;
    for (int c; (c = std::fgetc(file)) != EOF;)
        bytes.push_back(static_cast<std::uint8_t>(c));
    std::fclose(file);
    return bytes;
}

void run(const std::vector<std::uint8_t>& input) {
    current_data = input.data();
    current_size = input.size();
    LLVMFuzzerTestOneInput(input.data(), input.size());
}

// xorshift64: the same mutations from the same seed.
std::uint64_t random_state;
std::uint64_t next_random() {
    random_state ^= random_state << 13;
    random_state ^= random_state >> 7;
    random_state ^= random_state << 17;
    return random_state;
}

// Bytes that matter to the targets: line ends, ^Z, NUL, UTF-8 leads and
// continuations, and letters.
const std::uint8_t INTERESTING[] = {0x0D, 0x0A, 0x1A, 0x00, 0xC3, 0xA9, 0x80,
                                    0xE2, 0xFF, 0x7F, 'a',  ' ',  '"',  '='};

std::vector<std::uint8_t> mutate(std::vector<std::uint8_t> input,
                                 const std::vector<std::vector<std::uint8_t>>& corpus) {
    int steps = 1 + static_cast<int>(next_random() % 8);
    for (int step = 0; step < steps; ++step) {
        std::size_t at = input.empty() ? 0 : next_random() % input.size();
        switch (next_random() % 7) {
        case 0:
            if (!input.empty())
                input[at] ^= static_cast<std::uint8_t>(1u << (next_random() % 8));
            break;
        case 1:
            if (!input.empty())
                input[at] = INTERESTING[next_random() % sizeof INTERESTING];
            break;
        case 2:
            input.insert(input.begin() + static_cast<long>(at),
                         INTERESTING[next_random() % sizeof INTERESTING]);
            break;
        case 3:
            if (input.size() > 2)
                input.erase(input.begin() + static_cast<long>(at));
            break;
        case 4: {
            const auto& other = corpus[next_random() % corpus.size()];
            if (other.size() > 2) {
                std::size_t from = 2 + next_random() % (other.size() - 2);
                std::size_t count = next_random() % (other.size() - from + 1);
                input.insert(input.begin() + static_cast<long>(at),
                             other.begin() + static_cast<long>(from),
                             other.begin() + static_cast<long>(from + count));
            }
            break;
        }
        case 5:
            // Now and then, the text after the two leading bytes repeated
            // to 64 KiB or more: the buffers of the streams are crossed.
            if (input.size() > 2 && next_random() % 8 == 0) {
                std::vector<std::uint8_t> text(input.begin() + 2, input.end());
                std::size_t goal = (64 + next_random() % 192) * 1024;
                while (input.size() < goal)
                    input.insert(input.end(), text.begin(), text.end());
            }
            break;
        default:
            // A run of one byte, to cross the blocks of the fast paths.
            input.insert(input.begin() + static_cast<long>(at), next_random() % 80,
                         INTERESTING[next_random() % sizeof INTERESTING]);
            break;
        }
    }
    // As large as CI lets libFuzzer make them (-max_len): several of the
    // reader's and writer's buffers, so that every boundary is crossed.
    if (input.size() > MOST_INPUT_BYTES)
        input.resize(MOST_INPUT_BYTES);
    return input;
}

} // namespace

int main(int argc, char* argv[]) {
    long seconds = 60;
    std::uint64_t seed = static_cast<std::uint64_t>(std::time(nullptr)) | 1;
    std::vector<std::vector<std::uint8_t>> corpus;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-max_total_time=", 16) == 0) {
            seconds = std::atol(argv[i] + 16);
            continue;
        }
        if (std::strncmp(argv[i], "-seed=", 6) == 0) {
            seed = std::strtoull(argv[i] + 6, nullptr, 10) | 1;
            continue;
        }
        if (std::strcmp(argv[i], "-close_fd_mask=2") == 0) {
            int null = open("/dev/null", O_WRONLY);
            if (null >= 0 && dup2(null, STDERR_FILENO) >= 0)
                close(null);
            continue;
        }
        // In the order of their names, so that a seed replays on any file
        // system.
        if (DIR* folder = opendir(argv[i])) {
            std::vector<std::string> names;
            while (const dirent* entry = readdir(folder))
                if (entry->d_name[0] != '.')
                    names.emplace_back(entry->d_name);
            closedir(folder);
            std::sort(names.begin(), names.end());
            for (const auto& name : names)
                corpus.push_back(read_whole(std::string(argv[i]) + "/" + name));
        }
    }
    if (corpus.empty()) {
        std::printf(
            "usage: %s [-max_total_time=SECONDS] [-seed=N] [-close_fd_mask=2] CORPUS_FOLDER...\n",
            argv[0]);
        return 2;
    }
    for (int signal_number : {SIGTRAP, SIGILL, SIGABRT, SIGSEGV, SIGBUS, SIGFPE})
        std::signal(signal_number, write_crash_input);
    LLVMFuzzerInitialize(&argc, &argv);
    random_state = seed;
    std::printf("seed %llu, %zu inputs\n", static_cast<unsigned long long>(random_state),
                corpus.size());
    // Out before any crash, which would lose what the buffer holds.
    std::fflush(stdout);
    for (const auto& input : corpus)
        run(input);
    std::time_t end = std::time(nullptr) + seconds;
    unsigned long runs = corpus.size();
    while (std::time(nullptr) < end) {
        for (int batch = 0; batch < 100; ++batch, ++runs)
            run(mutate(corpus[next_random() % corpus.size()], corpus));
    }
    std::printf("Done %lu runs in %ld second(s)\n", runs, seconds);
    return 0;
}
