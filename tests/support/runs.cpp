#include "support/runs.h"

#include "container/container.h"
#include "platform/ending.h"

namespace {

// The list that takes paths in their order.
target_list list_of(const std::vector<std::string>& paths) {
    target_list list;
    for (auto path = paths.rbegin(); path != paths.rend(); ++path) push_target(&list, *path);
    return list;
}

}  // namespace

test_run::test_run(const std::string& passphrase, bool delete_input,
                   const std::vector<std::string>& paths)
    : targets(list_of(paths)), run(targets, run_mode::convert, delete_input) {
    key_material keys;
    derive_key_material(passphrase.c_str(), keys);
    run.start(keys, 0);
}

int test_run::next() {
    const std::optional<target_outcome> done = run.next();
    return done ? done->outcome : NO_TARGET_LEFT;
}

int transform_alone(const std::string& path, const std::string& passphrase, bool delete_input) {
    test_run t(passphrase, delete_input, {path});
    const int outcome = t.next();
    return t.run.finish() ? OUTCOME_DISK_WRITE : outcome;
}

rc4_state rc4_of_passphrase(const std::string& passphrase) {
    key_material keys;
    derive_key_material(passphrase.c_str(), keys);
    rc4_state state;
    rc4_setup(keys.cipher_key, sizeof keys.cipher_key, state);
    return state;
}

std::optional<copy_status> run_container_operation(container_operation op,
                                                   const std::string& source,
                                                   const std::string& destination,
                                                   const std::string& passphrase) {
    key_material keys;
    derive_key_material(passphrase.c_str(), keys);
    rc4_state state = rc4_of_passphrase(passphrase);
    os_file input;
    const std::ptrdiff_t read = open_for_reading(source, input) ? read_first(input, copy_blocks(0)) : -1;
    if (read < 0) return copy_status::read_failed;
    const header_bytes head = head_of(copy_blocks(0), static_cast<std::size_t>(read));
    if (op == container_operation::unwrap && !header_matches(head, keys.header_text)) return std::nullopt;
    temp_output output;
    if (!begin_output(destination, output)) return copy_status::write_failed;
    std::atomic<std::uint64_t> done{0};
    body_copy copy{input, output.file, state, done, nullptr, copy_blocks(0)};
    bool more = false;
    const copy_kind kind = op == container_operation::wrap ? copy_kind::prepend : copy_kind::skip;
    copy_status status = start_with_header(copy, static_cast<std::size_t>(read), kind, keys.header_text, more);
    if (status == copy_status::ok && more) status = stream_rest(copy);
    if (status != copy_status::ok) return status;
    if (!close_file(output.file) || finish_output(output, destination, true) != file_result::done)
        return copy_status::write_failed;
    return status;
}
