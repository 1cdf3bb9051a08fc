#include "front/driver.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "cipher/wipe.h"
#include "collect/targets.h"
#include "container/container.h"
#include "container/transform.h"
#include "front/key_entry.h"
#include "front/manual.h"
#include "front/outcome.h"
#include "platform/files.h"
#include "platform/interrupt.h"
#include "platform/terminal.h"

namespace {

// The passphrase and its re-entry live for the whole run. They are static so
// that an exit from anywhere (report_outcome ends the process) still wipes
// them, through the atexit handler.
char passphrase[PASSPHRASE_SIZE];
char confirmation[PASSPHRASE_SIZE];

void wipe_passphrases() {
    wipe(passphrase, sizeof passphrase);
    wipe(confirmation, sizeof confirmation);
}

[[noreturn]] void end_run(int status) {
    std::exit(status);  // flushes standard output and runs wipe_passphrases
}

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

// Reads one entry of the passphrase; a terminal that cannot be read must not
// leave the run going on with an empty or partial key.
void read_key_or_end(char (&buffer)[PASSPHRASE_SIZE]) {
    std::fflush(stdout);  // the prompt is visible even when output is a pipe
    if (read_masked_key(buffer, '*') == 0) return;
    std::printf("\ncannot read the key: no terminal to type it at\n");
    end_run(1);
}

void ask_passphrase(const std::string& first_target) {
    std::printf("Key:");
    // A container (1) or a file that cannot be updated (-1) takes the key
    // once; a plain file (0) is about to be encrypted, so the key is typed
    // twice and must match.
    if (probe_container(first_target, CONTAINER_MAGIC) != 0) {
        read_key_or_end(passphrase);
        return;
    }
    read_key_or_end(passphrase);
    std::printf("\nReenter Key:");
    read_key_or_end(confirmation);
    if (std::strcmp(passphrase, confirmation) != 0) {
        std::printf("\nKey you type is incorrect\n");
        end_run(0);
    }
}

std::unordered_set<std::string> target_paths(const target_node* targets) {
    std::unordered_set<std::string> paths;
    for (; targets != nullptr; targets = targets->next) paths.insert(targets->path);
    return paths;
}

// "a" and "a.tvk" in one run would each write over the other before it is
// read, whichever goes first: such a target is left alone (both are, since
// each one's output is the other).
bool output_is_a_target(const std::string& path, const std::unordered_set<std::string>& targets) {
    std::string decrypted = path;
    strip_container_suffix(decrypted);
    return targets.contains(path + ".tvk") || (decrypted != path && targets.contains(decrypted));
}

void confirm_ready() {
    std::printf("\n\nready[y|n]:[y]");
    std::fflush(stdout);
    int answer = std::getchar();  // end of input counts as yes, like Enter
    if (answer != EOF && std::toupper(answer) == 'N') {
        std::printf("\nprocess aborted...\n\n");
        end_run(0);
    }
}

}  // namespace

void print_usage() {
    std::printf("\nUsage: tovik <input file> [flag]\n");
    std::printf("\n       flag: -d this flag will delete the original");
    std::printf("\n             input file after the operation\n");
    std::printf("\nnotes: The input file can accept wildcards like '*', '*.*',");
    std::printf("\n       '*.exe', '*.t*', path, full path or filename only. \n\n");
    std::printf("\ntype \"tovik -h|more\" for full detailed info\n");
}

std::int64_t probe_file_size(const std::string& path) { return file_size(path); }

void report_outcome(int code, const std::string& path) {
    const char* p = path.c_str();
    switch (code) {
        case OUTCOME_ENCRYPTED: std::printf("%s encrypting .....ok!\n", p); return;
        case OUTCOME_DECRYPTED: std::printf("%s decrypting .....ok!\n", p); return;
        case OUTCOME_NOT_FOUND: std::printf("%s not found\n", p); return;
        case OUTCOME_EMPTY_FILE: std::printf("bypassing 0byte file %s\n", p); return;
        case OUTCOME_OUTPUT_IS_TARGET:
            std::printf("%s skipped: its output would replace another file of this run\n", p);
            return;
        case OUTCOME_DISK_WRITE:
            std::printf("cannot write to disk, possibly full\n");
            end_run(1);
        case OUTCOME_INPUT_FAILED:
            std::printf("\ncannot process input file %s\n", p);
            end_run(1);
        case OUTCOME_OUTPUT_FAILED:
            std::printf("\ncannot write the output file %s.tvk\n", p);
            end_run(1);
        case OUTCOME_WRONG_KEY:
            std::printf("incorrect key, no operations were performed\n");
            end_run(0);
        default: return;
    }
}

int run_driver(int argc, char** argv) {
    setup_standard_output();
    install_interrupt_cleanup();
    std::atexit(wipe_passphrases);

    print_banner();
    int delete_input = 0;
    if (argc == 2) {
        if (std::strcmp(argv[1], "-h") == 0) {
            if (show_manual() == -1) std::printf("\ncannot find the file tovik.man\n\n");
            end_run(0);
        }
    } else if (argc == 3) {
        if (std::strcmp(argv[2], "-d") != 0) {
            std::printf("\nunknown %s flag\n\n", argv[2]);
            end_run(0);
        }
        delete_input = 1;
    } else {
        print_usage();
        end_run(0);
    }

    target_list targets = nullptr;
    collect_targets(&targets, argv[1]);
    if (targets == nullptr) report_outcome(OUTCOME_INPUT_FAILED, argv[1]);

    ask_passphrase(targets->path);
    confirm_ready();
    std::printf("\n");

    batch_deletions(true);  // "-d": one sync for many outputs, then the deletions
    const std::unordered_set<std::string> collected = target_paths(targets);
    for (target_node* node = targets; node != nullptr; node = node->next) {
        int outcome = OUTCOME_EMPTY_FILE;
        if (output_is_a_target(node->path, collected)) {
            outcome = OUTCOME_OUTPUT_IS_TARGET;
        } else if (probe_file_size(node->path) >= 1) {
            outcome = transform_file(node->path, passphrase, delete_input);
        }
        report_outcome(outcome, node->path);
    }
    if (!finish_deletions()) report_outcome(OUTCOME_DISK_WRITE, "");
    free_targets(&targets);
    std::printf("\nfin\n");
    return 0;
}
