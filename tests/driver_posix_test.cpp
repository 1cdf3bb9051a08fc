// The whole program, run as a user runs it: the real binary on its own
// pseudo-terminal, keys typed, the transcript and exit status compared byte
// for byte, and the files left behind checked.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "collect/targets.h"
#include "support/console_text.h"
#include "support/pty_posix.h"
#include "support/vectors.h"

namespace fs = std::filesystem;

namespace {

using console_text::BANNER;
using console_text::READY;

const std::string USAGE =
    "\nUsage: tovik <input file> [flag]\n"
    "\n       flag: -d this flag will delete the original"
    "\n             input file after the operation\n"
    "\nnotes: The input file can accept wildcards like '*', '*.*',"
    "\n       '*.exe', '*.t*', path, full path or filename only. \n\n"
    "\ntype \"tovik -h|more\" for full detailed info\n";

// "hello\n" under the passphrase "secret", from the whole-container vectors.
std::string hello_container() {
    for (const auto& v : read_vector_file("containers.txt"))
        if (v[0] == "736563726574") return from_hex(v[2]);
    return {};
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

class Tovik : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tovik-run-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
    }
    void TearDown() override { fs::remove_all(root); }

    void start(std::vector<std::string> args, pty::child_options options = {}) {
        args.insert(args.begin(), TOVIK_BINARY);
        options.working_dir = root;
        options.set_env.push_back({"PATH", "/usr/bin:/bin"});
        ASSERT_TRUE(run.start(args, options));
    }
    // Waits for text to appear after everything seen so far.
    void expect(const std::string& text) {
        ASSERT_TRUE(run.wait_for_output(text, seen)) << "waiting for [" << text << "] in ["
                                                    << run.transcript() << "]";
        seen = run.transcript().find(text, seen) + text.size();
    }
    void type_key(const std::string& prompt, const std::string& key) {
        expect(prompt);
        ASSERT_TRUE(run.send_when_reading(key + "\r"));
        expect(std::string(key.size(), '*'));
    }
    void answer(const std::string& line) {
        expect(READY);
        ASSERT_TRUE(run.send(line));
    }
    pty::exit_status finish() { return run.wait_exit(); }
    std::string transcript() { return run.transcript(); }

    // A plain run's dialogue up to the ready answer, echoed by the terminal.
    std::string dialogue(const std::string& key, bool confirmed) {
        std::string stars(key.size(), '*');
        std::string text = BANNER + "Key:" + stars;
        if (confirmed) text += "\nReenter Key:" + stars;
        return text + READY;
    }

    // Whether the target the program processes first is a container, which
    // decides its prompts; the order is the OS's, so ask the collector.
    bool head_is_container(const std::string& pattern) {
        fs::path cwd = fs::current_path();
        fs::current_path(root);
        target_list list = nullptr;
        collect_targets(&list, pattern);
        bool container = list != nullptr && read_file(list->path).starts_with("tvk4:");
        free_targets(&list);
        fs::current_path(cwd);
        return container;
    }

    fs::path root;
    pty::session run;
    std::size_t seen = 0;
};

void expect_exit(const pty::exit_status& status, int code) {
    EXPECT_TRUE(status.exited) << "signaled " << status.signal << " timed out " << status.timed_out;
    EXPECT_EQ(status.code, code);
}

}  // namespace

TEST_F(Tovik, WrongArgumentCountPrintsUsage) {
    start({});
    expect_exit(finish(), 0);
    EXPECT_EQ(transcript(), BANNER + USAGE);

    pty::session more;
    ASSERT_TRUE(more.start({TOVIK_BINARY, "a", "-d", "b"}));
    expect_exit(more.wait_exit(), 0);
    EXPECT_EQ(more.transcript(), BANNER + USAGE);
}

TEST_F(Tovik, UnknownFlagCollectsNothing) {
    write_file(root / "a.txt", "data");
    start({"a.txt", "-D"});
    expect_exit(finish(), 0);
    EXPECT_EQ(transcript(), BANNER + "\nunknown -D flag\n\n");
    EXPECT_EQ(read_file(root / "a.txt"), "data");
    EXPECT_FALSE(fs::exists(root / "a.txt.tvk"));
}

TEST_F(Tovik, ManualFromCurrentDirectoryAlongPathOrMissing) {
    write_file(root / "tovik.man", "the manual: 100%\n");
    start({"-h"});
    expect_exit(finish(), 0);
    EXPECT_EQ(transcript(), BANNER + "the manual: 100%\n");

    fs::create_directory(root / "sub");
    fs::create_directory(root / "docs");
    write_file(root / "docs" / "tovik.man", "from PATH\n");
    pty::session along;
    pty::child_options options;
    options.working_dir = (root / "sub").string();
    options.set_env.push_back({"PATH", "/nonexistent:" + (root / "docs").string()});
    ASSERT_TRUE(along.start({TOVIK_BINARY, "-h"}, options));
    expect_exit(along.wait_exit(), 0);
    EXPECT_EQ(along.transcript(), BANNER + "from PATH\n");

    pty::session missing;
    options.set_env.back().second = "/nonexistent";
    ASSERT_TRUE(missing.start({TOVIK_BINARY, "-h"}, options));
    expect_exit(missing.wait_exit(), 0);
    EXPECT_EQ(missing.transcript(), BANNER + "\ncannot find the file tovik.man\n\n");
}

TEST_F(Tovik, DashHWithDeleteFlagIsAPattern) {
    write_file(root / "tovik.man", "manual\n");
    write_file(root / "-h", "a file named -h");
    start({"-h", "-d"});
    type_key("Key:", "k");
    type_key("\nReenter Key:", "k");
    answer("y\n");
    expect_exit(finish(), 0);
    EXPECT_EQ(transcript(), dialogue("k", true) + "y\n\n-h encrypting .....ok!\n\nfin\n");
    EXPECT_FALSE(fs::exists(root / "-h"));
    EXPECT_EQ(fs::file_size(root / "-h.tvk"), 15u + 37u);
}

TEST_F(Tovik, NothingCollectedEndsWithStatusOne) {
    start({"nothere*"});
    expect_exit(finish(), 1);
    EXPECT_EQ(transcript(), BANNER + "\ncannot process input file nothere*\n");
}

TEST_F(Tovik, EncryptsOneFileWithConfirmation) {
    write_file(root / "hello.txt", "hello\n");
    start({"hello.txt"});
    type_key("Key:", "secret");
    type_key("\nReenter Key:", "secret");
    answer("\n");
    expect_exit(finish(), 0);
    EXPECT_EQ(transcript(), dialogue("secret", true) + "\n\nhello.txt encrypting .....ok!\n\nfin\n");
    EXPECT_EQ(read_file(root / "hello.txt.tvk"), hello_container());
    EXPECT_EQ(read_file(root / "hello.txt"), "hello\n");
}

TEST_F(Tovik, MismatchedReentryTouchesNothing) {
    write_file(root / "a.txt", "data");
    start({"a.txt"});
    type_key("Key:", "one");
    type_key("\nReenter Key:", "two");
    expect_exit(finish(), 0);
    EXPECT_EQ(transcript(), BANNER + "Key:***\nReenter Key:***\nKey you type is incorrect\n");
    EXPECT_FALSE(fs::exists(root / "a.txt.tvk"));
}

TEST_F(Tovik, AnswerStartingWithNAborts) {
    for (const char* no : {"n\n", "No\n"}) {
        write_file(root / "a.txt", "data");
        pty::session run_no;
        ASSERT_TRUE(run_no.start({TOVIK_BINARY, (root / "a.txt").string()}));
        ASSERT_TRUE(run_no.wait_for_output("Key:"));
        ASSERT_TRUE(run_no.send_when_reading("k\r"));
        ASSERT_TRUE(run_no.wait_for_output("*"));
        ASSERT_TRUE(run_no.wait_for_output("Reenter Key:"));
        ASSERT_TRUE(run_no.send_when_reading("k\r"));
        ASSERT_TRUE(run_no.wait_for_output(READY));
        ASSERT_TRUE(run_no.send(no));
        expect_exit(run_no.wait_exit(), 0);
        EXPECT_EQ(run_no.transcript(),
                  dialogue("k", true) + no + "\nprocess aborted...\n\n");
        EXPECT_FALSE(fs::exists(root / "a.txt.tvk"));
    }
}

TEST_F(Tovik, DecryptsWithASingleEntry) {
    write_file(root / "hello.txt.tvk", hello_container());
    start({"hello.txt.tvk"});
    type_key("Key:", "secret");
    answer("y\n");
    expect_exit(finish(), 0);
    EXPECT_EQ(transcript(),
              dialogue("secret", false) + "y\n\nhello.txt.tvk decrypting .....ok!\n\nfin\n");
    EXPECT_EQ(read_file(root / "hello.txt"), "hello\n");
    EXPECT_EQ(read_file(root / "hello.txt.tvk"), hello_container());
}

TEST_F(Tovik, WrongPassphraseStopsTheRunAndTouchesNothing) {
    fs::create_directory(root / "box");
    write_file(root / "box" / "a.tvk", hello_container());
    write_file(root / "box" / "b.tvk", hello_container());
    start({"box"});
    type_key("Key:", "wrong");
    answer("y\n");
    expect_exit(finish(), 0);
    EXPECT_EQ(transcript(),
              dialogue("wrong", false) + "y\n\nincorrect key, no operations were performed\n");
    EXPECT_EQ(read_file(root / "box" / "a.tvk"), hello_container());
    EXPECT_EQ(read_file(root / "box" / "b.tvk"), hello_container());
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "box"), {}), 2);
}

TEST_F(Tovik, DeleteFlagBothWays) {
    write_file(root / "note", "keep me safe");
    start({"note", "-d"});
    type_key("Key:", "pw");
    type_key("\nReenter Key:", "pw");
    answer("y\n");
    expect_exit(finish(), 0);
    EXPECT_FALSE(fs::exists(root / "note"));
    ASSERT_TRUE(fs::exists(root / "note.tvk"));

    pty::session back;
    pty::child_options options;
    options.working_dir = root.string();
    ASSERT_TRUE(back.start({TOVIK_BINARY, "note.tvk", "-d"}, options));
    ASSERT_TRUE(back.wait_for_output("Key:"));
    ASSERT_TRUE(back.send_when_reading("pw\r"));
    ASSERT_TRUE(back.wait_for_output(READY));
    ASSERT_TRUE(back.send("y\n"));
    expect_exit(back.wait_exit(), 0);
    EXPECT_EQ(back.transcript(),
              dialogue("pw", false) + "y\n\nnote.tvk decrypting .....ok!\n\nfin\n");
    EXPECT_EQ(read_file(root / "note"), "keep me safe");
    EXPECT_FALSE(fs::exists(root / "note.tvk"));
}

TEST_F(Tovik, EmptyFileIsBypassed) {
    write_file(root / "empty", "");
    start({"empty"});
    type_key("Key:", "k");
    type_key("\nReenter Key:", "k");
    answer("y\n");
    expect_exit(finish(), 0);
    EXPECT_EQ(transcript(), dialogue("k", true) + "y\n\nbypassing 0byte file empty\n\nfin\n");
    EXPECT_FALSE(fs::exists(root / "empty.tvk"));
}

TEST_F(Tovik, TreeAndWildcardsProcessEveryMatchOnce) {
    fs::create_directories(root / "sub" / "deeper");
    fs::create_directories(root / "x.txt.d");
    write_file(root / "a.txt", "a");
    write_file(root / "b.dat", "b");
    write_file(root / "sub" / "c.txt", "c");
    write_file(root / "sub" / "deeper" / "d.txt", "d");
    write_file(root / "x.txt.d" / "e", "e");
    mkfifo((root / "sub" / "pipe").c_str(), 0600);

    struct run_case {
        std::string pattern;
        std::set<std::string> lines;
    } cases[] = {
        {"*.txt", {"a.txt encrypting .....ok!"}},
        {"sub", {"sub/c.txt encrypting .....ok!", "sub/deeper/d.txt encrypting .....ok!",
                 "bypassing 0byte file sub/pipe"}},
        {"*.t*", {"a.txt.tvk decrypting .....ok!", "x.txt.d/e encrypting .....ok!"}},
    };
    for (const run_case& c : cases) {
        if (c.pattern == "*.t*") fs::remove(root / "a.txt");  // leaves only its container
        pty::session each;
        pty::child_options options;
        options.working_dir = root.string();
        ASSERT_TRUE(each.start({TOVIK_BINARY, c.pattern}, options));
        ASSERT_TRUE(each.wait_for_output("Key:"));
        ASSERT_TRUE(each.send_when_reading("k\r"));
        ASSERT_TRUE(each.wait_for_output("*"));
        if (!head_is_container(c.pattern)) {
            ASSERT_TRUE(each.wait_for_output("Reenter Key:"));
            ASSERT_TRUE(each.send_when_reading("k\r"));
        }
        ASSERT_TRUE(each.wait_for_output(READY));
        ASSERT_TRUE(each.send("y\n"));
        expect_exit(each.wait_exit(), 0);
        std::string out = each.transcript();
        std::string body = out.substr(out.find(READY) + READY.size());
        ASSERT_EQ(body.substr(0, 3), "y\n\n") << out;
        ASSERT_GE(body.size(), 8u);
        ASSERT_EQ(body.substr(body.size() - 5), "\nfin\n") << out;
        std::set<std::string> lines;
        std::string middle = body.substr(3, body.size() - 8);
        for (std::size_t at = 0; at < middle.size();) {
            std::size_t end = middle.find('\n', at);
            lines.insert(middle.substr(at, end - at));
            at = end + 1;
        }
        EXPECT_EQ(lines, c.lines) << c.pattern;
    }
    EXPECT_EQ(read_file(root / "a.txt"), "a");
    EXPECT_TRUE(fs::exists(root / "x.txt.d" / "e.tvk"));
    EXPECT_TRUE(fs::exists(root / "sub" / "deeper" / "d.txt.tvk"));
    EXPECT_FALSE(fs::exists(root / "b.dat.tvk"));
}

TEST_F(Tovik, MixedRunUsesOnePassphraseChosenByTheHead) {
    fs::create_directory(root / "mix");
    write_file(root / "mix" / "hello.tvk", hello_container());
    write_file(root / "mix" / "plain.txt", "plain");
    const bool container_first = head_is_container("mix");
    start({"mix"});
    type_key("Key:", "secret");
    if (!container_first) type_key("\nReenter Key:", "secret");
    answer("y\n");
    expect_exit(finish(), 0);
    std::string out = transcript();
    EXPECT_NE(out.find("mix/hello.tvk decrypting .....ok!\n"), std::string::npos) << out;
    EXPECT_NE(out.find("mix/plain.txt encrypting .....ok!\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("Reenter") == std::string::npos, container_first);
    EXPECT_EQ(read_file(root / "mix" / "hello"), "hello\n");
    EXPECT_EQ(fs::file_size(root / "mix" / "plain.txt.tvk"), 5u + 37u);
}

TEST_F(Tovik, KeyComesFromTheTerminalWhenStdinIsAFile) {
    write_file(root / "answers", "y\n");
    write_file(root / "a.txt", "data");
    pty::child_options options;
    options.input = pty::stdin_source::file;
    options.input_file = (root / "answers").string();
    start({"a.txt"}, options);
    type_key("Key:", "k");
    type_key("\nReenter Key:", "k");
    expect_exit(finish(), 0);
    EXPECT_EQ(transcript(), dialogue("k", true) + "\na.txt encrypting .....ok!\n\nfin\n");
    EXPECT_TRUE(fs::exists(root / "a.txt.tvk"));
}

TEST_F(Tovik, WithoutATerminalNoFileIsTouched) {
    write_file(root / "a.txt", "data");
    pty::child_options options;
    options.no_terminal = true;
    start({"a.txt"}, options);
    expect_exit(finish(), 1);
    EXPECT_EQ(transcript(), BANNER + "Key:\ncannot read the key: no terminal to type it at\n");
    EXPECT_EQ(read_file(root / "a.txt"), "data");
    EXPECT_FALSE(fs::exists(root / "a.txt.tvk"));
}

TEST_F(Tovik, TargetsWhoseOutputsAreEachOtherAreLeftAlone) {
    fs::create_directory(root / "d");
    write_file(root / "d" / "a", "plain");
    write_file(root / "d" / "a.tvk", hello_container());
    write_file(root / "d" / "b", "other");
    const bool container_first = head_is_container("d");
    start({"d"});
    type_key("Key:", "secret");
    if (!container_first) type_key("\nReenter Key:", "secret");
    answer("y\n");
    expect_exit(finish(), 0);
    const std::string out = transcript();
    const std::string skipped = " skipped: its output would replace another file of this run\n";
    EXPECT_NE(out.find("d/a" + skipped), std::string::npos) << out;
    EXPECT_NE(out.find("d/a.tvk" + skipped), std::string::npos) << out;
    EXPECT_NE(out.find("d/b encrypting .....ok!\n"), std::string::npos) << out;
    EXPECT_EQ(read_file(root / "d" / "a"), "plain");
    EXPECT_EQ(read_file(root / "d" / "a.tvk"), hello_container());
}
