// The crash checker on records written by hand: what each sync makes
// durable, and which states break which promise.
#include "support/crash_model.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

// A record made as a run would make it: events numbered in order, writes
// appended to their file.
struct record_maker {
    std::vector<recorded_event> events;
    std::map<std::uint64_t, std::int64_t> sizes;  // by file index

    record_maker& add(recorded_event e) {
        e.sequence = events.size();
        e.thread = 1;
        if (e.begun == 0) e.begun = e.sequence;  // a sync covers what came before it
        events.push_back(std::move(e));
        return *this;
    }
    record_maker& create(const std::string& path, std::uint64_t file) {
        return add({.op = disk_op::create, .path = path, .file = {1, file}});
    }
    record_maker& write(std::uint64_t file, const std::string& bytes) {
        const std::int64_t at = sizes[file];
        sizes[file] += static_cast<std::int64_t>(bytes.size());
        return add({.op = disk_op::write,
                    .bytes = bytes,
                    .file = {1, file},
                    .digest = disk_digest(bytes),
                    .offset = at});
    }
    record_maker& rename(const std::string& from, const std::string& to) {
        return add({.op = disk_op::rename, .path = from, .to = to});
    }
    record_maker& unlink(const std::string& path) {
        return add({.op = disk_op::unlink, .path = path});
    }
    record_maker& fsync(std::uint64_t file) {
        return add({.op = disk_op::file_sync, .file = {1, file}});
    }
    record_maker& sync_directory(const std::string& path) {
        return add({.op = disk_op::directory_sync, .path = path});
    }
    // A syncfs that began when `begun` events were recorded (0: just now).
    record_maker& syncfs(std::uint64_t begun = 0) {
        return add({.op = disk_op::volume_sync, .path = "d", .volume = 1, .begun = begun});
    }
    // The output of d/in: made in a temporary, renamed into place.
    record_maker& output(bool synced_first = false) {
        create("d/in.tvk.tovik-partial-AbCdEf", 7).write(7, std::string(3 * BLOCK, 's'));
        if (synced_first) fsync(7);
        return rename("d/in.tvk.tovik-partial-AbCdEf", "d/in.tvk");
    }
};

const std::string INPUT = "plain bytes";
const std::string OUTPUT(3 * BLOCK, 's');

struct model_case {
    const char* name;
    std::function<void(record_maker&)> run;
    std::set<crash_fault> found;  // the kinds of fault the states show
    bool finished = true;
    std::map<std::string, std::string> files = {{"d/in", INPUT}};
    crash_promise promise = {"d/in", "d/in.tvk", OUTPUT, true};
};

}  // namespace

TEST(CrashModel, EachSyncMakesDurableWhatItCoversAndNoMore) {
    using enum crash_fault;
    const model_case cases[] = {
        {"synced, then deleted and synced",
         [](record_maker& r) { r.output().syncfs().unlink("d/in").syncfs(); },
         {}},
        {"deleted before any sync",
         [](record_maker& r) { r.output().unlink("d/in").syncfs(); },
         {user_file}},
        {"names synced, data not",
         [](record_maker& r) { r.output().sync_directory("d").unlink("d/in").syncfs(); },
         {user_file}},
        {"data and names synced by fsyncs",
         [](record_maker& r) {
             r.output(true).sync_directory("d").unlink("d/in").sync_directory("d");
         },
         {}},
        {"a syncfs that began before the write",
         [](record_maker& r) {
             r.create("d/in.tvk.tovik-partial-AbCdEf", 7).write(7, OUTPUT).syncfs(1);
             r.rename("d/in.tvk.tovik-partial-AbCdEf", "d/in.tvk")
                 .sync_directory("d")
                 .unlink("d/in")
                 .syncfs();
         },
         {user_file}},
        {"fin before any sync", [](record_maker& r) { r.output(); }, {output_at_fin}},
        {"a short output beside its input, no fin", [](record_maker& r) { r.output(); }, {}, false},
        {"a deletion not synced at fin",
         [](record_maker& r) { r.output().syncfs().unlink("d/in"); },
         {deletion_at_fin}},
        {"a write into the user's file",
         [](record_maker& r) { r.write(3, "x").output().syncfs(); },
         {record}},
        {"a file nobody promised",
         [](record_maker& r) { r.create("d/other", 8).write(8, "x").output().syncfs(); },
         {stray_file}},
        {"a file replaced by the start of its output",
         [](record_maker& r) { r.output(); },
         {},
         false,
         {{"d/in", INPUT}, {"d/in.tvk", "older"}}},
        {"decrypted in place without an fsync",
         [](record_maker& r) {
             r.create("d/in.tovik-partial-AbCdEf", 7)
                 .write(7, OUTPUT)
                 .rename("d/in.tovik-partial-AbCdEf", "d/in");
         },
         {user_file},
         false,
         {{"d/in", INPUT}},
         {"d/in", "d/in", OUTPUT, true}},
        {"decrypted in place after an fsync",
         [](record_maker& r) {
             r.create("d/in.tovik-partial-AbCdEf", 7).write(7, OUTPUT).fsync(7);
             r.rename("d/in.tovik-partial-AbCdEf", "d/in");
         },
         {},
         false,
         {{"d/in", INPUT}},
         {"d/in", "d/in", OUTPUT, true}},
    };
    for (const model_case& c : cases) {
        SCOPED_TRACE(c.name);
        record_maker r;
        c.run(r);
        const crash_verdict v = check_crash_states(r.events, {c.files, {c.promise}, c.finished});
        EXPECT_EQ(v.operations, r.events.size());
        EXPECT_GT(v.states, v.operations);
        for (int kind = 0; kind < static_cast<int>(crash_fault::count_); ++kind) {
            EXPECT_EQ(v.faults[kind] > 0, c.found.contains(static_cast<crash_fault>(kind)))
                << "fault kind " << kind << "\n"
                << v.report;
        }
    }
}

// The states of one file with unsynced data: lost, cut at each block, whole.
TEST(CrashModel, UnsyncedDataIsLostCutAtEachBlockOrWhole) {
    record_maker r;
    r.create("d/new", 7).write(7, std::string(3 * BLOCK + 1, 'n'));
    const crash_verdict v = check_crash_states(r.events, {{}, {}, false});
    // Before the creation: 1 state; after it: nothing lost, all lost; after
    // the write: those two, then the data lost or cut at 1, 2 or 3 blocks,
    // each with the creation kept or lost, and the creation lost with the
    // data whole.
    EXPECT_EQ(v.states, 1u + 3u + 2u + (2u * 5u - 1u));
    EXPECT_EQ(v.named(crash_fault::stray_file), (std::set<std::string>{"d/new"}));
}
