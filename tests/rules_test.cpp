// The rules between the targets of one run, without touching the file system.
#include "run/rules.h"

#include <gtest/gtest.h>

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
