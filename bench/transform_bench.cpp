// The fixed costs each file pays whatever its size, one by one and together:
// key derivation (once per run, shown for scale), cipher setup, opening, naming and creating the temporary,
// the rename into place, and a whole run over a 1-byte file. The
// files live in a fresh directory under /tmp (the page cache, as in use).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "cipher/key_schedule.h"
#include "cipher/rc4.h"
#include "container/container.h"
#include "run/run.h"
#include "platform/files.h"

namespace {

const char* const PASSPHRASE = "correct horse battery staple";

// A scratch directory holding a 1-byte file "f", removed at the end.
struct scratch {
    std::string root;
    scratch() {
        char pattern[] = "/tmp/tovik-bench-XXXXXX";
        root = mkdtemp(pattern) != nullptr ? pattern : "";
        std::ofstream(at("f"), std::ios::binary) << 'x';
    }
    ~scratch() { std::filesystem::remove_all(root); }
    std::string at(const char* name) const { return root + "/" + name; }
};

void BM_derive_key_material_per_file(benchmark::State& bench) {
    for (auto _ : bench) {
        key_material material;
        derive_key_material(PASSPHRASE, material);
        benchmark::DoNotOptimize(material.cipher_key);
    }
}

void BM_rc4_setup(benchmark::State& bench) {
    key_material material;
    derive_key_material(PASSPHRASE, material);
    rc4_state state;
    for (auto _ : bench) {
        rc4_setup(material.cipher_key, sizeof material.cipher_key, state);
        benchmark::DoNotOptimize(state.perm);
    }
}

void BM_open_for_update_and_close(benchmark::State& bench) {
    scratch dir;
    const std::string path = dir.at("f");
    for (auto _ : bench) {
        os_file file;
        if (!open_for_update(path, file)) bench.SkipWithError("open failed");
    }
}

// Naming and creating the temporary, and removing it again.
void BM_create_temp_and_remove(benchmark::State& bench) {
    scratch dir;
    const std::string final_path = dir.at("f.tvk");
    for (auto _ : bench) {
        os_file file;
        std::string temp;
        if (!create_temp_beside(final_path, file, temp)) bench.SkipWithError("create failed");
        close_file(file);
        remove_file(temp);
    }
}

void BM_rename_into_place(benchmark::State& bench) {
    scratch dir;
    const std::string a = dir.at("f"), b = dir.at("g");
    for (auto _ : bench) {
        rename_file(a, b, true);
        rename_file(b, a, true);
    }
    bench.SetItemsProcessed(2 * static_cast<std::int64_t>(bench.iterations()));
}

// The whole job for a 1-byte file: encrypt "f" into a new "f.tvk", as in a
// run without "-d". The container is removed outside the timing: replacing
// an existing file costs more on ext4, which then writes the new file's
// blocks at once (auto_da_alloc), and a tree run creates new files.
void BM_run_over_1_byte(benchmark::State& bench) {
    scratch dir;
    const std::string input = dir.at("f"), output = dir.at("f.tvk");
    target_list targets;
    push_target(&targets, input);
    key_material keys;
    derive_key_material(PASSPHRASE, keys);
    for (auto _ : bench) {
        // Each time a run of its own: a run writes an output only once.
        {
            target_run run(targets, run_mode::convert, false);
            run.start(keys, 0);
            const std::optional<target_outcome> done = run.next();
            if (!done || done->outcome != OUTCOME_ENCRYPTED || run.finish())
                bench.SkipWithError("run failed");
        }
        bench.PauseTiming();
        remove_file(output);
        bench.ResumeTiming();
    }
}

}  // namespace

BENCHMARK(BM_derive_key_material_per_file);
BENCHMARK(BM_rc4_setup);
BENCHMARK(BM_open_for_update_and_close);
BENCHMARK(BM_create_temp_and_remove);
BENCHMARK(BM_rename_into_place);
BENCHMARK(BM_run_over_1_byte);
