#include "support/tovik_run_posix.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "cipher/key_schedule.h"
#include "cipher/rc4.h"
#include "collect/targets.h"
#include "container/container.h"
#include "front/driver.h"
#include "front/key_entry.h"
#include "platform/files.h"
#include "support/runs.h"

namespace fs = std::filesystem;

namespace tovik_run {

// A progress line on the terminal would mix into the transcripts the tests
// compare: runs started from the tests show none unless a test asks for it.
const bool progress_off = ::setenv("TOVIK_PROGRESS", "0", 1) == 0;

namespace {

std::string through_rc4(std::string_view bytes, const std::string& passphrase) {
    rc4_state state = rc4_of_passphrase(passphrase);
    std::string out(bytes);
    rc4_apply(reinterpret_cast<std::uint8_t*>(out.data()), out.size(), state);
    return out;
}

}  // namespace

std::string header_of(const std::string& passphrase) {
    key_material keys;
    derive_key_material(passphrase.c_str(), keys);
    return keys.header_text;
}

std::string container_of(std::string_view plain, const std::string& passphrase) {
    return header_of(passphrase) + through_rc4(plain, passphrase);
}

std::string plain_of(std::string_view container, const std::string& passphrase) {
    return through_rc4(container.substr(std::min(container.size(), HEADER_LENGTH)), passphrase);
}

std::vector<std::string> targets_in(const std::string& dir, const std::string& pattern) {
    const fs::path back = fs::current_path();
    fs::current_path(dir);
    target_list list;
    std::vector<std::string> notes;
    collect_targets(&list, pattern, notes);
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < list.size(); ++i) {
        paths.emplace_back(list.path(i));
    }
    free_targets(&list);
    fs::current_path(back);
    return paths;
}

std::string stripped(const std::string& path) {
    return path.ends_with(".tvk") ? path.substr(0, path.size() - 4) : path;
}

void run_driver_and_exit(const std::vector<std::string>& args) {
    std::vector<std::string> words{"tovik"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::exit(run_driver(static_cast<int>(words.size()), argv.data()));
}

bool start_driver(pty::session& run, const std::string& dir, const std::vector<std::string>& args,
                  const std::function<bool(int report)>& prepare) {
    pty::child_options options;
    options.working_dir = dir;
    return run.start(
        [&](int report) -> int {
            if (prepare && !prepare(report)) return 99;
            run_driver_and_exit(args);
        },
        options);
}

bool start_binary(pty::session& run, const std::string& dir, const std::vector<std::string>& args,
                  bool as_nobody, pty::child_options options) {
    std::vector<std::string> argv{TOVIK_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    options.working_dir = dir;
    options.set_env.insert(options.set_env.begin(), {"PATH", "/usr/bin:/bin"});
    if (!as_nobody) return run.start(argv, options);
    // The program itself, in this forked child once it is nobody: the
    // binary's own path may be one nobody cannot reach (a clone under a
    // private directory).
    return run.start(
        [&](int) -> int {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                return 127;
            run_driver_and_exit(args);
        },
        options);
}

namespace {

// Where a child run reports, at its exit, how often each fault point was called.
int calls_report_fd = -1;

void report_fault_calls() {
    int calls[static_cast<int>(fault_point::count_)];
    for (int p = 0; p < static_cast<int>(fault_point::count_); ++p) {
        calls[p] = fault_calls(static_cast<fault_point>(p));
    }
    if (::write(calls_report_fd, calls, sizeof calls) != sizeof calls) ::_exit(98);
}

}  // namespace

child_run run_driver_in_child(const std::string& dir, const std::vector<std::string>& args,
                              const std::string& key, const std::function<bool()>& prepare) {
    pty::session session;
    child_run result;
    const bool started = start_driver(session, dir, args, [&](int report) {
        calls_report_fd = report;
        fault_clear();
        // Registered before the driver's own handlers, so it runs after them.
        std::atexit(report_fault_calls);
        return !prepare || prepare();
    });
    if (!started) {
        ADD_FAILURE() << "cannot start the run";
        return result;
    }
    // A failed collection ends the run before any prompt.
    if (session.wait_for_output(BANNER + "Key:")) type_dialogue(session, key);
    result.run = finish(session, key.size());
    const std::string& report = session.report();
    if (report.size() == sizeof(int) * static_cast<std::size_t>(fault_point::count_)) {
        result.calls.resize(static_cast<std::size_t>(fault_point::count_));
        std::memcpy(result.calls.data(), report.data(), report.size());
    }
    return result;
}

finished_run run_binary(const std::string& dir, const std::vector<std::string>& args,
                        const std::string& key, bool as_nobody) {
    pty::session session;
    if (!start_binary(session, dir, args, as_nobody)) {
        ADD_FAILURE() << "cannot start tovik";
        return {};
    }
    type_dialogue(session, key);
    return finish(session, key.size());
}

namespace {

std::string stars(std::size_t key_length) {
    return std::string(std::min(key_length, PASSPHRASE_SIZE - 1), '*');
}

// Which of two texts appears first after from; 0 when neither does in time.
int wait_for_either(pty::session& run, const std::string& first, const std::string& second,
                    std::size_t from) {
    for (int round = 0; round < 4000; ++round) {
        if (run.transcript().find(first, from) != std::string::npos) return 1;
        if (run.transcript().find(second, from) != std::string::npos) return 2;
        run.wait_for_output(first, from, pty::milliseconds{5});
    }
    return 0;
}

}  // namespace

bool type_dialogue(pty::session& run, const std::string& key, const std::string& answer) {
    // Collection may name what it cannot take between the banner and "Key:";
    // with standard output elsewhere, the terminal shows the dialogue alone.
    if (!run.wait_for_output("Key:")) {
        ADD_FAILURE() << "no key entry in [" << run.transcript() << "]";
        return false;
    }
    const std::string echo = "Key:" + stars(key.size());
    if (!run.send_when_reading(key + "\r") || !run.wait_for_output(echo)) {
        ADD_FAILURE() << "no key entry in [" << run.transcript() << "]";
        return false;
    }
    const int next = wait_for_either(run, "\nReenter Key:", READY, run.transcript().find(echo));
    if (next == 1 && (!run.send_when_reading(key + "\r") || !run.wait_for_output(READY))) {
        ADD_FAILURE() << "no second entry in [" << run.transcript() << "]";
        return false;
    }
    if (next == 0) {
        ADD_FAILURE() << "no ready prompt in [" << run.transcript() << "]";
        return false;
    }
    return answer.empty() || run.send(answer);
}

std::string dialogue_text(std::size_t key_length, bool confirmed, const std::string& answer) {
    std::string text = BANNER + "Key:" + stars(key_length);
    if (confirmed) text += "\nReenter Key:" + stars(key_length);
    return text + READY + answer;
}

bool output_in_progress(pty::session& run, const std::string& root) {
    for (int i = 0; i < 20000; ++i) {
        if (!temporaries(root).empty()) return true;
        run.transcript();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

finished_run finish(pty::session& run, std::size_t key_length) {
    finished_run done;
    done.status = run.wait_exit();
    done.transcript = run.transcript();
    // The lines collection printed before "Key:" belong to neither part.
    const std::size_t key = done.transcript.find("Key:", BANNER.size());
    if (!done.transcript.starts_with(BANNER) || key == std::string::npos) return done;
    done.before_dialogue = done.transcript.substr(BANNER.size(), key - BANNER.size());
    const std::string dialogue =
        done.transcript.substr(0, BANNER.size()) + done.transcript.substr(key);
    for (bool confirmed : {true, false}) {
        const std::string shown = dialogue_text(key_length, confirmed);
        if (dialogue.starts_with(shown)) {
            done.dialogue = true;
            done.confirmed = confirmed;
            done.after_dialogue = dialogue.substr(shown.size());
            break;
        }
    }
    return done;
}

}  // namespace tovik_run
