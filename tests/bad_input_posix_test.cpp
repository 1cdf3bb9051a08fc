// Awkward input through the real binary: odd names, deep trees and long
// paths, an over-long passphrase, damaged headers and cut containers. Each
// run's transcript is compared whole and the files left are checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "container/container.h"
#include "front/key_entry.h"
#include "support/pty_posix.h"
#include "support/tovik_run_posix.h"

using namespace tovik_run;

namespace {

const std::string KEY = "bad input";
using tree = std::map<std::string, std::string>;

finished_run run_tovik(const temp_dir& dir, const std::vector<std::string>& args,
                       const std::string& key = KEY) {
    return run_binary(dir.root, args, key);
}

// The report of a run in which every target succeeded, in processing order.
std::string all_ok(const std::vector<std::string>& order, const char* verb) {
    std::string text = "\n";
    for (const std::string& target : order) text += target + " " + verb + " .....ok!\n";
    return text + "\nfin\n";
}

void expect_clean_end(const finished_run& run, bool confirmed, const std::string& after) {
    ASSERT_TRUE(run.dialogue) << run.transcript;
    EXPECT_EQ(run.confirmed, confirmed);
    EXPECT_EQ(run.after_dialogue, after);
    EXPECT_TRUE(run.status.exited && run.status.code == 0)
        << "code " << run.status.code << " signal " << run.status.signal;
}

// Encrypts pattern's targets with "-d", checks, then decrypts them back with
// "-d" and checks that the tree is what it was.
void round_trip(const temp_dir& dir, const tree& files, const std::string& pattern) {
    for (const auto& [name, bytes] : files) ASSERT_TRUE(write_file(dir.at(name), bytes));
    const std::vector<std::string> order = targets_in(dir.root, pattern);
    ASSERT_EQ(order.size(), files.size());
    expect_clean_end(run_tovik(dir, {pattern, "-d"}), true, all_ok(order, "encrypting"));
    tree encrypted;
    for (const auto& [name, bytes] : files) encrypted[name + ".tvk"] = container_of(bytes, KEY);
    EXPECT_TRUE(snapshot(dir.root) == encrypted);

    const std::vector<std::string> back = targets_in(dir.root, pattern);
    expect_clean_end(run_tovik(dir, {pattern, "-d"}), false, all_ok(back, "decrypting"));
    EXPECT_TRUE(snapshot(dir.root) == files);
}

}  // namespace

// Names go to the file system and to the screen byte for byte: no format
// directive is expanded, no byte is rejected or changed.
TEST(BadInput, OddNamesRoundTrip) {
    temp_dir dir;
    tree files;
    for (const char* name : {"with space", " lead and trail ", "100%s%n%x", "line\nbreak", "-lead",
                             "-d", "-h", "caf\xE9", "\xFF\xFE\x80", "*star?", "tab\there"}) {
        files[std::string("names/") + name] = std::string("content of ") + name;
    }
    round_trip(dir, files, "names");
}

// Names that look like flags or directives, given as the input itself.
TEST(BadInput, OddNamesAsTheArgument) {
    temp_dir dir;
    write_file(dir.at("-d"), "named like the flag");
    write_file(dir.at("%s%n"), "named like directives");
    expect_clean_end(run_tovik(dir, {"-d"}), true, "\n-d encrypting .....ok!\n\nfin\n");
    expect_clean_end(run_tovik(dir, {"%s%n", "-d"}), true, "\n%s%n encrypting .....ok!\n\nfin\n");
    EXPECT_TRUE(snapshot(dir.root) ==
                (tree{{"-d", "named like the flag"},
                      {"-d.tvk", container_of("named like the flag", KEY)},
                      {"%s%n.tvk", container_of("named like directives", KEY)}}));
}

// 110 levels and a long last name: a path of about 1,300 characters, walked
// from the top and then given whole on the command line.
TEST(BadInput, DeepTreeAndLongPath) {
    temp_dir dir;
    std::string path = "deep";
    for (int level = 0; level < 110; ++level) path += "/level-" + std::to_string(1000 + level);
    path += "/" + std::string(200, 'f');
    ASSERT_GT(path.size(), 1200u);
    ASSERT_TRUE(write_file(dir.at(path), "at the bottom"));
    expect_clean_end(run_tovik(dir, {"deep", "-d"}), true,
                     "\n" + path + " encrypting .....ok!\n\nfin\n");
    EXPECT_TRUE(snapshot(dir.root) == (tree{{path + ".tvk", container_of("at the bottom", KEY)}}));
    expect_clean_end(run_tovik(dir, {path + ".tvk", "-d"}), false,
                     "\n" + path + ".tvk decrypting .....ok!\n\nfin\n");
    EXPECT_TRUE(snapshot(dir.root) == (tree{{path, "at the bottom"}}));
}

// Only the first 1023 bytes of a key are kept (and echoed): the container
// is the one of that prefix, and typing the long key again opens it.
TEST(BadInput, OverlongPassphraseKeepsItsFirst1023Bytes) {
    temp_dir dir;
    std::mt19937 random(5);
    std::string key(2000, ' ');
    for (char& c : key) c = static_cast<char>('a' + random() % 26);
    const std::string kept = key.substr(0, PASSPHRASE_SIZE - 1);
    write_file(dir.at("file"), "guarded by a long key");
    expect_clean_end(run_tovik(dir, {"file", "-d"}, key), true,
                     "\nfile encrypting .....ok!\n\nfin\n");
    EXPECT_TRUE(snapshot(dir.root) ==
                (tree{{"file.tvk", container_of("guarded by a long key", kept)}}));
    expect_clean_end(run_tovik(dir, {"file.tvk", "-d"}, key), false,
                     "\nfile.tvk decrypting .....ok!\n\nfin\n");
    EXPECT_TRUE(snapshot(dir.root) == (tree{{"file", "guarded by a long key"}}));
}

// A header that has the magic but not this key's check value is refused
// before anything is written; without the exact magic the file is plain.
TEST(BadInput, DamagedHeadersAreRefusedOrTakenAsPlain) {
    const std::string header = header_of(KEY);
    const std::string body = "body bytes";
    std::string upper = header;
    std::transform(upper.begin() + MAGIC_LENGTH, upper.end(), upper.begin() + MAGIC_LENGTH,
                   [](char c) { return static_cast<char>(std::toupper(c)); });
    ASSERT_NE(upper, header) << "the check value has no letter to raise";
    std::string off_by_one = header;
    off_by_one[20] = off_by_one[20] == '0' ? '1' : '0';
    std::string with_nul = header;
    with_nul[12] = '\0';
    const std::pair<std::string, bool> cases[] = {
        // content, refused (else encrypted as plain)
        {"tvk4:", true},
        {header.substr(0, 20), true},
        {upper + body, true},
        {off_by_one + body, true},
        {with_nul + body, true},
        {"tvk", false},
        {"TVK4:" + header.substr(MAGIC_LENGTH) + body, false},
        {"tvk4;" + header.substr(MAGIC_LENGTH) + body, false},
        {" " + header + body, false},
    };
    for (const auto& [content, refused] : cases) {
        SCOPED_TRACE(testing::Message() << "[" << content << "]");
        temp_dir dir;
        write_file(dir.at("box.tvk"), content);
        const finished_run run = run_tovik(dir, {"box.tvk", "-d"});
        if (refused) {
            expect_clean_end(run, false, "\nincorrect key, no operations were performed\n");
            EXPECT_TRUE(snapshot(dir.root) == (tree{{"box.tvk", content}}));
        } else {
            expect_clean_end(run, true, "\nbox.tvk encrypting .....ok!\n\nfin\n");
            EXPECT_TRUE(snapshot(dir.root) == (tree{{"box.tvk.tvk", container_of(content, KEY)}}));
        }
    }
}

// A container cut inside its body decrypts to the plain text's beginning,
// without complaint (the manual says so); a bare header to an empty file.
TEST(BadInput, CutContainersDecryptShorter) {
    temp_dir dir;
    const std::string plain = random_bytes(5000, 8);
    write_file(dir.at("t/cut.tvk"), container_of(plain, KEY).substr(0, HEADER_LENGTH + 1234));
    write_file(dir.at("t/bare.tvk"), header_of(KEY));
    const std::vector<std::string> order = targets_in(dir.root, "t");
    expect_clean_end(run_tovik(dir, {"t", "-d"}), false, all_ok(order, "decrypting"));
    EXPECT_TRUE(snapshot(dir.root) == (tree{{"t/cut", plain.substr(0, 1234)}, {"t/bare", ""}}));
}
