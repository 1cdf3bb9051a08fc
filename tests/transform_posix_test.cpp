// The file transform in-process: outputs byte for byte against an
// independent container, what each kind of input gives, what "-d" deletes
// and when, and clean failures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "run/transform.h"
#include "support/faults.h"
#include "support/runs.h"
#include "support/tovik_run_posix.h"

namespace fs = std::filesystem;
using namespace tovik_run;

namespace {

const std::string KEY = "secret";

std::string sealed(const std::string& plain) { return container_of(plain, KEY); }

struct stat status_of(const std::string& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status;
}

// Runs body in a child process as an unprivileged user (when run as root),
// so that permission bits are enforced; the child's exit status.
template <typename Body>
int as_unprivileged(Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Outcome codes as exit statuses of a child.
int child_status(int outcome) { return outcome + 110; }

}  // namespace

TEST(Transform, RoundTripsGiveTheIndependentContainerAndTheBytesBack) {
    for (std::size_t size : {std::size_t{1}, std::size_t{37}, COPY_BLOCK - 37, COPY_BLOCK,
                             3 * COPY_BLOCK * 2 + 7}) {
        SCOPED_TRACE(size);
        temp_dir dir;
        const std::string plain = random_bytes(size, static_cast<unsigned>(size));
        write_file(dir.at("data.bin"), plain);
        std::string path = dir.at("data.bin");
        ASSERT_EQ(transform_alone(path, KEY, false), OUTCOME_ENCRYPTED);
        EXPECT_EQ(path, dir.at("data.bin"));
        EXPECT_TRUE(read_file(dir.at("data.bin.tvk")) == sealed(plain));

        fs::remove(dir.at("data.bin"));
        path = dir.at("data.bin.tvk");
        ASSERT_EQ(transform_alone(path, KEY, false), OUTCOME_DECRYPTED);
        EXPECT_EQ(path, dir.at("data.bin.tvk"));  // the name the driver reports
        EXPECT_EQ(dir.names(), (std::set<std::string>{"data.bin", "data.bin.tvk"}));
        EXPECT_TRUE(read_file(dir.at("data.bin")) == plain);
    }
}

TEST(Transform, WrongPassphraseChangesNothing) {
    temp_dir dir;
    write_file(dir.at("a.tvk"), sealed("the plain text"));
    write_file(dir.at("a"), "a file of the output's name");
    const auto before = snapshot(dir.root);
    for (bool delete_input : {false, true}) {
        for (const char* wrong : {"Secret", "", "secret "}) {
            std::string path = dir.at("a.tvk");
            EXPECT_EQ(transform_alone(path, wrong, delete_input), OUTCOME_WRONG_KEY);
            EXPECT_EQ(snapshot(dir.root), before);
        }
    }
}

// The output takes the input's permission bits, owner, group and times, and
// replaces an unrelated file of its name.
TEST(Transform, OutputReplacesAFileOfItsNameAndKeepsTheInputsAttributes) {
    temp_dir dir;
    write_file(dir.at("a"), "new contents", 0640);
    write_file(dir.at("a.tvk"), "an older container", 0666);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(dir.at("a").c_str(), 65534, 65534), 0);
    }
    const struct timespec old_times[2] = {{1000000000, 5}, {1200000000, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, dir.at("a").c_str(), old_times, 0), 0);
    std::string path = dir.at("a");
    ASSERT_EQ(transform_alone(path, KEY, false), OUTCOME_ENCRYPTED);
    EXPECT_EQ(read_file(dir.at("a.tvk")), sealed("new contents"));
    const struct stat output = status_of(dir.at("a.tvk"));
    EXPECT_EQ(output.st_mode & 07777, 0640u);
    EXPECT_EQ(output.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(output.st_mtim.tv_nsec, 123456789);
    if (root) {
        EXPECT_EQ(output.st_uid, 65534u);
        EXPECT_EQ(output.st_gid, 65534u);
    }
}

TEST(Transform, ContainersWithoutTheSuffixAreDecryptedInPlace) {
    for (const char* name : {"moved", "shout.TVK", "x.tvk.bak"}) {
        for (bool delete_input : {false, true}) {
            SCOPED_TRACE(testing::Message() << name << " -d " << delete_input);
            temp_dir dir;
            write_file(dir.at(name), sealed("in place"));
            std::string path = dir.at(name);
            ASSERT_EQ(transform_alone(path, KEY, delete_input), OUTCOME_DECRYPTED);
            EXPECT_EQ(path, dir.at(name));  // its real name, no suffix appended
            EXPECT_EQ(snapshot(dir.root), (std::map<std::string, std::string>{{name, "in place"}}));
            // The container was replaced: the plain copy was made durable
            // before the rename, and the rename at the end.
            EXPECT_EQ(fault_calls(fault_point::sync), 2);
        }
    }
}

TEST(Transform, LongNamesUseTheShortTemporaryOrFailCleanly) {
    temp_dir dir;
    const std::string fits(250, 'n');  // its container name has 254 characters
    write_file(dir.at(fits), "long");
    std::string path = dir.at(fits);
    ASSERT_EQ(transform_alone(path, KEY, false), OUTCOME_ENCRYPTED);
    EXPECT_EQ(read_file(dir.at(fits + ".tvk")), sealed("long"));

    const std::string too_long(253, 'm');  // no room for ".tvk"
    write_file(dir.at(too_long), "longer");
    path = dir.at(too_long);
    EXPECT_EQ(transform_alone(path, KEY, true), OUTCOME_OUTPUT_FAILED);
    EXPECT_EQ(dir.names(), (std::set<std::string>{fits, fits + ".tvk", too_long}));
}

TEST(Transform, MissingEmptyOrSpecialInputsAreBypassed) {
    temp_dir dir;
    ASSERT_EQ(::mkfifo(dir.at("fifo").c_str(), 0644), 0);
    fs::create_directory(dir.at("sub"));
    write_file(dir.at("empty"), "");
    for (const char* name : {"missing", "fifo", "sub", "empty"}) {
        std::string path = dir.at(name);
        EXPECT_EQ(transform_alone(path, KEY, true), OUTCOME_EMPTY_FILE) << name;  // never blocks
    }
    EXPECT_EQ(dir.names(), (std::set<std::string>{"empty", "fifo", "sub"}));
}

// Permission cases run in a child without privileges, where they hold.
TEST(Transform, ReadOnlyAndUnreadableFiles) {
    temp_dir dir;
    ::chmod(dir.root.c_str(), 0777);
    const std::string container = sealed("inner");
    write_file(dir.at("ro.tvk"), container, 0444);
    write_file(dir.at("ro-plain"), "read only", 0444);
    write_file(dir.at("hidden"), "unreadable", 0000);
    const auto transform_unprivileged = [&](const char* name, bool delete_input) {
        return as_unprivileged([&] {
            std::string path = dir.at(name);
            return child_status(transform_alone(path, KEY, delete_input));
        });
    };
    // A container that cannot be opened for update is taken as plain.
    EXPECT_EQ(transform_unprivileged("ro.tvk", false), child_status(OUTCOME_ENCRYPTED));
    EXPECT_EQ(read_file(dir.at("ro.tvk.tvk")), sealed(container));
    EXPECT_EQ(transform_unprivileged("ro-plain", false), child_status(OUTCOME_ENCRYPTED));
    EXPECT_EQ(status_of(dir.at("ro-plain.tvk")).st_mode & 0777, 0444u);
    EXPECT_EQ(transform_unprivileged("hidden", true), child_status(OUTCOME_EMPTY_FILE));
    EXPECT_EQ(dir.names(), (std::set<std::string>{"ro.tvk", "ro.tvk.tvk", "ro-plain",
                                                  "ro-plain.tvk", "hidden"}));

    // A directory where no temporary can be created.
    temp_dir locked;
    write_file(locked.at("a"), "locked in");
    ::chmod(locked.root.c_str(), 0555);
    EXPECT_EQ(as_unprivileged([&] {
                  std::string path = locked.at("a");
                  return child_status(transform_alone(path, KEY, true));
              }),
              child_status(OUTCOME_OUTPUT_FAILED));
    EXPECT_EQ(locked.names(), std::set<std::string>{"a"});
}

// Two processes in one directory: each its own file, then both the same one
// into the same output name.
TEST(Transform, TwoTransformsAtOnceInOneDirectory) {
    temp_dir dir;
    const std::string first = random_bytes(2 * COPY_BLOCK + 11, 1);
    const std::string second = random_bytes(3 * COPY_BLOCK + 5, 2);
    const std::string shared = random_bytes(COPY_BLOCK + 3, 3);
    write_file(dir.at("first"), first);
    write_file(dir.at("second"), second);
    write_file(dir.at("shared"), shared);
    pid_t children[2];
    for (int i = 0; i < 2; ++i) {
        children[i] = ::fork();
        if (children[i] != 0) continue;
        const std::string own = dir.at(i == 0 ? "first" : "second");
        int failures = 0;
        for (int round = 0; round < 3; ++round) {
            std::string path = own;
            failures += transform_alone(path, KEY, true) != OUTCOME_ENCRYPTED;
            path = own + ".tvk";
            failures += transform_alone(path, KEY, true) != OUTCOME_DECRYPTED;
            path = dir.at("shared");
            failures += transform_alone(path, KEY, false) != OUTCOME_ENCRYPTED;
        }
        ::_exit(failures);
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(dir.names(), (std::set<std::string>{"first", "second", "shared", "shared.tvk"}));
    EXPECT_TRUE(read_file(dir.at("first")) == first);
    EXPECT_TRUE(read_file(dir.at("second")) == second);
    EXPECT_TRUE(read_file(dir.at("shared.tvk")) == sealed(shared));
}

// Refused for update (as a read-only file is): a container is then taken as
// plain and encrypted once more, and a plain file is read all the same.
TEST(Transform, RefusedUpdateFallsBackToReading) {
    for (bool container : {false, true}) {
        temp_dir dir;
        const std::string content = container ? sealed("abc") : "abc";
        write_file(dir.at("x"), content);
        fault_arm(fault_point::open, 2, EACCES);  // the open for update after the head's probe
        std::string path = dir.at("x");
        EXPECT_EQ(transform_alone(path, KEY, true), OUTCOME_ENCRYPTED);
        EXPECT_EQ(snapshot(dir.root), (std::map<std::string, std::string>{{"x.tvk", sealed(content)}}));
    }
}

// A body of ten blocks passes each of the four slots of the ring more than
// once; every read and write of it is failed in turn.
TEST(Transform, EachReadAndWriteOfALongBodyFailsCleanly) {
    temp_dir dir;
    const std::string plain = random_bytes(9 * COPY_BLOCK + 3, 5);
    write_file(dir.at("x"), plain);
    std::string path = dir.at("x");
    ASSERT_EQ(transform_alone(path, KEY, false), OUTCOME_ENCRYPTED);
    fs::remove(dir.at("x.tvk"));
    const struct {
        fault_point point;
        int first;  // the first read is the head's, before the run (its probe)
        int calls;
        int outcome;
    } points[] = {{fault_point::read, 2, fault_calls(fault_point::read), OUTCOME_INPUT_FAILED},
                  {fault_point::write, 1, fault_calls(fault_point::write), OUTCOME_DISK_WRITE}};
    EXPECT_GE(points[0].calls, 12);  // the probe, the header, ten blocks and the end
    EXPECT_GE(points[1].calls, 10);
    for (const auto& p : points) {
        for (int nth = p.first; nth <= p.calls; ++nth) {
            SCOPED_TRACE(testing::Message() << static_cast<int>(p.point) << " call " << nth);
            fault_clear();
            fault_arm(p.point, nth, EIO);
            path = dir.at("x");
            EXPECT_EQ(transform_alone(path, KEY, true), p.outcome);
            EXPECT_EQ(dir.names(), std::set<std::string>{"x"});  // no output, no temporary
        }
    }
    EXPECT_TRUE(read_file(dir.at("x")) == plain);
}

// A file past 4 GiB, through the transform both ways: lengths and offsets
// past what 32 bits hold. Sparse, on a memory file system where there is one;
// its container takes 4 GiB there for a moment. Left to the plain builds: a
// sanitizer's cipher would take minutes.
TEST(Transform, AFilePastFourGibibytesRoundTrips) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "too slow under a sanitizer";
#endif
    temp_dir dir(fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string());
    const std::uint64_t size = (std::uint64_t{4} << 30) + 100;
    const std::string tail = "the last bytes, past four gibibytes";
    std::string path = dir.at("big");
    {
        std::ofstream out(path, std::ios::binary);
        out.seekp(static_cast<std::streamoff>(size - tail.size()));
        out << tail;
    }
    ASSERT_EQ(fs::file_size(path), size);
    ASSERT_EQ(transform_alone(path, KEY, true), OUTCOME_ENCRYPTED);
    ASSERT_EQ(fs::file_size(dir.at("big.tvk")), size + HEADER_LENGTH);
    std::string container = dir.at("big.tvk");
    ASSERT_EQ(transform_alone(container, KEY, true), OUTCOME_DECRYPTED);
    ASSERT_EQ(fs::file_size(path), size);
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(size - tail.size() - 10));
    std::string end(tail.size() + 10, '\0');
    in.read(end.data(), static_cast<std::streamsize>(end.size()));
    EXPECT_EQ(end, std::string(10, '\0') + tail);
    EXPECT_EQ(dir.names(), std::set<std::string>{"big"});
}

// What "-d" deletes and when: after one sync has made the outputs durable,
// and only what was read, unchanged.
// "-d": every input waits in place until one sync has made every output
// durable; then it goes, if it is still the file that was read, and one more
// sync makes the deletions durable before the run ends.
TEST(DeleteInputs, InputsWaitForOneSyncThenGo) {
    temp_dir dir;
    const std::string plain[] = {random_bytes(1, 1), random_bytes(3 * COPY_BLOCK, 3)};
    write_file(dir.at("0"), plain[0]);
    write_file(dir.at("1"), plain[1]);
    test_run t(KEY, true, {dir.at("0"), dir.at("1")});
    for (int i = 0; i < 2; ++i) ASSERT_EQ(t.next(), OUTCOME_ENCRYPTED);
    EXPECT_EQ(fault_calls(fault_point::sync), 0);
    EXPECT_EQ(dir.names(), (std::set<std::string>{"0", "0.tvk", "1", "1.tvk"}));
    std::string calls;  // the deletions run on a thread the finish waits for
    fault_hook(fault_point::sync, [&calls] { calls += "sync "; });
    fault_hook(fault_point::unlink, [&calls] { calls += "unlink "; });
    EXPECT_EQ(t.run.finish(), std::nullopt);
    EXPECT_EQ(calls, "sync unlink unlink sync ");
    EXPECT_TRUE(snapshot(dir.root) == (std::map<std::string, std::string>{
                                          {"0.tvk", sealed(plain[0])}, {"1.tvk", sealed(plain[1])}}));
    EXPECT_TRUE(t.run.kept().empty());
}

TEST(DeleteInputs, AFullBatchIsSyncedAndDeletedOnItsOwn) {
    temp_dir dir;
    std::vector<std::string> paths;
    for (std::size_t i = 0; i <= DELETION_BATCH; ++i) {
        paths.push_back(dir.at(std::to_string(i)));
        write_file(paths.back(), "x");
    }
    test_run t(KEY, true, paths);
    for (const std::string& path : paths) ASSERT_EQ(t.next(), OUTCOME_ENCRYPTED) << path;
    EXPECT_EQ(fault_calls(fault_point::sync), 1);
    EXPECT_TRUE(fs::exists(paths.back()));  // waits for the next
    EXPECT_EQ(t.run.finish(), std::nullopt);
    EXPECT_EQ(fault_calls(fault_point::sync), 3);  // the last output, then the deletions
    EXPECT_EQ(dir.names().size(), DELETION_BATCH + 1);
}

TEST(DeleteInputs, FailedSyncDeletesNothing) {
    temp_dir dir;
    write_file(dir.at("a"), "alpha");
    test_run t(KEY, true, {dir.at("a")});
    ASSERT_EQ(t.next(), OUTCOME_ENCRYPTED);
    fault_arm(fault_point::sync, 1, EIO);
    EXPECT_EQ(t.run.finish(), OUTCOME_DISK_WRITE);
    EXPECT_EQ(read_file(dir.at("a")), "alpha");
    EXPECT_EQ(t.run.finish(), std::nullopt);  // tried again
    EXPECT_EQ(dir.names(), std::set<std::string>{"a.tvk"});
}

// An input written to, replaced or refused between its reading and its
// deletion is kept and named; a symbolic link goes itself, never the file
// behind it; of two hard links each name goes, the file's bytes in both
// outputs.
TEST(DeleteInputs, OnlyWhatWasReadIsDeleted) {
    temp_dir dir;
    write_file(dir.at("appended"), "old");
    write_file(dir.at("replaced"), "old");
    write_file(dir.at("refused"), "old");
    write_file(dir.at("behind"), "through the link");
    ASSERT_EQ(::symlink("behind", dir.at("link").c_str()), 0);
    write_file(dir.at("h1"), "linked twice");
    ASSERT_EQ(::link(dir.at("h1").c_str(), dir.at("h2").c_str()), 0);
    const std::vector<std::string> names = {"appended", "replaced", "refused", "link", "h1", "h2"};
    std::vector<std::string> paths;
    for (const std::string& name : names) paths.push_back(dir.at(name));
    test_run t(KEY, true, paths);
    for (const std::string& name : names) ASSERT_EQ(t.next(), OUTCOME_ENCRYPTED) << name;
    write_file(dir.at("appended"), "old and 47 bytes more");  // after its reading
    write_file(dir.at("new"), "new");
    fs::rename(dir.at("new"), dir.at("replaced"));
    int unlinks = 0;
    fault_hook(fault_point::unlink, [&] {
        if (++unlinks == 3) fault_arm(fault_point::unlink, 1, EACCES);  // "refused"
    });
    EXPECT_EQ(t.run.finish(), std::nullopt);
    EXPECT_EQ(t.run.kept(), (std::vector<std::string>{
                            dir.at("appended") + " was not deleted: it changed after it was read\n",
                            dir.at("replaced") + " was not deleted: it changed after it was read\n",
                            dir.at("refused") + " was not deleted: the system refused\n"}));
    std::map<std::string, std::string> expected = {
        {"appended", "old and 47 bytes more"}, {"replaced", "new"}, {"refused", "old"},
        {"behind", "through the link"}};
    for (const std::string& name : names) {
        expected[name + ".tvk"] = sealed(name == "link" ? "through the link"
                                         : name[0] == 'h' ? "linked twice"
                                                          : "old");
    }
    EXPECT_TRUE(snapshot(dir.root) == expected);
}
