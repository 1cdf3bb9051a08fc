#include "support/crash_model.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <numeric>
#include <optional>
#include <set>
#include <utility>

#include "platform/temp_name.h"

namespace {

// ---- The stream: a mark, fixed fields, then texts with their lengths.

constexpr char EVENT_MARK = 'E';
constexpr char OUTSIDE_MARK = 'O';
constexpr int EVENT_NUMBERS = 9;

void put_number(std::string& out, std::uint64_t value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void put_text(std::string& out, std::string_view text) {
    put_number(out, text.size());
    out.append(text);
}

struct reader {
    std::string_view rest;
    bool number(std::uint64_t& value) {
        if (rest.size() < sizeof value) return false;
        std::memcpy(&value, rest.data(), sizeof value);
        rest.remove_prefix(sizeof value);
        return true;
    }
    bool text(std::string& value) {
        std::uint64_t size = 0;
        if (!number(size) || rest.size() < size) return false;
        value.assign(rest.substr(0, size));
        rest.remove_prefix(size);
        return true;
    }
};

}  // namespace

std::string encode_event(const disk_event& e) {
    std::string out(1, EVENT_MARK);
    const std::uint64_t numbers[EVENT_NUMBERS] = {static_cast<std::uint64_t>(e.op),
                                                  e.file.volume,
                                                  e.file.index,
                                                  e.volume,
                                                  static_cast<std::uint64_t>(e.offset),
                                                  e.digest,
                                                  e.sequence,
                                                  e.thread,
                                                  e.begun};
    for (const std::uint64_t n : numbers) put_number(out, n);
    put_text(out, e.path);
    put_text(out, e.to);
    put_text(out, e.bytes);
    return out;
}

std::string encode_outside(const std::string& path, const std::string& bytes) {
    std::string out(1, OUTSIDE_MARK);
    put_text(out, path);
    put_text(out, bytes);
    return out;
}

bool decode_record(std::string_view stream, std::vector<recorded_event>& events, bool& cut_short) {
    events.clear();
    cut_short = false;
    reader in{stream};
    while (!in.rest.empty()) {
        const char mark = in.rest.front();
        in.rest.remove_prefix(1);
        recorded_event e;
        bool whole = true;
        if (mark == OUTSIDE_MARK) {
            e.outside = true;
            whole = in.text(e.path) && in.text(e.bytes);
        } else if (mark == EVENT_MARK) {
            std::uint64_t n[EVENT_NUMBERS] = {};
            for (std::uint64_t& number : n) whole = whole && in.number(number);
            whole = whole && in.text(e.path) && in.text(e.to) && in.text(e.bytes);
            if (n[0] > static_cast<std::uint64_t>(disk_op::volume_sync)) return false;
            e.op = static_cast<disk_op>(n[0]);
            e.file = {n[1], n[2]};
            e.volume = n[3];
            e.offset = static_cast<std::int64_t>(n[4]);
            e.digest = n[5];
            e.sequence = n[6];
            e.thread = static_cast<unsigned>(n[7]);
            e.begun = n[8];
        } else {
            return false;
        }
        if (!whole) {
            cut_short = true;
            return true;
        }
        if (!e.outside && e.op == disk_op::write && disk_digest(e.bytes) != e.digest) return false;
        events.push_back(std::move(e));
    }
    return true;
}

std::size_t crash_verdict::fault_count() const {
    return std::accumulate(std::begin(faults), std::end(faults), std::size_t{0});
}

namespace {

constexpr std::size_t REPORTED = 8;  // faults described in the report

std::string directory_of(const std::string& path) {
    const std::size_t cut = path.rfind('/');
    return cut == std::string::npos ? "." : path.substr(0, cut);
}

bool temporary(const std::string& path) {
    const std::size_t cut = path.rfind('/');
    return is_temporary_name(cut == std::string::npos ? path : path.substr(cut + 1));
}

std::string describe(const recorded_event& e) {
    if (e.outside) return "the test changes " + e.path;
    switch (e.op) {
        case disk_op::create:
            return "create " + e.path;
        case disk_op::write:
            return "write " + std::to_string(e.bytes.size()) + " bytes at " +
                   std::to_string(e.offset);
        case disk_op::attributes:
            return "set attributes";
        case disk_op::rename:
            return "rename " + e.path + " -> " + e.to;
        case disk_op::unlink:
            return "unlink " + e.path;
        case disk_op::file_sync:
            return "fsync";
        case disk_op::directory_sync:
            return "fsync of the directory " + e.path;
        case disk_op::volume_sync:
            return "syncfs through " + e.path;
    }
    return "?";
}

// A file as the disk holds it: its bytes (only ever appended to), how many
// are durable, and the writes not yet durable (sequence, end offset).
struct file_data {
    std::string content;
    std::size_t durable = 0;
    std::deque<std::pair<std::uint64_t, std::size_t>> unsynced;
    std::string name;  // the last name it had, for the report
};

enum class name_change { create, rename, unlink };

struct name_op {
    name_change change;
    std::string path, to;
    std::size_t file;
    std::uint64_t sequence;
    std::size_t event;
    bool path_synced = false;  // its directory (for a rename, the source's)
    bool to_synced = false;    // a rename's destination directory
    bool durable() const { return path_synced && (change != name_change::rename || to_synced); }
};

// Names joined by the promises: the input and output of one count as one.
class name_groups {
public:
    void join(const std::string& a, const std::string& b) { root_[find(a)] = find(b); }
    std::string find(const std::string& name) {
        auto it = root_.find(name);
        if (it == root_.end() || it->second == name) return name;
        return it->second = find(it->second);
    }

private:
    std::map<std::string, std::string> root_;
};

// Union-find over item numbers.
struct item_groups {
    std::vector<std::size_t> parent;
    explicit item_groups(std::size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
    std::size_t find(std::size_t i) { return parent[i] == i ? i : parent[i] = find(parent[i]); }
    void join(std::size_t a, std::size_t b) { parent[find(a)] = find(b); }
};

// Calls visit with choices of options for items (counts[i] options each,
// 0 the default), never all at 0: every combination when there are at most
// MOST_COMBINATIONS; otherwise each item alone through its options, the
// others at 0, and every item at option 1 (then false).
bool bounded_choices(const std::vector<std::size_t>& counts,
                     const std::function<void(const std::vector<std::size_t>&)>& visit) {
    std::size_t product = 1;
    for (const std::size_t c : counts) product = std::min(product * c, MOST_COMBINATIONS + 1);
    std::vector<std::size_t> choice(counts.size(), 0);
    if (product <= MOST_COMBINATIONS) {
        for (;;) {
            std::size_t i = 0;
            while (i < counts.size() && ++choice[i] == counts[i]) choice[i++] = 0;
            if (i == counts.size()) return true;
            visit(choice);
        }
    }
    for (std::size_t i = 0; i < counts.size(); ++i) {
        for (choice[i] = 1; choice[i] < counts[i]; ++choice[i]) visit(choice);
        choice[i] = 0;
    }
    std::fill(choice.begin(), choice.end(), 1);
    visit(choice);
    return false;
}

class crash_checker {
public:
    crash_checker(const std::vector<recorded_event>& record, const crash_expectations& expected)
        : record_(record), expected_(expected), user_(expected.files) {
        for (const auto& [name, bytes] : expected.files) {
            initial_[name] = files_.size();
            files_.push_back({bytes, bytes.size(), {}, name});
        }
        current_ = initial_;
        for (const crash_promise& p : expected.promises) {
            by_input_[p.input] = &p;
            by_output_[p.output] = &p;
            promised_names_.join(p.input, p.output);
        }
    }

    crash_verdict run() {
        for (const recorded_event& e : record_) verdict_.operations += e.outside ? 0 : 1;
        check_point(-1);
        for (std::size_t i = 0; i < record_.size(); ++i) {
            replay(i);
            check_point(static_cast<std::ptrdiff_t>(i));
        }
        for (const auto& [name, file] : current_) verdict_.final_state[name] = files_[file].content;
        return std::move(verdict_);
    }

private:
    // ---- The disk as the record goes.

    void record_fault(std::size_t index, const std::string& what) {
        fault(crash_fault::record, static_cast<std::ptrdiff_t>(index), record_[index].path, what);
    }

    bool named(std::size_t index, const std::string& path, std::size_t& file) {
        const auto it = current_.find(path);
        if (it == current_.end()) {
            record_fault(index, path + " does not exist");
            return false;
        }
        file = it->second;
        return true;
    }

    void add_op(name_change change, const recorded_event& e, std::size_t file, std::size_t index) {
        ops_.push_back({change, e.path, e.to, file, e.sequence, index});
    }

    void replay(std::size_t index) {
        const recorded_event& e = record_[index];
        std::size_t file = 0;
        if (e.outside) {
            if (!named(index, e.path, file)) return;
            files_[file].content = e.bytes;
            files_[file].durable = e.bytes.size();
            files_[file].unsynced.clear();
            user_[e.path] = e.bytes;
            changed_.insert(e.path);
            matches_.clear();
            return;
        }
        switch (e.op) {
            case disk_op::create:
                if (current_.contains(e.path))
                    return record_fault(index, e.path + " exists already");
                if (!volume_) volume_ = e.file.volume;
                by_identity_[e.file] = current_[e.path] = files_.size();
                files_.push_back({{}, 0, {}, e.path});
                add_op(name_change::create, e, files_.size() - 1, index);
                return;
            case disk_op::write: {
                const auto it = by_identity_.find(e.file);
                if (it == by_identity_.end())
                    return record_fault(index, "a write to a file the run did not create");
                file_data& f = files_[it->second];
                if (static_cast<std::size_t>(e.offset) != f.content.size()) {
                    return record_fault(index, "a write at " + std::to_string(e.offset) + " into " +
                                                   f.name + " of " +
                                                   std::to_string(f.content.size()) +
                                                   " bytes: the model takes appends only");
                }
                f.content += e.bytes;
                f.unsynced.emplace_back(e.sequence, f.content.size());
                return;
            }
            case disk_op::attributes:
                return;
            case disk_op::rename:
                if (!named(index, e.path, file)) return;
                current_.erase(e.path);
                current_[e.to] = file;
                files_[file].name = e.to;
                add_op(name_change::rename, e, file, index);
                return;
            case disk_op::unlink:
                if (!named(index, e.path, file)) return;
                current_.erase(e.path);
                if (!temporary(e.path)) unlinked_.insert(e.path);
                add_op(name_change::unlink, e, file, index);
                return;
            case disk_op::file_sync:
                if (const auto it = by_identity_.find(e.file); it != by_identity_.end())
                    make_data_durable(files_[it->second], e.begun);
                return;
            case disk_op::directory_sync:
                for (name_op& op : ops_) {
                    if (op.sequence >= e.begun) continue;
                    if (directory_of(op.path) == e.path) op.path_synced = true;
                    if (op.change == name_change::rename && directory_of(op.to) == e.path)
                        op.to_synced = true;
                }
                return;
            case disk_op::volume_sync:
                if (!volume_ || *volume_ != e.volume) return;
                for (name_op& op : ops_) {
                    if (op.sequence < e.begun) op.path_synced = op.to_synced = true;
                }
                for (file_data& f : files_) make_data_durable(f, e.begun);
                return;
        }
    }

    static void make_data_durable(file_data& f, std::uint64_t begun) {
        while (!f.unsynced.empty() && f.unsynced.front().first < begun) {
            f.durable = f.unsynced.front().second;
            f.unsynced.pop_front();
        }
    }

    // ---- The states of one crash point.

    void check_point(std::ptrdiff_t point) {
        point_ = point;
        names_known_ = false;
        at_fin_ = expected_.finished && point + 1 == static_cast<std::ptrdiff_t>(record_.size());
        std::vector<std::size_t> pending_ops, pending_files;
        for (std::size_t i = 0; i < ops_.size(); ++i) {
            if (!ops_[i].durable()) pending_ops.push_back(i);
        }
        for (std::size_t f = 0; f < files_.size(); ++f) {
            if (files_[f].durable < files_[f].content.size()) pending_files.push_back(f);
        }
        lost_.assign(ops_.size(), false);
        length_.resize(files_.size());
        for (std::size_t f = 0; f < files_.size(); ++f) length_[f] = files_[f].content.size();
        evaluate();
        if (pending_ops.empty() && pending_files.empty()) return;
        for (const std::size_t op : pending_ops) lost_[op] = true;
        for (const std::size_t f : pending_files) length_[f] = files_[f].durable;
        evaluate();
        for (const std::size_t op : pending_ops) lost_[op] = false;
        for (const std::size_t f : pending_files) length_[f] = files_[f].content.size();

        // Items: the pending ops, then the files with pending data.
        const std::size_t count = pending_ops.size() + pending_files.size();
        item_groups groups(count);
        std::map<std::string, std::size_t> by_name;
        std::map<std::size_t, std::size_t> by_file;
        const auto meet = [&groups](auto& seen, const auto& key, std::size_t item) {
            const auto [it, first] = seen.emplace(key, item);
            if (!first) groups.join(item, it->second);
        };
        for (std::size_t i = 0; i < pending_files.size(); ++i)
            by_file[pending_files[i]] = pending_ops.size() + i;
        for (std::size_t i = 0; i < pending_ops.size(); ++i) {
            const name_op& op = ops_[pending_ops[i]];
            meet(by_name, promised_names_.find(op.path), i);
            if (op.change == name_change::rename) meet(by_name, promised_names_.find(op.to), i);
            meet(by_file, op.file, i);
        }
        std::map<std::size_t, std::vector<std::size_t>> members;
        for (std::size_t item = 0; item < count; ++item) members[groups.find(item)].push_back(item);
        for (const auto& group : members) {
            const std::vector<std::size_t>& items = group.second;
            std::vector<std::size_t> counts;
            for (const std::size_t item : items) {
                counts.push_back(item < pending_ops.size()
                                     ? 2
                                     : 2 + cuts(pending_files[item - pending_ops.size()]));
            }
            const bool whole = bounded_choices(counts, [&](const std::vector<std::size_t>& choice) {
                for (std::size_t k = 0; k < items.size(); ++k) {
                    if (items[k] < pending_ops.size()) {
                        lost_[pending_ops[items[k]]] = choice[k] == 1;
                    } else {
                        const std::size_t f = pending_files[items[k] - pending_ops.size()];
                        length_[f] = visible_length(f, choice[k]);
                    }
                }
                evaluate();
                for (const std::size_t item : items) {
                    if (item < pending_ops.size()) {
                        lost_[pending_ops[item]] = false;
                    } else {
                        const std::size_t f = pending_files[item - pending_ops.size()];
                        length_[f] = files_[f].content.size();
                    }
                }
            });
            verdict_.reduced += whole ? 0 : 1;
        }
    }

    // Block boundaries strictly between the durable and the whole length.
    std::size_t cuts(std::size_t f) const {
        const std::size_t first = files_[f].durable / BLOCK + 1;
        const std::size_t last = (files_[f].content.size() - 1) / BLOCK;
        return last >= first ? last - first + 1 : 0;
    }

    // Option 0: whole; 1: lost; 2 on: cut at each boundary.
    std::size_t visible_length(std::size_t f, std::size_t option) const {
        if (option == 0) return files_[f].content.size();
        if (option == 1) return files_[f].durable;
        return (files_[f].durable / BLOCK + option - 1) * BLOCK;
    }

    // ---- One state.

    void evaluate() {
        ++verdict_.states;
        if (!names_known_ || lost_ != names_for_) {
            names_known_ = true;
            names_for_ = lost_;
            names_ = initial_;
            for (std::size_t i = 0; i < ops_.size(); ++i) {
                if (lost_[i]) continue;
                const name_op& op = ops_[i];
                if (op.change == name_change::create) names_[op.path] = op.file;
                if (op.change == name_change::rename) {
                    names_.erase(op.path);
                    names_[op.to] = op.file;
                }
                if (op.change == name_change::unlink) names_.erase(op.path);
            }
        }
        for (const auto& [name, bytes] : user_) judge_user_file(name, bytes);
        for (const auto& [name, file] : names_) {
            if (user_.contains(name) || temporary(name)) continue;
            const auto p = by_output_.find(name);
            if (p != by_output_.end() && starts(file, p->second->output_bytes)) continue;
            fault(crash_fault::stray_file, point_, name,
                  name + (p == by_output_.end() ? " is no output of the run"
                                                : " holds " + std::to_string(length_[file]) +
                                                      " bytes that do not begin its output"));
        }
        if (!at_fin_) return;
        for (const crash_promise& p : expected_.promises) {
            if (p.committed && !complete(p))
                fault(crash_fault::output_at_fin, point_, p.output,
                      "at fin, the output " + output_status(p));
        }
        for (const std::string& name : unlinked_) {
            if (!current_.contains(name) && names_.contains(name))
                fault(crash_fault::deletion_at_fin, point_, name,
                      "at fin, " + name + ", which the run deleted, is back");
        }
    }

    void judge_user_file(const std::string& name, const std::string& bytes) {
        const auto here = names_.find(name);
        if (here != names_.end() && equal(here->second, bytes)) return;
        const auto as_input = by_input_.find(name);
        const crash_promise* input_of =
            as_input == by_input_.end() || changed_.contains(name) ? nullptr : as_input->second;
        if (input_of != nullptr && complete(*input_of)) return;
        const auto as_output = by_output_.find(name);
        if (as_output != by_output_.end() && as_output->second->input != name &&
            here != names_.end() && starts(here->second, as_output->second->output_bytes)) {
            return;
        }
        std::string what = here == names_.end()
                               ? name + " is lost"
                               : name + " holds " + std::to_string(length_[here->second]) +
                                     " bytes, not its own " + std::to_string(bytes.size());
        if (input_of != nullptr) what += ", and its output " + output_status(*input_of);
        fault(crash_fault::user_file, point_, name, what);
    }

    bool complete(const crash_promise& p) {
        const auto it = names_.find(p.output);
        return it != names_.end() && equal(it->second, p.output_bytes);
    }

    std::string output_status(const crash_promise& p) {
        const auto it = names_.find(p.output);
        if (it == names_.end()) return p.output + " is missing";
        return p.output + " has " + std::to_string(length_[it->second]) + " of " +
               std::to_string(p.output_bytes.size()) + " bytes" +
               (starts(it->second, p.output_bytes) ? "" : ", not the output's");
    }

    // How far file's bytes agree with expected, remembered per pair: files
    // only grow between points, and the test's changes clear it.
    std::size_t agreeing(std::size_t file, const std::string& expected) {
        auto& [seen, common] = matches_[{file, &expected}];
        const std::string& content = files_[file].content;
        if (common == seen && seen < content.size()) {
            const std::size_t end = std::min(content.size(), expected.size());
            while (common < end && content[common] == expected[common]) ++common;
        }
        seen = content.size();
        return common;
    }
    bool equal(std::size_t file, const std::string& expected) {
        return length_[file] == expected.size() && agreeing(file, expected) >= length_[file];
    }
    bool starts(std::size_t file, const std::string& expected) {
        return length_[file] <= expected.size() && agreeing(file, expected) >= length_[file];
    }

    // ---- The report.

    std::string state_text() const {
        std::vector<std::string> parts;
        bool all_lost = true;
        for (std::size_t i = 0; i < ops_.size(); ++i) {
            if (lost_[i]) parts.push_back("lost " + describe(record_[ops_[i].event]));
            all_lost = all_lost && (lost_[i] || ops_[i].durable());
        }
        for (std::size_t f = 0; f < files_.size(); ++f) {
            const std::size_t size = files_[f].content.size();
            if (length_[f] == size) continue;
            parts.push_back(
                "data of " + files_[f].name +
                (length_[f] == files_[f].durable
                     ? " lost"
                     : " cut at " + std::to_string(length_[f]) + " of " + std::to_string(size)));
        }
        for (std::size_t f = 0; f < files_.size(); ++f)
            all_lost = all_lost && length_[f] == files_[f].durable;
        if (parts.empty()) return "nothing lost";
        if (all_lost && parts.size() > 2) return "everything pending lost";
        std::string text;
        for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
        return text;
    }

    void fault(crash_fault kind, std::ptrdiff_t point, const std::string& file,
               const std::string& what) {
        ++verdict_.faults[static_cast<int>(kind)];
        verdict_.files[static_cast<int>(kind)].insert(file);
        if (reported_.size() >= REPORTED || !reported_.insert({point, what}).second) return;
        std::string where = "before the first operation";
        if (point >= 0) {
            const recorded_event& e = record_[static_cast<std::size_t>(point)];
            where = "after operation " + std::to_string(point + 1) + " of " +
                    std::to_string(record_.size()) + " (thread " + std::to_string(e.thread) + ": " +
                    describe(e) + ")";
        }
        verdict_.report += where + ": " + what +
                           (kind == crash_fault::record ? "\n" : " [" + state_text() + "]\n");
    }

    const std::vector<recorded_event>& record_;
    const crash_expectations& expected_;
    crash_verdict verdict_;

    std::vector<file_data> files_;
    std::map<std::string, std::size_t> initial_;  // names before the run
    std::map<std::string, std::size_t> current_;  // every operation so far kept
    std::map<file_identity, std::size_t> by_identity_;
    std::vector<name_op> ops_;
    std::optional<std::uint64_t> volume_;
    std::set<std::string> unlinked_;  // by the run, temporaries aside

    std::map<std::string, std::string> user_;  // the user's files, as the test left them
    std::set<std::string> changed_;            // by the test during the run
    std::map<std::string, const crash_promise*> by_input_, by_output_;
    name_groups promised_names_;

    // The state being judged.
    std::ptrdiff_t point_ = -1;
    bool at_fin_ = false;
    std::vector<char> lost_;           // per op
    std::vector<std::size_t> length_;  // per file
    bool names_known_ = false;
    std::vector<char> names_for_;  // the lost_ that names_ was made for
    std::map<std::string, std::size_t> names_;
    std::map<std::pair<std::size_t, const std::string*>, std::pair<std::size_t, std::size_t>>
        matches_;
    std::set<std::pair<std::ptrdiff_t, std::string>> reported_;
};

}  // namespace

crash_verdict check_crash_states(const std::vector<recorded_event>& record,
                                 const crash_expectations& expected) {
    return crash_checker(record, expected).run();
}
