// What "-d" deletes and when: after one sync has made the outputs durable,
// and only what was read, unchanged.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "run/transform.h"
#include "support/runs.h"
#include "support/tovik_run_posix.h"

namespace fs = std::filesystem;
using namespace tovik_run;

namespace {

const std::string KEY = "secret";

std::string sealed(const std::string& plain) { return container_of(plain, KEY); }

}  // namespace

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
