// Arbitrary files through the container probe, the header check and the
// copies: every answer must follow from the file's first bytes alone, every
// output must hold exactly the bytes it should, and no temporary may be left.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "cipher/key_schedule.h"
#include "cipher/rc4.h"
#include "container/container.h"
#include "platform/temp_name.h"
#include "support/runs.h"

namespace {

void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "container_fuzz: violated: %s\n", what);
    __builtin_trap();
}

// One private directory for the whole run: the input file and every output.
struct scratch_dir {
    std::string dir;
    std::string input, unwrapped, wrapped, skipped;
    key_material key;

    scratch_dir() {
        std::string templ = (std::filesystem::temp_directory_path() / "container-fuzz-XXXXXX").string();
        require(mkdtemp(templ.data()) != nullptr, "private temp directory created");
        dir = templ;
        input = dir + "/input";
        unwrapped = dir + "/unwrapped";
        wrapped = dir + "/wrapped";
        skipped = dir + "/skipped";
        derive_key_material("secret", key);
    }
    ~scratch_dir() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};

scratch_dir& scratch() {
    static scratch_dir instance;
    return instance;
}

void write_file(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    require(file != nullptr, "input file opened");
    require(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size(), "input written");
    require(std::fclose(file) == 0, "input closed");
}

bool exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

std::string read_file(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    require(file != nullptr, "output exists and opens");
    std::string bytes;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
    require(std::ferror(file) == 0, "output read");
    std::fclose(file);
    return bytes;
}

std::string enciphered(const key_material& key, std::string bytes) {
    rc4_state state;
    rc4_setup(key.cipher_key, sizeof key.cipher_key, state);
    rc4_apply(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size(), state);
    return bytes;
}

// The directory holds the input alone: outputs were removed by the caller,
// and no temporary survived a copy.
void require_only_input_left(const scratch_dir& s) {
    std::size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(s.dir)) {
        ++entries;
        require(!is_temporary_name(entry.path().filename().string()), "no temporary left behind");
    }
    require(entries == 1, "the directory holds the input alone");
}

void remove_output(const std::string& path) {
    require(std::remove(path.c_str()) == 0, "output removed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    scratch_dir& s = scratch();
    const std::string input(reinterpret_cast<const char*>(data), size);
    const char* header = s.key.header_text;
    write_file(s.input, input);

    const bool magic = size >= MAGIC_LENGTH && std::memcmp(data, CONTAINER_MAGIC, MAGIC_LENGTH) == 0;
    const bool header_ok = size >= HEADER_LENGTH && std::memcmp(data, header, HEADER_LENGTH) == 0;

    // The file exists and is writable, so the probe answers 1 or 0, from the
    // first five bytes only, whether given the bare magic or a whole header.
    const int probe_magic = probe_container(s.input, CONTAINER_MAGIC);
    const int probe_header = probe_container(s.input, header);
    require(probe_magic == (magic ? 1 : 0), "probe is 1 exactly when the file starts with the magic");
    require(probe_header == probe_magic, "probe reads only five characters of a header");

    // Unwrapping: a wrong or short header writes nothing; a right one writes
    // the deciphered body.
    {
        const std::optional<copy_status> result =
            run_container_operation(container_operation::unwrap, s.input, s.unwrapped, "secret");
        if (!header_ok) {
            require(!result, "a header that does not match is refused");
            require(!exists(s.unwrapped), "a refused header leaves no destination");
        } else {
            require(result == copy_status::ok, "a matching header unwraps");
            const std::string out = read_file(s.unwrapped);
            require(out.size() == size - HEADER_LENGTH, "the body alone is written");
            require(out == enciphered(s.key, input.substr(HEADER_LENGTH)), "the body is deciphered");
            remove_output(s.unwrapped);
        }
    }

    // Then, for a quarter of the inputs each (chosen by the input's hash), one
    // of the two other copies: fewer copies per input make the fuzzer several
    // times faster under the sanitizers, and both still see every kind of input.
    std::uint32_t hash = 0;  // FNV-style; 0 for the empty input, which then gets the prepend
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
    if ((hash & 3) == 0) {
        // Wrapping writes the header and the enciphered input; nothing at
        // all for an empty input.
        require(run_container_operation(container_operation::wrap, s.input, s.wrapped, "secret") ==
                    copy_status::ok,
                "wrap succeeds");
        require(read_file(s.wrapped) == (size == 0 ? std::string() : header + enciphered(s.key, input)),
                "wrap writes the header and the enciphered input");
        remove_output(s.wrapped);
    } else if ((hash & 3) == 1) {
        // Skipping drops exactly the header's length, and nothing more.
        require(run_container_operation(container_operation::skip, s.input, s.skipped, "secret") ==
                    copy_status::ok,
                "skip copy succeeds");
        const std::size_t dropped = size < HEADER_LENGTH ? size : HEADER_LENGTH;
        require(read_file(s.skipped) == enciphered(s.key, input.substr(dropped)),
                "skip drops the first 37 bytes and deciphers the rest");
        remove_output(s.skipped);
    }
    require_only_input_left(s);
    return 0;
}
