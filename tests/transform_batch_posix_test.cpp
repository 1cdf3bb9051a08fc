// The two speed-ups of the file transform and what they must keep.
// Batched deletions under "-d": no input goes before its output is durable
// (one sync for the batch), a failed sync deletes nothing, a name that
// another file took over since is kept, and every way out of the process
// either finishes the batch or leaves the inputs in place. Long bodies go
// through a ring of blocks on two threads: a failure at any read or write
// there still ends cleanly.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "container/container.h"
#include "container/transform.h"
#include "front/outcome.h"
#include "platform/fault.h"

namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string bytes_of(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
    return bytes;
}

// A fresh directory with batching on; both undone at the end.
class DeletionBatch : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tovik-batch-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        fault_clear();
        batch_deletions(true);
    }
    void TearDown() override {
        fault_clear();
        finish_deletions();
        batch_deletions(false);
        fs::remove_all(dir);
    }
    // Encrypts or decrypts name under "-d".
    int transform(const std::string& name) {
        std::string path = (dir / name).string();
        return transform_file(path, "secret", 1);
    }
    // The plain bytes of a container, decrypted in a copy (no "-d").
    std::string plain_of(const std::string& container) {
        fs::copy_file(dir / container, dir / "check.tvk", fs::copy_options::overwrite_existing);
        std::string path = (dir / "check.tvk").string();
        EXPECT_EQ(transform_file(path, "secret", 0), OUTCOME_DECRYPTED);
        const std::string plain = read_file(dir / "check");
        fs::remove(dir / "check.tvk");
        fs::remove(dir / "check");
        return plain;
    }
    fs::path dir;
};

TEST_F(DeletionBatch, InputsWaitForOneSyncThenGo) {
    const std::string plain[] = {bytes_of(1, 1), bytes_of(4096, 2), bytes_of(3 * COPY_BLOCK, 3)};
    for (int i = 0; i < 3; ++i) write_file(dir / std::to_string(i), plain[i]);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(transform(std::to_string(i)), OUTCOME_ENCRYPTED);
    EXPECT_EQ(fault_calls(fault_point::sync), 0);
    EXPECT_EQ(fault_calls(fault_point::unlink), 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(read_file(dir / std::to_string(i)) == plain[i]) << "input " << i;
    }

    EXPECT_TRUE(finish_deletions());
    EXPECT_EQ(fault_calls(fault_point::sync), 1);  // one sync for the three
    for (int i = 0; i < 3; ++i) {
        const std::string name = std::to_string(i);
        EXPECT_FALSE(fs::exists(dir / name)) << name;
        EXPECT_TRUE(plain_of(name + ".tvk") == plain[i]) << name;
    }
    EXPECT_TRUE(finish_deletions());  // nothing left: no second sync
    EXPECT_EQ(fault_calls(fault_point::sync), 1);
}

TEST_F(DeletionBatch, FullBatchIsSyncedAndDeletedOnItsOwn) {
    for (std::size_t i = 0; i <= DELETION_BATCH; ++i) write_file(dir / std::to_string(i), "x");
    for (std::size_t i = 0; i <= DELETION_BATCH; ++i) {
        ASSERT_EQ(transform(std::to_string(i)), OUTCOME_ENCRYPTED) << i;
    }
    // The full batch was synced on its own (its inputs are being deleted on
    // a second thread); the input after it waits for the next sync.
    EXPECT_EQ(fault_calls(fault_point::sync), 1);
    EXPECT_TRUE(fs::exists(dir / std::to_string(DELETION_BATCH)));
    EXPECT_TRUE(finish_deletions());
    EXPECT_EQ(fault_calls(fault_point::sync), 2);
    for (std::size_t i = 0; i <= DELETION_BATCH; ++i) {
        ASSERT_FALSE(fs::exists(dir / std::to_string(i))) << i;
        ASSERT_TRUE(fs::exists(dir / (std::to_string(i) + ".tvk"))) << i;
    }
}

TEST_F(DeletionBatch, FailedSyncDeletesNothing) {
    write_file(dir / "a", "alpha");
    ASSERT_EQ(transform("a"), OUTCOME_ENCRYPTED);
    fs::rename(dir / "a.tvk", dir / "b.tvk");
    ASSERT_EQ(transform("b.tvk"), OUTCOME_DECRYPTED);
    fault_arm(fault_point::sync, 1, EIO);
    EXPECT_FALSE(finish_deletions());
    EXPECT_EQ(read_file(dir / "a"), "alpha");
    EXPECT_EQ(read_file(dir / "b"), "alpha");
    EXPECT_TRUE(fs::exists(dir / "b.tvk"));
    EXPECT_TRUE(finish_deletions());  // the failed batch is dropped, inputs kept
    EXPECT_TRUE(fs::exists(dir / "a"));
    EXPECT_TRUE(fs::exists(dir / "b.tvk"));
}

// A run over "a" and then its container "a.tvk" writes "a" again: the waiting
// deletion of the first "a" must not take the new one, and the new "a" may
// replace the old one only once "a.tvk" is durable.
TEST_F(DeletionBatch, ANameTakenOverIsKept) {
    const std::string plain = bytes_of(COPY_BLOCK + 5, 4);
    write_file(dir / "a", plain);
    ASSERT_EQ(transform("a"), OUTCOME_ENCRYPTED);
    EXPECT_EQ(fault_calls(fault_point::sync), 0);
    ASSERT_EQ(transform("a.tvk"), OUTCOME_DECRYPTED);
    // The batch ("a" waiting) was synced before "a" was replaced, and the
    // new "a" was synced on its own, as without batching.
    EXPECT_GE(fault_calls(fault_point::sync), 2);
    EXPECT_TRUE(read_file(dir / "a") == plain);
    EXPECT_TRUE(finish_deletions());
    EXPECT_TRUE(read_file(dir / "a") == plain);
    EXPECT_FALSE(fs::exists(dir / "a.tvk"));
}

TEST_F(DeletionBatch, InputReplacedMeanwhileIsKept) {
    write_file(dir / "x", "old");
    ASSERT_EQ(transform("x"), OUTCOME_ENCRYPTED);
    write_file(dir / "new", "new");
    fs::rename(dir / "new", dir / "x");  // another program puts a file there
    EXPECT_TRUE(finish_deletions());
    EXPECT_EQ(read_file(dir / "x"), "new");
    EXPECT_EQ(plain_of("x.tvk"), "old");
}

// A process that ends through exit (every reported failure and the wrong
// key end so) finishes the batch; one that ends without it (a signal) keeps
// the inputs.
TEST_F(DeletionBatch, ExitFinishesAndAbruptEndKeeps) {
    for (bool clean_exit : {true, false}) {
        SCOPED_TRACE(clean_exit ? "exit" : "_exit");
        write_file(dir / "x", "data");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const bool encrypted = transform("x") == OUTCOME_ENCRYPTED && fs::exists(dir / "x");
            if (clean_exit) std::exit(encrypted ? 0 : 3);
            _exit(encrypted ? 0 : 3);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(fs::exists(dir / "x"), !clean_exit);
        EXPECT_EQ(plain_of("x.tvk"), "data");
        fs::remove(dir / "x");
        fs::remove(dir / "x.tvk");
    }
}

// A body of ten blocks passes each of the four slots of the ring more than
// once; every read and write of it is failed in turn.
TEST(LongBody, EachReadAndWriteFailsCleanly) {
    char pattern[] = "/tmp/tovik-ring-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    const std::string plain = bytes_of(9 * COPY_BLOCK + 3, 5);
    const std::string input = (dir / "x").string();
    write_file(input, plain);

    fault_clear();
    std::string path = input;
    ASSERT_EQ(transform_file(path, "secret", 0), OUTCOME_ENCRYPTED);
    const std::string container = read_file(dir / "x.tvk");
    fs::remove(dir / "x.tvk");
    const struct {
        fault_point point;
        int calls;
        int outcome;
    } points[] = {{fault_point::read, fault_calls(fault_point::read), OUTCOME_INPUT_FAILED},
                  {fault_point::write, fault_calls(fault_point::write), OUTCOME_DISK_WRITE}};
    EXPECT_GE(points[0].calls, 11);  // the header, ten blocks and the end
    EXPECT_GE(points[1].calls, 10);

    for (const auto& p : points) {
        for (int nth = 1; nth <= p.calls; ++nth) {
            SCOPED_TRACE(testing::Message() << (p.point == fault_point::read ? "read " : "write ")
                                            << nth);
            fault_clear();
            fault_arm(p.point, nth, EIO);
            path = input;
            EXPECT_EQ(transform_file(path, "secret", 0), p.outcome);
            std::vector<std::string> names;
            for (const auto& entry : fs::directory_iterator(dir)) {
                names.push_back(entry.path().filename().string());
            }
            EXPECT_EQ(names, std::vector<std::string>{"x"});  // no output, no temporary
            EXPECT_TRUE(read_file(input) == plain);
        }
    }
    fault_clear();
    path = input;
    EXPECT_EQ(transform_file(path, "secret", 0), OUTCOME_ENCRYPTED);
    EXPECT_TRUE(read_file(dir / "x.tvk") == container);
    fs::remove_all(dir);
}

}  // namespace
