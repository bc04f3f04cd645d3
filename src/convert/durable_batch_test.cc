// The batch's one flush: a syncfs stands for every file's fsync where it
// reports errors, and when it fails each file's own fsync decides, so that
// only a file whose data did not reach the disk fails.
#include "convert/durable_batch.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "common/platform.h"

namespace {

struct release_case {
    const char* release;
    bool reports;
};

TEST(DurableBatch, KernelsBefore58SyncEachFile) {
    const release_case cases[] = {
        {"5.8.0", true},          {"5.7.19", false},  {"6.1.0-18-amd64", true},
        {"5.10.0-rc1", true},     {"4.19.0", false},  {"10.0", true},
        {"5", false},             {"", false},        {"x.y", false},
        {"3.10.0-1160.el7", false},
    };
    for (const release_case& c : cases)
        EXPECT_EQ(syncfs_reports_errors(c.release), c.reports) << c.release;
}

std::vector<int> synced_files;
int failing_fd = -1;
int file_system_syncs = 0;
int file_system_result = 0;

int counted_sync_file(int fd) {
    synced_files.push_back(fd);
    if (fd == failing_fd) {
        errno = EIO;
        return -1;
    }
    return 0;
}

int counted_sync_file_system(int) {
    ++file_system_syncs;
    if (file_system_result != 0)
        errno = EIO;
    return file_system_result;
}

class Batch : public testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/durable-batch-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        folder = name;
        original_sync_file = sync_file;
        original_sync_file_system = sync_file_system;
        sync_file = counted_sync_file;
        sync_file_system = counted_sync_file_system;
        synced_files.clear();
        failing_fd = -1;
        file_system_syncs = 0;
    }
    void TearDown() override {
        sync_file = original_sync_file;
        sync_file_system = original_sync_file_system;
        std::system(("rm -rf " + folder).c_str());
    }
    // Three new files waiting in a batch; returns their descriptors.
    std::vector<int> add_three(durable_batch& batch) {
        std::vector<int> fds;
        for (std::string name : {"a", "b", "c"}) {
            paths.push_back(folder + "/" + name);
            auto target = std::make_unique<target_file>();
            named_file file{paths.back().c_str(), AT_FDCWD, paths.back().c_str()};
            EXPECT_EQ(target->open(file), 0);
            EXPECT_EQ(write(target->fd(), name.data(), 1), 1);
            fds.push_back(target->fd());
            batch.add(std::move(target));
        }
        return fds;
    }
    bool exists(const std::string& path) {
        struct stat status;
        return stat(path.c_str(), &status) == 0;
    }

    std::string folder;
    std::vector<std::string> paths;
    int (*original_sync_file)(int) = nullptr;
    int (*original_sync_file_system)(int) = nullptr;
};

TEST_F(Batch, OneSyncfsForTheWholeBatch) {
    if (!batch_sync_reports_errors())
        GTEST_SKIP() << "this kernel's syncfs does not report writeback errors";
    file_system_result = 0;
    durable_batch batch;
    add_three(batch);
    batch.commit();
    EXPECT_EQ(file_system_syncs, 1);
    EXPECT_TRUE(synced_files.empty());
    EXPECT_EQ(batch.failures(), 0u);
    for (const std::string& path : paths)
        EXPECT_TRUE(exists(path)) << path;
}

TEST_F(Batch, AFailedSyncfsLeavesEachFileToItsFsync) {
    file_system_result = -1;
    durable_batch batch;
    std::vector<int> fds = add_three(batch);
    failing_fd = fds[1];
    testing::internal::CaptureStderr();
    batch.commit();
    std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_EQ(synced_files, fds);
    EXPECT_EQ(batch.failures(), 1u);
    EXPECT_TRUE(exists(paths[0]));
    EXPECT_FALSE(exists(paths[1]));
    EXPECT_TRUE(exists(paths[2]));
    EXPECT_NE(messages.find(paths[1] + ".temp."), std::string::npos) << messages;
    EXPECT_NE(messages.find(std::strerror(EIO)), std::string::npos) << messages;
}

} // namespace
