// The modes beside the run over files, through the real binary on a
// terminal: containers to standard output (-c), a filter from standard input
// (tovik -), a new passphrase in place (-x); the dialogue seen on the
// terminal whatever standard output is; the console's habits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/tovik_run_posix.h"

using namespace tovik_run;

namespace {

const std::string KEY = "old key", NEW_KEY = "new key";

// Waits for prompt (after what was seen), then types text at it: keys once
// the terminal is read key by key, a line at the ready prompt.
bool type_at(pty::session& run, const std::string& prompt, const std::string& text) {
    const std::size_t from = run.transcript().size();
    return run.wait_for_output(prompt, from > prompt.size() ? from - prompt.size() : 0) &&
           (prompt == READY ? run.send(text) : run.send_when_reading(text));
}

// tovik with args through bash, whose redirections come after them.
bool start_shell(pty::session& run, const std::string& dir, const std::vector<std::string>& args,
                 const std::string& redirections) {
    std::vector<std::string> argv{"/bin/bash", "-c", "\"$0\" \"$@\" " + redirections, TOVIK_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    pty::child_options options;
    options.working_dir = dir;
    return run.start(argv, options);
}

void expect_exit(const pty::exit_status& status, int code, const std::string& transcript) {
    EXPECT_TRUE(status.exited && status.code == code)
        << "exited " << status.exited << " code " << status.code << " [" << transcript << "]";
}

}  // namespace

// Every container among the targets to standard output, in list order; a
// plain file named; nothing written beside them; the dialogue on the
// terminal. A wrong key: nothing more out, the line, status 1.
TEST(Modes, ContainersToStandardOutput) {
    temp_dir dir, out;
    const std::map<std::string, std::string> plain = {{"d/a", random_bytes(300000, 1)},
                                                      {"d/b", "second"}};
    for (const auto& [name, bytes] : plain) ASSERT_TRUE(write_file(dir.at(name + ".tvk"), container_of(bytes, KEY)));
    ASSERT_TRUE(write_file(dir.at("d/p"), "plain"));
    const auto before = snapshot(dir.root);
    std::string expected;
    for (const std::string& target : targets_in(dir.root, "d")) {
        if (target != "d/p") expected += plain.at(stripped(target));
    }
    for (const std::string& key : {KEY, std::string("wrong")}) {
        SCOPED_TRACE(key);
        pty::session run;
        ASSERT_TRUE(start_shell(run, dir.root, {"d", "-c"}, "> " + out.at("out")));
        ASSERT_TRUE(type_at(run, BANNER + "Key:", key + "\r"));
        const pty::exit_status status = run.wait_exit();
        EXPECT_TRUE(snapshot(dir.root) == before);
        if (key == KEY) {
            expect_exit(status, 0, run.transcript());
            EXPECT_TRUE(read_file(out.at("out")) == expected);
            EXPECT_NE(run.transcript().find("d/p skipped: it is not a container\n"), std::string::npos);
        } else {
            expect_exit(status, 1, run.transcript());
            EXPECT_EQ(read_file(out.at("out")), "");
            EXPECT_TRUE(run.transcript().ends_with("incorrect key, no operations were performed\n"));
        }
    }
}

// What goes to standard output is never more than the containers hold: one
// that cannot be read to its end ends the output and the run, status 1; and
// standard output, a container among the targets, is not read while it grows.
TEST(Modes, StandardOutputHoldsWholeContainersOnly) {
    temp_dir dir, out;
    const std::string first = random_bytes(300000, 3), second = random_bytes(300000, 4);
    ASSERT_TRUE(write_file(dir.at("d/a.tvk"), container_of(first, KEY)));
    ASSERT_TRUE(write_file(dir.at("d/b.tvk"), container_of(second, KEY)));
    const std::vector<std::string> order = targets_in(dir.root, "d");
    const std::string& cut = order[0] == "d/a.tvk" ? first : second;
    pty::session run;
    ASSERT_TRUE(start_driver(run, dir.root, {"d", "-c"}, [&](int) {
        fault_clear();
        fault_arm(fault_point::read, 3, EIO);  // after the first target's first block
        const int fd = ::open(out.at("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        return fd >= 0 && ::dup2(fd, 1) == 1;
    }));
    ASSERT_TRUE(type_at(run, BANNER + "Key:", KEY + "\r"));
    expect_exit(run.wait_exit(), 1, run.transcript());
    const std::string got = read_file(out.at("out"));
    EXPECT_TRUE(got.size() < cut.size() && cut.starts_with(got)) << got.size() << " bytes out";
    EXPECT_NE(run.transcript().find("cannot process input file " + order[0]), std::string::npos);

    const std::string dump = container_of("an older dump", KEY);
    ASSERT_TRUE(write_file(dir.at("d/dump"), dump));
    pty::session appending;
    ASSERT_TRUE(start_shell(appending, dir.root, {"d", "-c"}, ">> d/dump"));
    ASSERT_TRUE(type_at(appending, BANNER + "Key:", KEY + "\r"));
    expect_exit(appending.wait_exit(), 0, appending.transcript());
    EXPECT_NE(appending.transcript().find("d/dump skipped: it is a file this run has written"),
              std::string::npos);
    std::string expected = dump;
    for (const std::string& target : targets_in(dir.root, "d"))
        if (target != "d/dump") expected += target == "d/a.tvk" ? first : second;
    EXPECT_TRUE(read_file(dir.at("d/dump")) == expected);
}

// A stream enciphered and deciphered through tovik -: the container byte for
// byte, the plain text back, nothing else on the disk; never encrypted data
// to a terminal.
TEST(Modes, AFilterFromStandardInput) {
    temp_dir dir;
    const std::string plain = random_bytes(1000000, 2);
    ASSERT_TRUE(write_file(dir.at("plain"), plain));
    struct step {
        const char* redirections;
        bool twice;  // the key asked twice: encrypting
    } steps[] = {{"< plain > box", true}, {"< box > back", false}};
    for (const step& s : steps) {
        SCOPED_TRACE(s.redirections);
        pty::session run;
        ASSERT_TRUE(start_shell(run, dir.root, {"-"}, s.redirections));
        ASSERT_TRUE(type_at(run, BANNER + "Key:", KEY + "\r"));
        if (s.twice) {
            ASSERT_TRUE(type_at(run, "Reenter Key:", KEY + "\r"));
        }
        expect_exit(run.wait_exit(), 0, run.transcript());
    }
    EXPECT_TRUE(read_file(dir.at("box")) == container_of(plain, KEY));
    EXPECT_TRUE(read_file(dir.at("back")) == plain);
    EXPECT_EQ(dir.names(), (std::set<std::string>{"plain", "box", "back"}));
    pty::session run;
    ASSERT_TRUE(start_shell(run, dir.root, {"-"}, "< plain"));
    expect_exit(run.wait_exit(), 1, run.transcript());
    EXPECT_TRUE(run.transcript().ends_with("not written to a terminal: redirect standard output\n"));
}

// A new passphrase for every container, in place, interrupted at random
// moments on four workers: each container opens under the old passphrase or
// the new one, never neither; a plain file is left alone; no temporary stays.
// Run to the end, every container opens under the new one.
TEST(Modes, ANewKeyInPlaceIsOneOrTheOther) {
    std::mt19937 pick(27);
    for (int trial = 0; trial < 8; ++trial) {
        SCOPED_TRACE(trial);
        temp_dir dir("/dev/shm");
        std::map<std::string, std::string> plain;
        for (int i = 0; i < 60; ++i) plain["t/f" + std::to_string(i)] = random_bytes(pick() % 400000, pick());
        for (const auto& [name, bytes] : plain) ASSERT_TRUE(write_file(dir.at(name), container_of(bytes, KEY)));
        ASSERT_TRUE(write_file(dir.at("t/plain"), "left alone"));
        pty::session run;
        pty::child_options options;
        options.set_env = {{"TOVIK_WORKERS", "4"}};
        ASSERT_TRUE(start_binary(run, dir.root, {"t", "-x"}, false, options));
        ASSERT_TRUE(type_at(run, BANNER + "Key:", KEY + "\r"));
        ASSERT_TRUE(type_at(run, "New Key:", NEW_KEY + "\r"));
        ASSERT_TRUE(type_at(run, "Reenter New Key:", NEW_KEY + "\r"));
        ASSERT_TRUE(type_at(run, READY, "y\n"));
        const bool interrupted = trial < 7;
        if (interrupted) {
            std::this_thread::sleep_for(std::chrono::milliseconds(pick() % 40));
            run.signal(SIGTERM);
        }
        const pty::exit_status status = run.wait_exit();
        if (!interrupted) expect_exit(status, 0, run.transcript());
        const auto after = snapshot(dir.root);
        EXPECT_EQ(after.size(), plain.size() + 1) << "a temporary or a file more";
        EXPECT_EQ(after.at("t/plain"), "left alone");
        for (const auto& [name, bytes] : plain) {
            const bool fresh = after.at(name) == container_of(bytes, NEW_KEY);
            EXPECT_TRUE(fresh || (interrupted && after.at(name) == container_of(bytes, KEY))) << name;
        }
    }
}

// The current passphrase wrong: the run ends before a new one is asked for,
// nothing changed.
TEST(Modes, ANewKeyNeedsTheCurrentOne) {
    temp_dir dir;
    ASSERT_TRUE(write_file(dir.at("a.tvk"), container_of("kept", KEY)));
    pty::session run;
    ASSERT_TRUE(start_binary(run, dir.root, {"a.tvk", "-x"}));
    ASSERT_TRUE(type_at(run, BANNER + "Key:", "wrong\r"));
    expect_exit(run.wait_exit(), 1, run.transcript());
    EXPECT_EQ(run.transcript(),
              BANNER + "Key:*****\nincorrect key, no operations were performed\n");
    EXPECT_EQ(read_file(dir.at("a.tvk")), container_of("kept", KEY));
}

// Standard output to a file: the dialogue is seen on the terminal too, and
// the file holds what it always has.
TEST(Modes, TheDialogueIsSeenWhereTheUserIs) {
    temp_dir dir, out;
    ASSERT_TRUE(write_file(dir.at("a"), "plain"));
    pty::session run;
    ASSERT_TRUE(start_shell(run, dir.root, {"a"}, "> " + out.at("log")));
    ASSERT_TRUE(type_at(run, "Key:", KEY + "\r"));
    ASSERT_TRUE(type_at(run, "Reenter Key:", KEY + "\r"));
    ASSERT_TRUE(type_at(run, READY, "y\n"));
    expect_exit(run.wait_exit(), 0, run.transcript());
    const std::string dialogue = dialogue_text(KEY.size(), true, "");
    EXPECT_EQ(read_file(out.at("log")), dialogue + "\na encrypting .....ok!\n\nfin\n");
    EXPECT_EQ(run.transcript(), dialogue.substr(BANNER.size()) + "y\n");
}

// --version and --help answer from their first line; a worker count that
// cannot be taken is named.
TEST(Modes, ConsoleHabits) {
    temp_dir dir;
    pty::session version, help;
    ASSERT_TRUE(start_binary(version, dir.root, {"--version"}));
    expect_exit(version.wait_exit(), 0, version.transcript());
    EXPECT_EQ(version.transcript(), "tovik 1.0\n");
    ASSERT_TRUE(start_binary(help, dir.root, {"--help"}));
    expect_exit(help.wait_exit(), 0, help.transcript());
    EXPECT_TRUE(help.transcript().starts_with("Usage: tovik <input file> [flag]\n")) << help.transcript();
    pty::session workers;
    pty::child_options options;
    options.set_env = {{"TOVIK_WORKERS", "many"}};
    ASSERT_TRUE(start_binary(workers, dir.root, {"missing"}, false, options));
    expect_exit(workers.wait_exit(), 1, workers.transcript());
    EXPECT_EQ(workers.transcript(), BANNER + "TOVIK_WORKERS=many is not a number from 1 to 16: ignored\n" +
                                        "\ncannot process input file missing\n");
}
