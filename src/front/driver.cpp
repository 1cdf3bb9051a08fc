#include "front/driver.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <optional>

#include "cipher/wipe.h"
#include "collect/targets.h"
#include "front/key_entry.h"
#include "front/manual.h"
#include "front/progress.h"
#include "platform/ending.h"
#include "platform/status_line.h"
#include "platform/terminal.h"
#include "run/outcome.h"
#include "run/run.h"

namespace {

void print_banner() {
    std::printf("\n------------ TovikVault -----------");
    std::printf("\n|                                 |");
    std::printf("\n| tovik: console file encryptor   |");
    std::printf("\n| RC4 + MD5 key, .tvk containers  |");
    std::printf("\n| built by the tovik project      |");
    std::printf("\n| version 1.0                     |");
    std::printf("\n|                                 |");
    std::printf("\n-----------------------------------\n\n");
}

void print_usage() {
    std::printf("\nUsage: tovik <input file> [flag]\n");
    std::printf("\n       flag: -d this flag will delete the original");
    std::printf("\n             input file after the operation\n");
    std::printf("\nnotes: The input file can accept wildcards like '*', '*.*',");
    std::printf("\n       '*.exe', '*.t*', path, full path or filename only. \n\n");
    std::printf("\ntype \"tovik -h|more\" for full detailed info\n");
}

// Prints the message of code for the target at path, whose output (empty
// when not known) is output, where its reader gets it at once; the exit
// status the run ends with for the codes that end it, none for the others.
std::optional<int> report_outcome(int code, const std::string& path, const std::string& output = {}) {
    const char* p = path.c_str();
    std::optional<int> status;
    switch (code) {
        case OUTCOME_ENCRYPTED: std::printf("%s encrypting .....ok!\n", p); break;
        case OUTCOME_DECRYPTED: std::printf("%s decrypting .....ok!\n", p); break;
        case OUTCOME_NOT_FOUND: std::printf("%s not found\n", p); break;
        case OUTCOME_EMPTY_FILE: std::printf("bypassing 0byte file %s\n", p); break;
        case OUTCOME_OUTPUT_IS_TARGET:
            std::printf("%s skipped: its output would replace another file of this run\n", p);
            break;
        case OUTCOME_INPUT_CHANGED:
            std::printf("%s was not replaced: it changed after it was read\n", p);
            break;
        case OUTCOME_OWN_OUTPUT:
            std::printf("%s skipped: it is a file this run has written\n", p);
            break;
        case OUTCOME_DISK_WRITE:
            std::printf("cannot write to disk, possibly full\n");
            status = 1;
            break;
        case OUTCOME_INPUT_FAILED:
            std::printf("\ncannot process input file %s\n", p);
            status = 1;
            break;
        case OUTCOME_OUTPUT_FAILED:
            // The output that could not be written; for "x.tvk", decrypted to
            // "x", the container itself.
            std::printf("\ncannot write the output file %s\n",
                        output + std::string(CONTAINER_SUFFIX) == path ? p : output.c_str());
            status = 1;
            break;
        case OUTCOME_WRONG_KEY:
            std::printf("incorrect key, no operations were performed\n");
            status = 0;
            break;
        case OUTCOME_OUT_OF_MEMORY:
            std::printf("\ncannot go on: out of memory\n");
            status = 1;
            break;
        default: break;
    }
    std::fflush(stdout);
    return status;
}

// Reads one entry of the passphrase; a terminal that cannot be read must not
// leave the run going on with an empty or partial key.
bool read_key(char (&buffer)[PASSPHRASE_SIZE]) {
    std::fflush(stdout);  // the prompt is visible even when output is a pipe
    if (read_masked_key(buffer, '*') == 0) return true;
    std::printf("\ncannot read the key: no terminal to type it at\n");
    return false;
}

// The passphrase as typed, and its re-entry; wiped when the run is done.
struct passphrase_entries {
    char first[PASSPHRASE_SIZE] = {};
    char second[PASSPHRASE_SIZE] = {};
    passphrase_entries() = default;
    passphrase_entries(const passphrase_entries&) = delete;
    passphrase_entries& operator=(const passphrase_entries&) = delete;
    ~passphrase_entries() {
        wipe(first, sizeof first);
        wipe(second, sizeof second);
    }
};

// The passphrase, typed once when one_entry; the status to end with when the
// run must not go on.
std::optional<int> ask_passphrase(passphrase_entries& typed, bool one_entry) {
    std::printf("Key:");
    if (!read_key(typed.first)) return 1;
    if (one_entry) return std::nullopt;
    // A passphrase that may encrypt is typed twice and must match: a typo
    // would lock the file away under a key nobody knows.
    std::printf("\nReenter Key:");
    if (!read_key(typed.second)) return 1;
    if (std::strcmp(typed.first, typed.second) != 0) {
        std::printf("\nKey you type is incorrect\n");
        return 0;
    }
    return std::nullopt;
}

bool confirm_ready() {
    std::printf("\n\nready[y|n]:[y]");
    std::fflush(stdout);
    const int answer = std::getchar();  // end of input counts as yes, like Enter
    if (answer != EOF && std::toupper(answer) == 'N') {
        std::printf("\nprocess aborted...\n\n");
        return false;
    }
    return true;
}

// How often the progress line is brought up to date.
constexpr std::chrono::milliseconds PROGRESS_EVERY{250};

// The run's targets pulled one by one in list order and reported; the
// progress line drawn while one takes long. The status the run ends with,
// once every output and deletion is on the disk.
int process(target_run& run) {
    const bool show_progress = progress_wanted();
    bool drawn = false;
    std::optional<int> status;  // set when the run must end
    bool kept = false;          // a target's input kept, beyond those "-d" kept
    while (!status) {
        if (!run.wait(PROGRESS_EVERY)) {
            if (const std::optional<target_progress> shown = show_progress ? run.progress() : std::nullopt) {
                // The width is read at each redraw: the window may be resized meanwhile.
                draw_status_line(progress_text(shown->path, shown->done, shown->total,
                                               shown->seconds, status_line_width()));
                drawn = true;
            }
            continue;
        }
        const std::optional<target_outcome> done = run.next();
        if (drawn) erase_status_line();
        drawn = false;
        if (!done) break;
        status = report_outcome(done->outcome, done->path, done->output);
        kept = kept || done->outcome == OUTCOME_INPUT_CHANGED;
        // Nobody reads what the run says any more (a closed pipe, say): it
        // ends as an interrupt ends it, with nothing more deleted.
        if (std::ferror(stdout)) return 1;
    }
    // Every output of the run made durable and the inputs waiting deleted,
    // and the deletions made durable; the inputs kept are named.
    const std::optional<int> failed = run.finish();
    if (failed) report_outcome(*failed, "");
    for (const std::string& line : run.kept()) std::printf("%s", line.c_str());
    if (failed) return 1;
    if (status) return run.kept().empty() && !kept ? *status : 1;
    std::printf("\nfin\n");
    return run.kept().empty() && !kept ? 0 : 1;
}

int run_targets(const target_list& targets, bool delete_input) {
    target_run run(targets, delete_input);
    const bool one_entry = run.head() == head_kind::container;
    key_material keys;
    {
        passphrase_entries typed;
        const std::optional<int> refused = ask_passphrase(typed, one_entry);
        forget_typed_keys();
        if (refused) return *refused;
        if (!confirm_ready()) return 0;
        derive_key_material(typed.first, keys);
    }
    std::printf("\n");
    // A key typed once is checked against the head's header before any
    // target is read or written.
    if (one_entry && !run.head_opens_with(keys)) {
        return *report_outcome(OUTCOME_WRONG_KEY, std::string(targets.path(0)));
    }
    // A progress line is drawn while a worker prepares the target waited for.
    run.start(keys, std::max(workers_for(targets), progress_wanted() ? 1u : 0u));
    return process(run);
}

// The argument rules: the status to end with at once, or none when the run
// goes on with argv[1] (and "-d" when delete_input is set).
std::optional<int> follow_arguments(int argc, char** argv, bool& delete_input) {
    if (argc == 2) {
        if (std::strcmp(argv[1], "-h") == 0) {
            if (show_manual() == -1) std::printf("\ncannot find the file tovik.man\n\n");
            return 0;
        }
        // As other console tools answer them; a file of that name is still
        // reachable as "./--help".
        if (std::strcmp(argv[1], "--help") == 0) {
            print_usage();
            return 0;
        }
        if (std::strcmp(argv[1], "--version") == 0) {
            std::printf("tovik 1.0\n");
            return 0;
        }
        return std::nullopt;
    }
    if (argc == 3) {
        if (std::strcmp(argv[2], "-d") == 0) {
            delete_input = true;
            return std::nullopt;
        }
        std::printf("\nunknown %s flag\n\n", argv[2]);
        return 0;
    }
    print_usage();
    return 0;
}

int run_over(const char* pattern, bool delete_input) {
    try {
        target_list targets;
        collect_targets(&targets, pattern);
        if (targets.empty()) return *report_outcome(OUTCOME_INPUT_FAILED, pattern);
        const int status = run_targets(targets, delete_input);
        free_targets(&targets);
        return status;
    } catch (const std::bad_alloc&) {
        // Everything of the run is undone or in place by now (its threads
        // joined, its temporaries removed); it ends here.
        std::printf("\ncannot go on: out of memory\n");
    } catch (const std::exception& failure) {
        std::printf("\ncannot go on: %s\n", failure.what());
    }
    return 1;
}

}  // namespace

int run_driver(int argc, char** argv) {
    setup_standard_output();
    const bool ending_started = start_ending();
    print_banner();
    bool delete_input = false;
    std::optional<int> status = follow_arguments(argc, argv, delete_input);
    if (!status && !ending_started) {
        // Nothing is touched that a signal could then leave half done.
        std::printf("\ncannot go on: no thread can be started to end the run safely\n");
        status = 1;
    }
    if (!status) status = run_over(argv[1], delete_input);
    // What could not be written is lost: the program did not end as it says.
    if ((std::fflush(stdout) != 0 || std::ferror(stdout)) && *status == 0) status = 1;
    return *status;
}
