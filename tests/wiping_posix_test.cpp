// Key material does not outlive its use: the whole memory of a running
// tovik (run_driver in a forked child) is searched from outside, through
// /proc/<pid>/mem, for the passphrase and everything derived from it. The
// secrets are made in the parent after the fork, so the child can only hold
// what it was typed and derived itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cipher/key_schedule.h"
#include "cipher/rc4.h"
#include "cipher/wipe.h"
#include "support/pty_posix.h"
#include "support/runs.h"
#include "support/tovik_run_posix.h"

namespace fs = std::filesystem;
using namespace tovik_run;

namespace {

using secrets = std::map<std::string, std::string>;  // what it is -> its bytes

// A key nobody else has: random letters, drawn after the child was forked.
std::string fresh_key() {
    std::random_device device;
    std::string key(24, ' ');
    for (char& c : key) c = static_cast<char>('a' + device() % 26);
    return key;
}

std::string bytes_of(const void* data, std::size_t size) {
    return std::string(static_cast<const char*>(data), size);
}

// The passphrase and what a transform of a file of body_length bytes derives
// from it: key text (and its halves, the digests it is made of), cipher key,
// and the RC4 permutation after setup and after the last byte.
secrets derived_from(const std::string& key, std::size_t body_length) {
    key_material keys;
    derive_key_material(key.c_str(), keys);
    rc4_state state = rc4_of_passphrase(key);
    secrets found{{"passphrase", key},
                  {"key text", keys.key_text},
                  {"key text, first digest", std::string(keys.key_text, 32)},
                  {"key text, second digest", std::string(keys.key_text + 32, 32)},
                  {"cipher key", bytes_of(keys.cipher_key, sizeof keys.cipher_key)},
                  {"RC4 permutation after setup", bytes_of(state.perm, sizeof state.perm)}};
    std::string body(body_length, '\0');
    rc4_apply(reinterpret_cast<std::uint8_t*>(body.data()), body.size(), state);
    found["RC4 permutation at the end"] = bytes_of(state.perm, sizeof state.perm);
    return found;
}

// The names of the secrets found anywhere in the readable memory of pid,
// except the stack below stack_floor (given: the dead part of the stack).
// Regions over 1 GiB are reservations (sanitizer shadow), not data.
std::vector<std::string> found_in_memory(pid_t pid, const secrets& wanted,
                                         std::uint64_t stack_floor = 0) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::ifstream maps(proc + "/maps");
    const int mem = open((proc + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
    if (!maps || mem < 0) {
        ADD_FAILURE() << "cannot read the memory of " << pid;
        return {};
    }
    std::vector<std::string> found;
    std::string line;
    std::size_t regions = 0;
    while (std::getline(maps, line)) {
        std::uint64_t start = 0, end = 0;
        char dash = 0;
        std::string permissions;
        std::istringstream(line) >> std::hex >> start >> dash >> end >> permissions;
        if (permissions.empty() || permissions[0] != 'r' || end - start > (1ull << 30)) continue;
        if (line.ends_with("[stack]")) start = std::clamp(stack_floor, start, end);
        std::string region(end - start, '\0');
        std::size_t got = 0;
        while (got < region.size()) {
            const ssize_t n = pread(mem, region.data() + got, region.size() - got,
                                    static_cast<off_t>(start + got));
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        region.resize(got);
        regions += got > 0;
        for (const auto& [name, bytes] : wanted) {
            if (region.find(bytes) != std::string::npos &&
                std::find(found.begin(), found.end(), name) == found.end()) {
                found.push_back(name);
            }
        }
    }
    close(mem);
    EXPECT_GT(regions, 3u) << "the memory of " << pid << " was not read";
    return found;
}

// ThreadSanitizer keeps copies of the program's registers and memory where
// the program cannot reach them: in its interceptors' dead frames and in each
// thread's own state (a thread inherits the registers of the one that started
// it, key bytes included). The search would find those, not the program's.
#if defined(__SANITIZE_THREAD__)
constexpr bool SANITIZER_KEEPS_COPIES = true;
#elif defined(__has_feature)
constexpr bool SANITIZER_KEEPS_COPIES = __has_feature(thread_sanitizer);
#else
constexpr bool SANITIZER_KEEPS_COPIES = false;
#endif

int exit_report_fd = -1;

// Runs last at exit, after the driver's own wipe: tells the test where the
// live stack ends, then waits for a line on the terminal so that the test
// can look first. Below that point lie dead frames, where the dynamic
// linker's first call of a function through the PLT saves the vector
// registers: key bytes that libc's string functions left in them can land
// there, beyond the program's reach (linking with -z now avoids it).
void hold_at_exit() {
    char line = 0;
    const auto live_end = reinterpret_cast<std::uint64_t>(&line);
    if (write(exit_report_fd, &live_end, sizeof live_end) != sizeof live_end) _exit(98);
    while (read(STDIN_FILENO, &line, 1) == 1 && line != '\n') {
    }
}

// Runs step far below the caller's frame, so that nothing the caller does
// afterwards can overwrite what step left on the stack: only its own wiping
// can. Steps at different depths do not overwrite each other either.
template <std::size_t depth, typename Step>
[[gnu::noinline]] int run_below(Step step) {
    volatile char pad[depth];
    pad[0] = 0;
    const int result = step();
    pad[depth - 1] = pad[0];
    return result;
}

// Child: encrypts a first file with a key of its own, so that every function
// the transform calls is bound (see hold_at_exit); then reads a key line from
// the terminal, encrypts file with it, derives the key material once more on
// its own, wipes its copy of the key, reports, and waits for a line.
int transform_then_wait(int report, const char* file) {
    std::string first = std::string(file) + ".first";
    run_below<64 * 1024>([&] { return transform_alone(first, "first key", true); });
    char key[256] = {};
    std::size_t length = 0;
    while (length + 1 < sizeof key && read(STDIN_FILENO, key + length, 1) == 1 &&
           key[length] != '\n') {
        ++length;
    }
    key[length] = 0;
    std::string path = file;
    // The transform takes the key as a string: this copy is the test's own to wipe.
    std::string key_string(key);
    const int outcome =
        run_below<64 * 1024>([&] { return transform_alone(path, key_string, false); });
    wipe(key_string.data(), key_string.size());
    // The digests derive_key_material chains, which the transform's later
    // calls would overwrite anyway.
    // Its result is destroyed up here, so that no call follows it down there.
    auto keys = std::make_unique<key_material>();
    run_below<256 * 1024>([&] {
        derive_key_material(key, *keys);
        return 0;
    });
    keys.reset();
    wipe(key, sizeof key);
    if (write(report, &outcome, sizeof outcome) != sizeof outcome) return 98;
    char line = 0;
    while (read(STDIN_FILENO, &line, 1) == 1 && line != '\n') {
    }
    return 0;
}

std::vector<std::string> names_of(const secrets& all) {
    std::vector<std::string> names;
    for (const auto& [name, bytes] : all) names.push_back(name);
    return names;
}

}  // namespace

// Control: while a file is being encrypted, the search does find the key
// material, on the transform's stack and in the run's.
TEST(Wiping, KeyMaterialIsFoundWhileInUse) {
    temp_dir dir;
    write_file(dir.at("huge"), "");
    fs::resize_file(dir.at("huge"), 1ull << 30);  // reads as zeros, costs no disk
    pty::session run;
    ASSERT_TRUE(start_driver(run, dir.root, {"huge"}));
    const std::string key = fresh_key();
    ASSERT_TRUE(type_dialogue(run, key));
    ASSERT_TRUE(output_in_progress(run, dir.root)) << run.transcript();
    ASSERT_TRUE(run.signal(SIGSTOP));
    ASSERT_TRUE(run.wait_until_stopped());
    secrets wanted = derived_from(key, 0);
    wanted.erase("RC4 permutation after setup");  // already changed by the data
    wanted.erase("RC4 permutation at the end");
    wanted.erase("passphrase");  // wiped once the key material is derived
    std::vector<std::string> found = found_in_memory(run.pid(), wanted);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, names_of(wanted));
    run.signal(SIGKILL);
    run.wait_exit();
}

// At the ready prompt its key material is there (control); at the very end of
// the process, once the driver has returned, nothing derived from it is left
// in the run's buffers, the heap or the live stack, not even a copy pasted
// once more than asked for. The transform's own frames are checked on its
// return, below.
TEST(Wiping, NoKeyMaterialIsLeftAtExit) {
    if (SANITIZER_KEEPS_COPIES) GTEST_SKIP() << "ThreadSanitizer keeps copies of its own";
    temp_dir dir;
    const std::string plain = random_bytes(300000, 21);
    write_file(dir.at("note"), plain);
    pty::session run;
    ASSERT_TRUE(start_driver(run, dir.root, {"note"}, [](int report) {
        exit_report_fd = report;
        std::atexit(hold_at_exit);  // runs once the driver has returned
        return true;
    }));
    const std::string key = fresh_key();
    ASSERT_TRUE(run.wait_for_output("Key:"));
    ASSERT_TRUE(run.send_when_reading(key + "\r" + key + "\r" + key + "\r"));
    ASSERT_TRUE(run.wait_for_output(READY));
    EXPECT_EQ(found_in_memory(run.pid(), {{"key text", derived_from(key, 0).at("key text")}}),
              std::vector<std::string>{"key text"});
    ASSERT_TRUE(run.send("y\n"));
    std::uint64_t live_end = 0;
    ASSERT_TRUE(run.wait_for_report(sizeof live_end)) << run.transcript();
    std::memcpy(&live_end, run.report().data(), sizeof live_end);
    EXPECT_EQ(found_in_memory(run.pid(), derived_from(key, plain.size()), live_end),
              std::vector<std::string>{});
    ASSERT_TRUE(run.send("\n"));
    const pty::exit_status status = run.wait_exit();
    EXPECT_TRUE(status.exited && status.code == 0);
    EXPECT_EQ(read_file(dir.at("note.tvk")), container_of(plain, key));
}

// The transform wipes its key material and RC4 state before it returns, and
// the key schedule its intermediate digests.
TEST(Wiping, TransformLeavesNoKeyMaterialBehind) {
    if (SANITIZER_KEEPS_COPIES) GTEST_SKIP() << "ThreadSanitizer keeps copies of its own";
    temp_dir dir;
    const std::string plain = random_bytes(300000, 22);
    write_file(dir.at("plain"), plain);
    write_file(dir.at("plain.first"), plain);
    const std::string path = dir.at("plain");
    pty::session run;
    ASSERT_TRUE(
        run.start([&path](int report) { return transform_then_wait(report, path.c_str()); }));
    const std::string key = fresh_key();
    ASSERT_TRUE(run.send(key + "\n"));
    ASSERT_TRUE(run.wait_for_report(sizeof(int)));
    int outcome = -1;
    std::memcpy(&outcome, run.report().data(), sizeof outcome);
    EXPECT_EQ(outcome, 0);
    EXPECT_EQ(found_in_memory(run.pid(), derived_from(key, plain.size())),
              std::vector<std::string>{});
    ASSERT_TRUE(run.send("\n"));
    EXPECT_TRUE(run.wait_exit().exited);
    EXPECT_EQ(read_file(dir.at("plain.tvk")), container_of(plain, key));
}
