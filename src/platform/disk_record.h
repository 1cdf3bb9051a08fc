// A record of what a run does to the disk, for tests that judge every state
// a crash could leave: each creation, write, attribute change, rename,
// unlink and flush, in the order they took effect, with the thread that
// made it. The platform layer reports each operation once it has succeeded;
// a sink given by the test keeps them. Off unless a sink is set: then each
// operation costs one relaxed load of a null pointer (disk_recording).
//
// A write comes with its bytes and their digest. The crash tests keep the
// bytes, of which the states of a file cut short are made, and check each
// write's bytes against its digest when they read the record back.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "platform/files.h"

enum class disk_op : std::uint8_t {
    create,          // path: a new, empty file (file: its identity)
    write,           // bytes at offset of file
    attributes,      // file's mode, owner or times set
    rename,          // path over to, atomically
    unlink,          // path removed
    file_sync,       // file's data made durable
    directory_sync,  // the names of directory path made durable
    volume_sync,     // everything on volume made durable (path: the name synced through)
};

struct disk_event {
    disk_op op = disk_op::create;
    std::string_view path{};
    std::string_view to{};     // rename
    file_identity file{};      // create, write, attributes, file_sync
    std::uint64_t volume = 0;  // volume_sync
    std::int64_t offset = 0;   // write
    // The bytes written, valid during the sink's take only; the digest is
    // filled in by disk_record.
    std::string_view bytes{};
    std::uint64_t digest = 0;
    // Filled in by disk_record: the event's place in the record (0, 1, ...)
    // and the thread that made it (1, 2, ... in order of first record).
    std::uint64_t sequence = 0;
    unsigned thread = 0;
    // Flushes: how many events were recorded when the flush began. It makes
    // durable what those did; what was recorded while it ran may be left out.
    std::uint64_t begun = 0;
};

// Where the record goes. take is called for one event at a time, in
// sequence order, whichever thread made it.
class disk_sink {
public:
    virtual void take(const disk_event& event) = 0;

protected:
    ~disk_sink() = default;
};

namespace disk_record_detail {
extern std::atomic<disk_sink*> sink;
}

// Starts recording into sink, or stops it (nullptr). Set while no other
// thread touches files.
void disk_record_to(disk_sink* sink);
// True while a sink is set: the platform layer gathers what an event needs
// (offsets, identities) only then.
inline bool disk_recording() {
    return disk_record_detail::sink.load(std::memory_order_relaxed) != nullptr;
}
// The number of events recorded so far: the begun of a flush about to start.
std::uint64_t disk_record_mark();
// Hands event to the sink, numbered, with its thread and the digest of its
// bytes.
void disk_record(disk_event event);
// 64-bit FNV-1a of bytes: how a write's bytes are named in the record.
std::uint64_t disk_digest(std::string_view bytes);
