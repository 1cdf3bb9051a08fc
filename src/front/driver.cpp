#include "front/driver.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <optional>

#include "cipher/wipe.h"
#include "collect/targets.h"
#include "front/console.h"
#include "front/key_entry.h"
#include "front/manual.h"
#include "front/progress.h"
#include "platform/ending.h"
#include "platform/environment.h"
#include "platform/status_line.h"
#include "platform/terminal.h"
#include "run/outcome.h"
#include "run/run.h"
#include "run/stream.h"

namespace {

void print_banner() {
    say("\n------------ TovikVault -----------");
    say("\n|                                 |");
    say("\n| tovik: console file encryptor   |");
    say("\n| RC4 + MD5 key, .tvk containers  |");
    say("\n| built by the tovik project      |");
    say("\n| version 1.0                     |");
    say("\n|                                 |");
    say("\n-----------------------------------\n\n");
}

void print_usage() {
    say("\nUsage: tovik <input file> [flag]\n");
    say("\n       flag: -d this flag will delete the original");
    say("\n             input file after the operation\n");
    say("\nnotes: The input file can accept wildcards like '*', '*.*',");
    say("\n       '*.exe', '*.t*', path, full path or filename only. \n\n");
    say("\ntype \"tovik -h|more\" for full detailed info\n");
}

// --help: the usage with every mode, from the first line on.
void print_help() {
    std::fputs("Usage: tovik <input file> [flag]\n"
               "       tovik -\n"
               "\n"
               "       flag: -d this flag will delete the original\n"
               "             input file after the operation\n"
               "             -c decrypt the containers to standard output\n"
               "             -x give the containers a new key, in place\n"
               "\n"
               "       tovik - encrypts standard input to standard output, or\n"
               "       decrypts it when it is a container\n"
               "\n"
               "notes: The input file can accept wildcards like '*', '*.*',\n"
               "       '*.exe', '*.t*', path, full path or filename only. \n"
               "\n"
               "type \"tovik -h|more\" for full detailed info\n",
               stdout);
}

// Prints the message of code for the target at path, whose output (empty
// when not known) is output, where its reader gets it at once; the exit
// status the run ends with for the codes that end it, none for the others.
// A wrong key ends a run over files that was asked to change them with
// status 0, as it always has; any other run (-c, -x, tovik -), with 1.
std::optional<int> report_outcome(int code, const std::string& path, const std::string& output = {},
                                  run_mode mode = run_mode::convert) {
    const char* p = path.c_str();
    std::optional<int> status;
    switch (code) {
        case OUTCOME_ENCRYPTED: say("%s encrypting .....ok!\n", p); break;
        case OUTCOME_DECRYPTED: say("%s decrypting .....ok!\n", p); break;
        case OUTCOME_REKEYED: say("%s new key .....ok!\n", p); break;
        case OUTCOME_NOT_FOUND: say("%s not found\n", p); break;
        case OUTCOME_EMPTY_FILE: say("bypassing 0byte file %s\n", p); break;
        case OUTCOME_OUTPUT_IS_TARGET:
            say("%s skipped: its output would replace another file of this run\n", p);
            break;
        case OUTCOME_INPUT_CHANGED: say("%s was not replaced: it changed after it was read\n", p); break;
        case OUTCOME_OWN_OUTPUT: say("%s skipped: it is a file this run has written\n", p); break;
        case OUTCOME_NOT_A_CONTAINER: say("%s skipped: it is not a container\n", p); break;
        case OUTCOME_READ_ONLY: say("%s skipped: it is read-only\n", p); break;
        case OUTCOME_DISK_WRITE:
            say("cannot write to disk, possibly full\n");
            status = 1;
            break;
        case OUTCOME_INPUT_FAILED:
            say("\ncannot process input file %s\n", p);
            status = 1;
            break;
        case OUTCOME_OUTPUT_FAILED:
            // The output that could not be written; for "x.tvk", decrypted to
            // "x", the container itself.
            say("\ncannot write the output file %s\n",
                output + std::string(CONTAINER_SUFFIX) == path ? p : output.c_str());
            status = 1;
            break;
        case OUTCOME_WRONG_KEY:
            say("incorrect key, no operations were performed\n");
            status = mode == run_mode::convert ? 0 : 1;
            break;
        case OUTCOME_OUT_OF_MEMORY:
            say("\ncannot go on: out of memory\n");
            status = 1;
            break;
        case OUTCOME_OUTPUT_LOST:  // its reader has gone: nobody to tell
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
    say("\ncannot read the key: no terminal to type it at\n");
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

// A passphrase, typed after prompt, and once more after reprompt unless
// once; its key material into keys. The status to end with when the run
// must not go on.
std::optional<int> ask_passphrase(const char* prompt, const char* reprompt, bool once,
                                  key_material& keys) {
    passphrase_entries typed;
    ask(prompt);
    std::optional<int> refused;
    if (!read_key(typed.first)) {
        refused = 1;
    } else if (!once) {
        // A passphrase that may encrypt is typed twice and must match: a
        // typo would lock the file away under a key nobody knows.
        ask(reprompt);
        if (!read_key(typed.second)) {
            refused = 1;
        } else if (std::strcmp(typed.first, typed.second) != 0) {
            say("\nKey you type is incorrect\n");
            refused = 0;
        }
    }
    forget_typed_keys();
    if (!refused) derive_key_material(typed.first, keys);
    return refused;
}

bool confirm_ready() {
    ask("\n\nready[y|n]:[y]");
    std::fflush(stdout);
    const int answer = std::getchar();  // end of input counts as yes, like Enter
    if (answer != EOF && std::toupper(answer) == 'N') {
        say("\nprocess aborted...\n\n");
        return false;
    }
    return true;
}

// How often the progress line is brought up to date.
constexpr std::chrono::milliseconds PROGRESS_EVERY{250};

// The run's targets pulled one by one in list order and reported; the
// progress line drawn while one takes long. The status the run ends with,
// once every output and deletion is on the disk.
int process(target_run& run, run_mode mode) {
    const bool show_progress = mode != run_mode::to_output && progress_wanted();
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
        // What went to standard output is its own report.
        if (mode == run_mode::to_output && done->outcome == OUTCOME_DECRYPTED) continue;
        status = report_outcome(done->outcome, done->path, done->output, mode);
        kept = kept || done->outcome == OUTCOME_INPUT_CHANGED;
        // Nobody reads what the run says any more (a closed pipe, say): it
        // ends as an interrupt ends it, with nothing more deleted.
        if (std::ferror(stdout)) return 1;
    }
    // Every output of the run made durable and the inputs waiting deleted,
    // and the deletions made durable; the inputs kept are named.
    const std::optional<int> failed = run.finish();
    if (failed) report_outcome(*failed, "");
    for (const std::string& line : run.kept()) say("%s", line.c_str());
    if (failed) return 1;
    if (status) return run.kept().empty() && !kept ? *status : 1;
    // "fin" promises files on the disk; to standard output, there are none.
    if (mode != run_mode::to_output) say("\nfin\n");
    return run.kept().empty() && !kept ? 0 : 1;
}

int run_targets(const target_list& targets, run_mode mode, bool delete_input, unsigned workers) {
    target_run run(targets, mode, delete_input);
    const bool head_decrypted = run.head() == head_kind::container;
    key_material keys, new_keys;
    // The key a container opens with is typed once; one that may encrypt,
    // twice.
    if (const std::optional<int> refused =
            ask_passphrase("Key:", "\nReenter Key:", mode != run_mode::convert || head_decrypted, keys)) {
        return *refused;
    }
    // A key typed once is checked against the head's header before any
    // target is read or written, or a new key asked for.
    const bool head_refused = head_decrypted && !run.head_opens_with(keys);
    if (mode == run_mode::rekey && !head_refused) {
        if (const std::optional<int> refused =
                ask_passphrase("\nNew Key:", "\nReenter New Key:", false, new_keys)) {
            return *refused;
        }
    }
    // Only a run that changes files asks; a new key refused, nothing will.
    const bool changes_files = mode == run_mode::convert || (mode == run_mode::rekey && !head_refused);
    if (changes_files && !confirm_ready()) return 0;
    say("\n");
    if (head_refused) return *report_outcome(OUTCOME_WRONG_KEY, std::string(targets.path(0)), {}, mode);
    if (!run.start(keys, workers, &new_keys)) return 1;
    return process(run, mode);
}

int run_over(const char* pattern, run_mode mode, bool delete_input, std::optional<unsigned> asked) {
    try {
        target_list targets;
        std::vector<std::string> notes;
        collect_targets(&targets, pattern, notes);
        for (const std::string& note : notes) say("%s", note.c_str());
        if (targets.empty()) return *report_outcome(OUTCOME_INPUT_FAILED, pattern);
        // Standard output takes one container after another, on this thread;
        // a progress line is drawn while a worker prepares the target waited
        // for.
        unsigned workers = workers_for(targets, asked);
        if (mode == run_mode::to_output) workers = 0;
        if (mode != run_mode::to_output && progress_wanted()) workers = std::max(workers, 1u);
        const int status = run_targets(targets, mode, delete_input, workers);
        free_targets(&targets);
        return status;
    } catch (const std::bad_alloc&) {
        // Everything of the run is undone or in place by now (its threads
        // joined, its temporaries removed); it ends here.
        say("\ncannot go on: out of memory\n");
    } catch (const std::exception& failure) {
        say("\ncannot go on: %s\n", failure.what());
    }
    return 1;
}

// tovik -: standard input to standard output, through the dialogue on the
// terminal.
int run_stream() {
    // The terminal is where the passphrase is typed: the data comes another way.
    if (input_is_terminal()) {
        say("\nstandard input is a terminal: give tovik - its data from a file or a pipe\n");
        return 1;
    }
    data_stream stream;
    if (!open_stream(stream)) return *report_outcome(OUTCOME_INPUT_FAILED, "-");
    if (stream.head.length == 0) return report_outcome(OUTCOME_EMPTY_FILE, "-").value_or(0);
    const bool decrypting = has_magic(stream.head, CONTAINER_MAGIC);
    // As compressors do: what only a passphrase makes readable is not shown.
    if (!decrypting && output_is_terminal()) {
        say("\nencrypted data is not written to a terminal: redirect standard output\n");
        return 1;
    }
    key_material keys;
    if (const std::optional<int> refused = ask_passphrase("Key:", "\nReenter Key:", decrypting, keys))
        return *refused;
    say("\n");
    const int outcome = filter_stream(stream, keys, decrypting);
    if (outcome == OUTCOME_ENCRYPTED || outcome == OUTCOME_DECRYPTED) return 0;
    return report_outcome(outcome, "-", {}, run_mode::to_output).value_or(1);
}

// TOVIK_WORKERS, when it is set to a number of threads from 1 to the most a
// run may have; another value is named, and the run takes its own count.
std::optional<unsigned> asked_workers() {
    std::string value;
    if (!environment_value("TOVIK_WORKERS", value)) return std::nullopt;
    char* end = nullptr;
    const long asked = std::strtol(value.c_str(), &end, 10);
    if (!value.empty() && *end == '\0' && asked >= 1 && asked <= long{MOST_WORKERS_ASKED})
        return static_cast<unsigned>(asked);
    say("TOVIK_WORKERS=%s is not a number from 1 to %u: ignored\n", value.c_str(), MOST_WORKERS_ASKED);
    return std::nullopt;
}

// What the command line asks for.
struct request {
    enum class kind { files, stream } what = kind::files;
    run_mode mode = run_mode::convert;
    bool delete_input = false;
};

// The argument rules: the status to end with at once, or none when the run
// goes on as asked, with argv[1].
std::optional<int> follow_arguments(int argc, char** argv, request& asked) {
    if (argc == 2) {
        if (std::strcmp(argv[1], "-h") == 0) {
            if (show_manual() == -1) say("\ncannot find the file tovik.man\n\n");
            return 0;
        }
        // A file named "-" is still reachable as "./-".
        if (std::strcmp(argv[1], "-") == 0) asked.what = request::kind::stream;
        return std::nullopt;
    }
    if (argc == 3) {
        const std::string flag = argv[2];
        if (flag == "-d") {
            asked.delete_input = true;
        } else if (flag == "-c") {
            asked.mode = run_mode::to_output;
        } else if (flag == "-x") {
            asked.mode = run_mode::rekey;
        } else {
            say("\nunknown %s flag\n\n", argv[2]);
            return 0;
        }
        return std::nullopt;
    }
    print_usage();
    return 0;
}

}  // namespace

int run_driver(int argc, char** argv) {
    setup_standard_output();
    const bool ending_started = start_ending();
    std::optional<int> status;
    // As other console tools answer them, from the first line on (a file of
    // one of these names is still reachable as "./--help").
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        print_help();
        status = 0;
    } else if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs("tovik 1.0\n", stdout);
        status = 0;
    }
    request asked;
    if (!status) {
        if ((argc == 2 && std::strcmp(argv[1], "-") == 0) || (argc == 3 && std::strcmp(argv[2], "-c") == 0))
            keep_output_for_data();
        print_banner();
        status = follow_arguments(argc, argv, asked);
    }
    if (!status && !ending_started) {
        // Nothing is touched that a signal could then leave half done.
        say("\ncannot go on: no thread can be started to end the run safely\n");
        status = 1;
    }
    if (!status) {
        const std::optional<unsigned> workers = asked_workers();
        status = asked.what == request::kind::stream
                     ? run_stream()
                     : run_over(argv[1], asked.mode, asked.delete_input, workers);
    }
    // What could not be written is lost: the program did not end as it says.
    if (!all_said() && *status == 0) status = 1;
    return *status;
}
