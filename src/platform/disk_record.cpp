#include "platform/disk_record.h"

#include <mutex>

namespace disk_record_detail {
std::atomic<disk_sink*> sink{nullptr};
}

namespace {

// Numbers the events and keeps them in order on their way to the sink.
std::mutex recording;
std::uint64_t recorded = 0;
std::atomic<unsigned> threads_seen{0};

unsigned this_thread_number() {
    thread_local const unsigned number = ++threads_seen;
    return number;
}

}  // namespace

void disk_record_to(disk_sink* sink) {
    const std::lock_guard lock(recording);
    recorded = 0;
    disk_record_detail::sink.store(sink, std::memory_order_relaxed);
}

std::uint64_t disk_record_mark() {
    const std::lock_guard lock(recording);
    return recorded;
}

void disk_record(disk_event event) {
    event.thread = this_thread_number();
    if (event.op == disk_op::write) event.digest = disk_digest(event.bytes);
    const std::lock_guard lock(recording);
    disk_sink* sink = disk_record_detail::sink.load(std::memory_order_relaxed);
    if (sink == nullptr) return;
    event.sequence = recorded++;
    sink->take(event);
}

std::uint64_t disk_digest(std::string_view bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    return hash;
}
