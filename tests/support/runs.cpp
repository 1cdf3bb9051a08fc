#include "support/runs.h"

#include "run/transform.h"

namespace {

target_list list_of(const std::vector<std::string>& paths) {
    target_list list;
    for (const std::string& path : paths) push_target(&list, path);
    return list;
}

}  // namespace

test_run::test_run(const std::string& passphrase, bool delete_input,
                   const std::vector<std::string>& paths)
    : targets(list_of(paths)), run(targets) {
    derive_key_material(passphrase.c_str(), run.keys);
    run.delete_input = delete_input;
}

int transform_alone(std::string& path, const std::string& passphrase, bool delete_input) {
    test_run t(passphrase, delete_input, {path});
    const int outcome = transform_file(path, t.run);
    return t.run.deletions.finish() == batch_status::done ? outcome : OUTCOME_DISK_WRITE;
}

copy_status run_container_operation(container_operation op, const std::string& source,
                                    const std::string& destination,
                                    const std::string& passphrase) {
    key_material keys;
    derive_key_material(passphrase.c_str(), keys);
    rc4_state state;
    rc4_setup(keys.cipher_key, sizeof keys.cipher_key, state);
    os_file input;
    header_bytes head;
    temp_output output;
    if (!open_for_reading(source, input) || !read_header(input, head)) return copy_status::read_failed;
    if (!begin_output(destination, output)) return copy_status::write_failed;
    copy_status status = copy_status::ok;
    switch (op) {
        case container_operation::wrap:
            status = wrap_container(input, head, output.file, keys.header_text, state);
            break;
        case container_operation::unwrap:
            status = unwrap_container(input, head, output.file, keys.header_text, state);
            break;
        case container_operation::skip:
            status = copy_with_header(input, head, output.file, copy_kind::skip, nullptr, state);
            break;
    }
    if (status != copy_status::ok) return status;
    bool taken = false;
    if (!close_file(output.file) || !finish_output(output, destination, true, taken))
        return copy_status::write_failed;
    return status;
}
