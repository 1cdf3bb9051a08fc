#include "container/block_ring.h"

#include <algorithm>
#include <cstring>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "cipher/wipe.h"
#include "platform/ending.h"

namespace {

void count(body_copy& copy, std::size_t bytes) { copy.done.fetch_add(bytes, std::memory_order_relaxed); }

bool stopped(const body_copy& copy) {
    return copy.stop != nullptr && copy.stop->load(std::memory_order_relaxed);
}

void lay_over(std::uint8_t* __restrict data, const std::uint8_t* __restrict mix, std::size_t length) {
    for (std::size_t k = 0; k < length; ++k) data[k] ^= mix[k];
}

// As much of length bytes of copy's body at data as lies within the run's
// keystream start, laid over from it: how many. Where the start ends, the
// body's states take over from it.
std::size_t lay_start(body_copy& copy, std::uint8_t* data, std::size_t length) {
    if (copy.start == nullptr || copy.position >= copy.start->bytes.size()) return 0;
    const std::size_t laid = std::min<std::size_t>(length, copy.start->bytes.size() - copy.position);
    lay_over(data, copy.start->bytes.data() + copy.position, laid);
    copy.position += laid;
    if (copy.position == copy.start->bytes.size()) {
        copy.filter = copy.start->after;
        if (copy.refilter != nullptr) *copy.refilter = copy.start->after_second;
    }
    return laid;
}

// length bytes of copy's body at data through RC4: the second keystream,
// when there is one, interleaved with the first on the same bytes.
void filter_rc4(body_copy& copy, std::uint8_t* data, std::size_t length) {
    if (length == 0) return;
    if (copy.refilter == nullptr) {
        rc4_apply(data, length, copy.filter);
    } else {
        rc4_apply_pair(data, copy.filter, data, *copy.refilter, length);
    }
}

// length bytes of copy's body at data through its keystreams.
void filter(body_copy& copy, std::uint8_t* data, std::size_t length) {
    const std::size_t laid = lay_start(copy, data, length);
    filter_rc4(copy, data + laid, length - laid);
}

// One block at a time on this thread: the way when there is no second
// thread. The first block holds a full block, ready to write.
copy_status stream_serial(body_copy& copy) {
    std::uint8_t* const block = copy.blocks;
    std::size_t ready = COPY_BLOCK;
    while (ready == COPY_BLOCK) {
        if (stopped(copy)) return copy_status::cancelled;
        if (!write_all(copy.to, block, ready)) return copy_status::write_failed;
        count(copy, ready);
        const std::ptrdiff_t got = fill_block(copy.from, block, COPY_BLOCK);
        if (got < 0) return copy_status::read_failed;
        ready = static_cast<std::size_t>(got);
        filter(copy, block, ready);
    }
    if (ready > 0 && !write_all(copy.to, block, ready)) return copy_status::write_failed;
    count(copy, ready);
    return copy_status::ok;
}

// The blocks of a long body and how far each stage has got, as counts of
// blocks in file order: block n lives in slot n % COPY_BLOCKS.
struct block_ring {
    explicit block_ring(body_copy& body) : copy(body) {}
    body_copy& copy;
    std::size_t length[COPY_BLOCKS] = {};
    std::uint64_t read = 0;      // filled from the input
    std::uint64_t filtered = 0;  // passed through RC4
    std::uint64_t written = 0;   // written to the output
    bool input_ended = false;
    copy_status failure = copy_status::ok;
    std::mutex mutex;
    std::condition_variable changed;

    std::uint8_t* slot(std::uint64_t n) { return copy.blocks + (n % COPY_BLOCKS) * COPY_BLOCK; }
};

// The I/O side: writes filtered blocks as they come and reads ahead into the
// free slots, until every block read is written, a call fails or the copy is
// stopped. It makes every file call of the copy, so the fault seam sees them
// in one order.
void move_blocks(block_ring& ring) {
    std::unique_lock lock(ring.mutex);
    for (;;) {
        ring.changed.wait(lock, [&] {
            return ring.written < ring.filtered ||
                   (!ring.input_ended && ring.read - ring.written < COPY_BLOCKS) ||
                   (ring.input_ended && ring.written == ring.read);
        });
        if (stopped(ring.copy)) {
            ring.failure = copy_status::cancelled;
        } else if (ring.written < ring.filtered) {
            const std::uint64_t n = ring.written;
            lock.unlock();
            const bool wrote = write_all(ring.copy.to, ring.slot(n), ring.length[n % COPY_BLOCKS]);
            lock.lock();
            if (!wrote) {
                ring.failure = copy_status::write_failed;
            } else {
                count(ring.copy, ring.length[n % COPY_BLOCKS]);
                ++ring.written;
            }
        } else if (!ring.input_ended) {
            const std::uint64_t n = ring.read;
            lock.unlock();
            const std::ptrdiff_t got = fill_block(ring.copy.from, ring.slot(n), COPY_BLOCK);
            lock.lock();
            if (got < 0) {
                ring.failure = copy_status::read_failed;
            } else {
                ring.length[n % COPY_BLOCKS] = static_cast<std::size_t>(got);
                if (got > 0) ++ring.read;
                ring.input_ended = static_cast<std::size_t>(got) < COPY_BLOCK;
            }
        } else {
            return;  // all written
        }
        ring.changed.notify_one();
        if (ring.failure != copy_status::ok) return;
    }
}

void run_input_output(block_ring& ring) {
    try {
        move_blocks(ring);
    } catch (...) {  // nothing may leave a thread: the copy fails instead
        const std::lock_guard lock(ring.mutex);
        ring.failure = copy_status::read_failed;
        ring.changed.notify_one();
    }
}

void lay_over_both(std::uint8_t* __restrict a, std::uint8_t* __restrict b,
                   const std::uint8_t* __restrict mix, std::size_t length) {
    for (std::size_t k = 0; k < length; ++k) {
        a[k] ^= mix[k];
        b[k] ^= mix[k];
    }
}

bool same_keystream(const rc4_state& a, const rc4_state& b) {
    return a.x == b.x && a.y == b.y && std::memcmp(a.perm, b.perm, sizeof a.perm) == 0;
}

// length bytes of two bodies, at da and db, through RC4, interleaved. Two
// bodies given a new key at the same place of the same two keystreams
// (every container of a run shares them, from its first byte) share them
// instead: their mix is made once, into a block of its own, and laid over
// both, which halves the cipher's work.
void pair_rc4(body_copy& a, std::uint8_t* da, body_copy& b, std::uint8_t* db, std::size_t length) {
    if (a.refilter == nullptr || b.refilter == nullptr) {
        rc4_apply_pair(da, a.filter, db, b.filter, length);
        if (a.refilter != nullptr) rc4_apply(da, length, *a.refilter);
        if (b.refilter != nullptr) rc4_apply(db, length, *b.refilter);
        return;
    }
    if (!same_keystream(a.filter, b.filter) || !same_keystream(*a.refilter, *b.refilter)) {
        rc4_apply_pair(da, a.filter, db, b.filter, length);
        rc4_apply_pair(da, *a.refilter, db, *b.refilter, length);
        return;
    }
    // Zeros between uses: cleared of the mix right after it is laid over.
    thread_local std::unique_ptr<std::uint8_t[]> mix(new std::uint8_t[COPY_BLOCK]());
    rc4_apply_pair(mix.get(), a.filter, mix.get(), *a.refilter, length);
    lay_over_both(da, db, mix.get(), length);
    std::memset(mix.get(), 0, length);
    b.filter = a.filter;
    *b.refilter = *a.refilter;
}

// The first length bytes of both bodies' blocks through their keystreams:
// what lies within the run's keystream start laid over, the rest through
// RC4, interleaved as far as both go.
void filter_pair(body_copy& a, body_copy& b, std::size_t length) {
    const std::size_t a_laid = lay_start(a, a.blocks, length);
    const std::size_t b_laid = lay_start(b, b.blocks, length);
    const std::size_t both = length - std::max(a_laid, b_laid);
    if (both > 0) pair_rc4(a, a.blocks + a_laid, b, b.blocks + b_laid, both);
    filter_rc4(a, a.blocks + a_laid + both, length - a_laid - both);
    filter_rc4(b, b.blocks + b_laid + both, length - b_laid - both);
}

}  // namespace

keystream_start::~keystream_start() {
    wipe(bytes.data(), bytes.size());
    wipe(&after, sizeof after);
    wipe(&after_second, sizeof after_second);
}

void make_keystream_start(keystream_start& start, std::size_t length, const std::uint8_t* key,
                          std::size_t key_length, const std::uint8_t* second,
                          std::size_t second_length) {
    start.bytes.assign(length, 0);
    rc4_setup(key, key_length, start.after);
    rc4_apply(start.bytes.data(), length, start.after);
    if (second == nullptr) return;
    rc4_setup(second, second_length, start.after_second);
    rc4_apply(start.bytes.data(), length, start.after_second);
}

std::ptrdiff_t fill_block(os_file& from, std::uint8_t* block, std::size_t size) {
    std::size_t filled = 0;
    while (filled < size) {
        const std::ptrdiff_t got = read_some(from, block + filled, size - filled);
        if (got < 0) return -1;
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    return static_cast<std::ptrdiff_t>(filled);
}

// RC4 alone takes about three times as long as reading and writing a block
// from the page cache, so a second thread does the reads and writes while
// this one runs the cipher: a large file then goes at nearly the cipher's
// own speed. The blocks stay a few, so memory does not grow with the file.
copy_status stream_rest(body_copy& copy) {
    advise_sequential(copy.from);  // only worth its call for a long read
    block_ring ring(copy);
    ring.length[0] = COPY_BLOCK;
    ring.read = ring.filtered = 1;
    std::thread input_output;
    try {
        input_output = quiet_thread([&] { run_input_output(ring); });
    } catch (const std::system_error&) {
        return stream_serial(copy);  // no thread to be had
    }
    std::unique_lock lock(ring.mutex);
    for (;;) {
        ring.changed.wait(lock, [&] {
            return ring.filtered < ring.read || ring.input_ended || ring.failure != copy_status::ok;
        });
        if (ring.failure != copy_status::ok || ring.filtered == ring.read) break;
        const std::uint64_t n = ring.filtered;
        lock.unlock();
        filter(copy, ring.slot(n), ring.length[n % COPY_BLOCKS]);
        lock.lock();
        ++ring.filtered;
        ring.changed.notify_one();
    }
    lock.unlock();
    input_output.join();
    return ring.failure;
}

std::uint8_t* copy_blocks(int block_set) {
    thread_local std::unique_ptr<std::uint8_t[]> sets[2];
    if (!sets[block_set]) sets[block_set].reset(new std::uint8_t[COPY_BLOCKS * COPY_BLOCK]);
    return sets[block_set].get();
}

copy_status start_body(body_copy& copy, std::size_t read, std::size_t drop, std::string_view lead,
                       bool& more) {
    std::uint8_t* const first = copy.blocks;
    const bool source_left = read == FIRST_READ;  // the source may go on
    drop = std::min(drop, read);
    // The body's bytes move up behind the lead, and travel in one write with it.
    std::memmove(first + lead.size(), first + HEADER_ROOM + drop, read - drop);
    if (!lead.empty()) std::memcpy(first, lead.data(), lead.size());  // an empty view may be null
    std::size_t used = lead.size() + read - drop;
    more = false;
    if (source_left && used < COPY_BLOCK) {
        const std::ptrdiff_t got = fill_block(copy.from, first + used, COPY_BLOCK - used);
        if (got < 0) return copy_status::read_failed;
        used += static_cast<std::size_t>(got);
    }
    filter(copy, first + lead.size(), used - lead.size());
    copy.ready = used;
    if (used == COPY_BLOCK) {
        more = true;
        return copy_status::ok;
    }
    // An empty body gives an empty file: the lead alone is never written.
    if (used > lead.size() && !write_all(copy.to, first, used)) return copy_status::write_failed;
    count(copy, used - lead.size());
    return copy_status::ok;
}

void step_pair(body_copy& a, copy_status& a_status, bool& a_more, body_copy& b,
               copy_status& b_status, bool& b_more) {
    body_copy* const copies[2] = {&a, &b};
    copy_status* const statuses[2] = {&a_status, &b_status};
    bool* const going[2] = {&a_more, &b_more};
    std::ptrdiff_t got[2] = {-1, -1};
    for (int c = 0; c < 2; ++c) {
        body_copy& copy = *copies[c];
        if (stopped(copy)) {
            *statuses[c] = copy_status::cancelled;
        } else if (!write_all(copy.to, copy.blocks, copy.ready)) {
            *statuses[c] = copy_status::write_failed;
        } else {
            count(copy, copy.ready);
            got[c] = fill_block(copy.from, copy.blocks, COPY_BLOCK);
            if (got[c] < 0) *statuses[c] = copy_status::read_failed;
        }
        if (got[c] < 0) *going[c] = false;
    }
    // Both streams side by side as far as both go, then the longer alone.
    const std::size_t both = got[0] < 0 || got[1] < 0 ? 0 : static_cast<std::size_t>(std::min(got[0], got[1]));
    if (both > 0) filter_pair(a, b, both);
    for (int c = 0; c < 2; ++c) {
        if (got[c] < 0) continue;
        body_copy& copy = *copies[c];
        copy.ready = static_cast<std::size_t>(got[c]);
        filter(copy, copy.blocks + both, copy.ready - both);
        if (copy.ready == COPY_BLOCK) continue;
        *going[c] = false;  // its input ended: the last block goes now
        if (copy.ready > 0 && !write_all(copy.to, copy.blocks, copy.ready)) {
            *statuses[c] = copy_status::write_failed;
        } else {
            count(copy, copy.ready);
        }
    }
}
