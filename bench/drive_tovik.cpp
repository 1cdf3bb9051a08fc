// Runs tovik once on a pseudo-terminal as a person would: types the key at
// each prompt for one (again when asked to re-enter it; the new key, when
// one is given, where a new key is asked for),
// answers the ready prompt with "y", and prints one line for bench/e2e.sh:
//
//   wall_s=<seconds from start to "fin"> work_s=<the same less the dialogue's
//   time, from the first prompt to the last answer> status=<exit status>
//   maxrss_kib=<peak RSS> user_s=<child user CPU> sys_s=<child system CPU>
//
// The wall time ends when the run prints its closing "fin" (or, for a run
// without one, when it ends), so the pause the helper takes to notice the
// exit is not counted; the rest comes from getrusage of the one child this
// process reaps.
//
// Usage: drive_tovik [-C dir] [-k key] [-n new key] tovik-binary arguments...
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/pty_posix.h"

namespace {

using clock_type = std::chrono::steady_clock;
constexpr std::string_view READY = "ready[y|n]:[y]";
constexpr std::string_view FIN = "\nfin\n";
constexpr pty::milliseconds LONG_RUN{600000};

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

int fail(const char* what, pty::session& session) {
    std::fprintf(stderr, "drive_tovik: %s; transcript so far:\n%s\n", what,
                 session.transcript().c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    pty::child_options options;
    std::string key = "k", new_key;
    int first = 1;
    for (; first + 1 < argc && argv[first][0] == '-'; first += 2) {
        if (std::strcmp(argv[first], "-C") == 0) options.working_dir = argv[first + 1];
        else if (std::strcmp(argv[first], "-k") == 0) key = argv[first + 1];
        else if (std::strcmp(argv[first], "-n") == 0) new_key = argv[first + 1];
        else break;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: drive_tovik [-C dir] [-k key] [-n new key] tovik-binary arguments...\n");
        return 2;
    }
    const std::vector<std::string> command(argv + first, argv + argc);

    pty::session session;
    const clock_type::time_point start = clock_type::now();
    if (!session.start(command, options)) return fail("cannot start", session);
    // Every prompt that ends in "Key:" (the key, its re-entry, a new key and
    // its re-entry) gets the key, the ready prompt "y". The run is over at
    // "fin", or when it ends without one (-c, tovik -). Only the new output
    // is searched each time: a run over many files prints a long
    // transcript, and rescanning it would load the machine; short waits keep
    // each search to the little that arrived since the last.
    std::size_t keys_typed = 0, from = 0;
    bool answered = false, finished = false;
    // From the first prompt to the last answer: the time the dialogue takes,
    // which is the typist's and not the run's.
    clock_type::time_point asked_first{}, answered_last{};
    while (!finished && clock_type::now() - start < LONG_RUN) {
        const clock_type::time_point asked = clock_type::now();
        finished = session.wait_for_output(FIN, from, pty::milliseconds{10});
        const std::string& seen = session.transcript();
        std::size_t prompts = 0;  // counted while the dialogue lasts
        bool asks_new = false;    // the last prompt asks for a new key
        for (std::size_t at = answered ? std::string::npos : seen.find("Key:"); at != std::string::npos;
             at = seen.find("Key:", at + 1)) {
            ++prompts;
            asks_new = at >= 4 && seen.compare(at - 4, 4, "New ") == 0;
        }
        if (prompts > keys_typed) {
            if (keys_typed == 0) asked_first = clock_type::now();
            const std::string& typed = asks_new && !new_key.empty() ? new_key : key;
            if (!session.send_when_reading(typed + "\r")) return fail("cannot type the key", session);
            ++keys_typed;
            answered_last = clock_type::now();
            continue;
        }
        if (!answered && seen.find(READY) != std::string::npos) {
            if (!session.send("y\n")) return fail("cannot answer", session);
            answered = true;
            answered_last = clock_type::now();
        }
        if (keys_typed > 0) from = seen.size() > FIN.size() ? seen.size() - FIN.size() : 0;
        // A wait that gives up early means the output was closed: the run ended.
        if (!finished && clock_type::now() - asked < std::chrono::milliseconds{9}) {
            finished = keys_typed > 0;
            break;
        }
    }
    const clock_type::time_point end = clock_type::now();
    const pty::exit_status status = session.wait_exit(LONG_RUN);
    if (!finished || !status.exited) return fail("the run did not finish", session);

    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const double wall = std::chrono::duration<double>(end - start).count();
    const double dialogue = std::chrono::duration<double>(answered_last - asked_first).count();
    std::printf("wall_s=%.6f work_s=%.6f status=%d maxrss_kib=%ld user_s=%.3f sys_s=%.3f\n", wall,
                wall - dialogue, status.code, usage.ru_maxrss, seconds(usage.ru_utime),
                seconds(usage.ru_stime));
    return 0;
}
