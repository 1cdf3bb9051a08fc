// The rules between the targets of one run, without touching the file system.
#include "run/rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

// The rule between the targets of one run, in the order a run meets them.
TEST(RunRules, NoOutputOverATargetOrAnEarlierOutput) {
    target_list targets;
    for (const char* target : {"d/a", "d/a.tvk.tvk", "d/b", "d/b.tvk", "d/c", "d/moved"})
        push_target(&targets, target);
    run_rules rules(targets);
    const struct {
        const char* target;
        const char* output;
        bool allowed;
    } steps[] = {
        {"d/a", "d/a.tvk", true},            // nothing of that name in the run
        {"d/a.tvk.tvk", "d/a.tvk", false},   // an output already written
        {"d/b", "d/b.tvk", false},           // another target, not yet processed
        {"d/b.tvk", "d/b", false},           // another target, processed or not
        {"d/moved", "d/moved", true},        // in place: its own name
        {"d/c", "d/c.tvk", true},
        {"d/c", "d/c.tvk", false},           // twice the same output
    };
    for (const auto& step : steps) {
        EXPECT_EQ(rules.may_write(step.target, step.output), step.allowed)
            << step.target << " -> " << step.output;
    }
}

// The sets grow as a run meets more names, through long runs of hashes that
// fall on one slot; each hash is found once inserted and none other is. A
// hash of 0 is held as 1: the one pair the set itself confuses.
TEST(RunRules, HashSetsGrowAndKeepEveryHashThroughCollisions) {
    hash_set set;
    std::vector<std::uint64_t> inserted;
    for (std::uint64_t i = 1; i <= 50000; ++i) {
        inserted.push_back(i * 0x9E3779B97F4A7C15ull);
        if (i <= 2000) inserted.push_back(i << 40);  // the low bits all alike: one slot for all
    }
    for (std::uint64_t hash : inserted) set.insert(hash);
    for (std::uint64_t hash : inserted) ASSERT_TRUE(set.contains(hash)) << hash;
    for (std::uint64_t i = 2001; i <= 3000; ++i) ASSERT_FALSE(set.contains(i << 40)) << i;
    EXPECT_FALSE(set.contains(0));
    set.insert(0);
    EXPECT_TRUE(set.contains(0));
    EXPECT_TRUE(set.contains(1));

    // Many targets: each one's output is another target, until every output
    // has been claimed once.
    target_list targets;
    for (int i = 0; i < 20000; ++i) push_target(&targets, "t/" + std::to_string(i));
    run_rules rules(targets);
    for (int i = 0; i < 20000; ++i) {
        const std::string target = "t/" + std::to_string(i);
        ASSERT_EQ(rules.may_write(target, "t/" + std::to_string(i + 1)), i == 19999) << i;
        ASSERT_TRUE(rules.may_write(target, target + ".tvk")) << i;
        ASSERT_FALSE(rules.may_write(target, target + ".tvk")) << i;
    }
}
