// The whole program, run as a user runs it: the real binary on its own
// pseudo-terminal, keys typed, the transcript and exit status compared byte
// for byte, and the files left behind checked.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/tovik_run_posix.h"
#include "support/vectors.h"

using namespace tovik_run;

namespace {

using tree = std::map<std::string, std::string>;

const std::string USAGE =
    "\nUsage: tovik <input file> [flag]\n"
    "\n       flag: -d this flag will delete the original"
    "\n             input file after the operation\n"
    "\nnotes: The input file can accept wildcards like '*', '*.*',"
    "\n       '*.exe', '*.t*', path, full path or filename only. \n\n"
    "\ntype \"tovik -h|more\" for full detailed info\n";

void expect_exit(const pty::exit_status& status, int code) {
    EXPECT_TRUE(status.exited) << "signaled " << status.signal << " timed out " << status.timed_out;
    EXPECT_EQ(status.code, code);
}

// How the run is started besides its arguments.
enum class setting { plain, answer_from_file, no_terminal, manual_on_path, manual_nowhere };

struct run_case {
    const char* name;
    tree files;
    std::vector<std::string> args;
    setting how;
    std::string key;  // empty: nothing is typed
    std::string answer;
    bool confirmed;     // the key is asked twice
    std::string shown;  // after the banner, or after the dialogue when a key is typed
    int status;
    tree left;  // empty: the files as they were
};

}  // namespace

TEST(Driver, WholeRunsByTheirTranscriptAndFiles) {
    const std::string hello = hello_container();
    ASSERT_FALSE(hello.empty());
    // clang-format off
    const run_case cases[] = {
        {"no argument", {}, {}, setting::plain, "", "", false, USAGE, 0, {}},
        {"three arguments", {}, {"a", "-d", "b"}, setting::plain, "", "", false, USAGE, 0, {}},
        {"unknown flag", {{"a.txt", "data"}}, {"a.txt", "-D"}, setting::plain, "", "", false,
         "\nunknown -D flag\n\n", 0, {}},
        {"nothing collected", {}, {"nothere*"}, setting::plain, "", "", false,
         "\ncannot process input file nothere*\n", 1, {}},
        {"manual here", {{"tovik.man", "the manual: 100%\n"}}, {"-h"}, setting::plain, "", "",
         false, "the manual: 100%\n", 0, {}},
        {"manual along PATH", {{"sub/x", ""}, {"docs/tovik.man", "from PATH\n"}}, {"-h"},
         setting::manual_on_path, "", "", false, "from PATH\n", 0, {}},
        {"manual nowhere", {{"sub/x", ""}, {"docs/tovik.man", "from PATH\n"}}, {"-h"},
         setting::manual_nowhere, "", "", false, "\ncannot find the file tovik.man\n\n", 0, {}},
        {"no terminal", {{"a.txt", "data"}}, {"a.txt"}, setting::no_terminal, "", "", false,
         "Key:\ncannot read the key: no terminal to type it at\n", 1, {}},
        {"encrypt, Enter for yes", {{"hello.txt", "hello\n"}}, {"hello.txt"}, setting::plain,
         "secret", "\n", true, "\nhello.txt encrypting .....ok!\n\nfin\n", 0,
         {{"hello.txt", "hello\n"}, {"hello.txt.tvk", hello}}},
        {"decrypt, one entry", {{"hello.txt.tvk", hello}}, {"hello.txt.tvk"}, setting::plain,
         "secret", "y\n", false, "\nhello.txt.tvk decrypting .....ok!\n\nfin\n", 0,
         {{"hello.txt", "hello\n"}, {"hello.txt.tvk", hello}}},
        {"answer n", {{"a.txt", "data"}}, {"a.txt"}, setting::plain, "k", "n\n", true,
         "\nprocess aborted...\n\n", 0, {}},
        {"answer No", {{"a.txt", "data"}}, {"a.txt"}, setting::plain, "k", "No\n", true,
         "\nprocess aborted...\n\n", 0, {}},
        {"answer from standard input", {{"a.txt", "data"}, {"answers", "y\n"}}, {"a.txt"},
         setting::answer_from_file, "k", "", true, "\na.txt encrypting .....ok!\n\nfin\n", 0,
         {{"a.txt", "data"}, {"a.txt.tvk", container_of("data", "k")}, {"answers", "y\n"}}},
        {"wrong passphrase", {{"box/a.tvk", hello}, {"box/b.tvk", hello}}, {"box"}, setting::plain,
         "wrong", "y\n", false, "\nincorrect key, no operations were performed\n", 0, {}},
        {"empty file", {{"empty", ""}}, {"empty"}, setting::plain, "k", "y\n", true,
         "\nbypassing 0byte file empty\n\nfin\n", 0, {}},
        {"a file named --help", {{"--help", "data"}}, {"./--help"}, setting::plain, "k", "y\n",
         true, "\n./--help encrypting .....ok!\n\nfin\n", 0,
         {{"--help", "data"}, {"--help.tvk", container_of("data", "k")}}},
        {"-h with -d is a pattern", {{"tovik.man", "manual\n"}, {"-h", "a file named -h"}},
         {"-h", "-d"}, setting::plain, "k", "y\n", true, "\n-h encrypting .....ok!\n\nfin\n", 0,
         {{"tovik.man", "manual\n"}, {"-h.tvk", container_of("a file named -h", "k")}}},
    };
    // clang-format on
    for (const run_case& c : cases) {
        SCOPED_TRACE(c.name);
        temp_dir dir;
        for (const auto& [name, bytes] : c.files) ASSERT_TRUE(write_file(dir.at(name), bytes));
        pty::child_options options;
        std::string where = dir.root;
        if (c.how == setting::answer_from_file) {
            options.input = pty::stdin_source::file;
            options.input_file = dir.at("answers");
        } else if (c.how == setting::no_terminal) {
            options.no_terminal = true;
        } else if (c.how == setting::manual_on_path || c.how == setting::manual_nowhere) {
            where = dir.at("sub");
            options.set_env.push_back(
                {"PATH",
                 "/nonexistent" + (c.how == setting::manual_on_path ? ":" + dir.at("docs") : "")});
        }
        pty::session run;
        ASSERT_TRUE(start_binary(run, where, c.args, false, options));
        if (!c.key.empty()) {
            ASSERT_TRUE(type_dialogue(run, c.key, c.answer));
        }
        const finished_run done = finish(run, c.key.size());
        expect_exit(done.status, c.status);
        EXPECT_EQ(done.transcript,
                  (c.key.empty() ? BANNER : dialogue_text(c.key.size(), c.confirmed, c.answer)) +
                      c.shown);
        EXPECT_TRUE(snapshot(dir.root) == (c.left.empty() ? c.files : c.left));
    }
}

TEST(Driver, MismatchedReentryTouchesNothing) {
    temp_dir dir;
    write_file(dir.at("a.txt"), "data");
    pty::session run;
    ASSERT_TRUE(start_binary(run, dir.root, {"a.txt"}));
    ASSERT_TRUE(run.wait_for_output(BANNER + "Key:"));
    ASSERT_TRUE(run.send_when_reading("one\r"));
    ASSERT_TRUE(run.wait_for_output("\nReenter Key:"));
    ASSERT_TRUE(run.send_when_reading("two\r"));
    expect_exit(run.wait_exit(), 0);
    EXPECT_EQ(run.transcript(), BANNER + "Key:***\nReenter Key:***\nKey you type is incorrect\n");
    EXPECT_EQ(dir.names(), std::set<std::string>{"a.txt"});
}

// Every target a pattern yields is taken once, in the order of collection;
// one key entry when the first is a container, two otherwise.
TEST(Driver, WildcardsAndTreesTakeEveryMatchOnce) {
    const std::string key = "secret";
    const tree files{{"a.txt", "a"},
                     {"b.dat", "b"},
                     {"c.tvk", hello_container()},
                     {"sub/c.txt", "c"},
                     {"sub/deeper/d.txt", "d"},
                     {"x.txt.d/e", "e"}};
    temp_dir dir;
    for (const auto& [name, bytes] : files) ASSERT_TRUE(write_file(dir.at(name), bytes));
    ASSERT_EQ(mkfifo(dir.at("sub/pipe").c_str(), 0600), 0);
    const std::string ENCRYPTED = " encrypting .....ok!", DECRYPTED = " decrypting .....ok!";
    const std::map<std::string, std::map<std::string, std::string>> lines_by_pattern{
        {"sub",
         {{"sub/c.txt", "sub/c.txt" + ENCRYPTED},
          {"sub/deeper/d.txt", "sub/deeper/d.txt" + ENCRYPTED},
          {"sub/pipe", "bypassing 0byte file sub/pipe"}}},
        {"*.t*",
         {{"a.txt", "a.txt" + ENCRYPTED},
          {"c.tvk", "c.tvk" + DECRYPTED},
          {"x.txt.d/e", "x.txt.d/e" + ENCRYPTED}}},
    };
    tree expected = snapshot(dir.root);
    for (const auto& [pattern, lines] : lines_by_pattern) {
        SCOPED_TRACE(pattern);
        const std::vector<std::string> order = targets_in(dir.root, pattern);
        std::set<std::string> targets;
        for (const auto& [target, line] : lines) targets.insert(target);
        ASSERT_EQ(order.size(), lines.size());
        ASSERT_EQ(std::set<std::string>(order.begin(), order.end()), targets);
        std::string report = "\n";
        for (const std::string& target : order) report += lines.at(target) + "\n";
        const bool head_container = snapshot(dir.root).at(order[0]).starts_with("tvk4:");
        const finished_run run = run_binary(dir.root, {pattern}, key);
        EXPECT_EQ(run.confirmed, !head_container) << run.transcript;
        EXPECT_EQ(run.after_dialogue, report + "\nfin\n");
        expect_exit(run.status, 0);
        for (const auto& [target, line] : lines) {
            if (line.ends_with(ENCRYPTED))
                expected[target + ".tvk"] = container_of(files.at(target), key);
        }
    }
    expected["c"] = "hello\n";
    EXPECT_TRUE(snapshot(dir.root) == expected);
}
