#include "container/container.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>

#include "cipher/key_schedule.h"
#include "cipher/rc4.h"
#include "container/transform.h"
#include "platform/fault.h"
#include "support/oracles.h"
#include "support/vectors.h"

namespace fs = std::filesystem;

namespace {

// A fresh directory per test, removed afterwards.
struct scratch_dir {
    fs::path root;
    scratch_dir() {
        std::random_device seed;
        root = fs::temp_directory_path() / ("tovik-container-" + std::to_string(seed()));
        fs::create_directories(root);
    }
    ~scratch_dir() {
        fault_clear();
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    std::string at(const std::string& name) const { return (root / name).string(); }
    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto& entry : fs::directory_iterator(root)) {
            found.insert(entry.path().filename().string());
        }
        return found;
    }
};

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct keyed {
    key_material keys;
    rc4_state state;
    explicit keyed(const std::string& passphrase) {
        derive_key_material(passphrase.c_str(), keys);
        rc4_setup(keys.cipher_key, sizeof keys.cipher_key, state);
    }
};

constexpr char SECRET_HEADER[] = "tvk4:7022cd14c42ff272619d6beacdc9ffde";  // passphrase "secret"

}  // namespace

TEST(ContainerFormat, WrapWithFilterGivesTheRecordedContainers) {
    const auto rows = read_vector_file("containers.txt");
    ASSERT_EQ(rows.size(), 3u);
    for (const auto& row : rows) {
        scratch_dir dir;
        const std::string passphrase = from_hex(row[0]), plain = from_hex(row[1]);
        write_file(dir.at("plain"), plain);
        keyed encrypt(passphrase);
        ASSERT_EQ(wrap_container(dir.at("plain"), dir.at("box"), encrypt.keys.header_text,
                                 &encrypt.state),
                  0);
        EXPECT_EQ(to_hex(read_file(dir.at("box"))), row[2]);

        write_file(dir.at("recorded"), from_hex(row[2]));
        keyed decrypt(passphrase);
        ASSERT_EQ(unwrap_container(dir.at("recorded"), dir.at("back"), decrypt.keys.header_text,
                                   &decrypt.state),
                  0);
        EXPECT_EQ(read_file(dir.at("back")), plain);
    }
}

// Sizes around the copy block, whose first write also carries the header.
TEST(ContainerFormat, WrapEqualsHeaderAndTextbookRc4AcrossBlockBoundaries) {
    const auto rows = read_vector_file("key-schedule.txt");
    ASSERT_FALSE(rows.empty());
    for (const auto& row : rows) {
        const std::string passphrase = from_hex(row[0]), key = from_hex(row[2]);
        ASSERT_EQ(key.size(), 32u);
        for (std::size_t size : {std::size_t{1}, std::size_t{1023}, std::size_t{1024},
                                 std::size_t{1025}, COPY_BLOCK - HEADER_LENGTH - 1,
                                 COPY_BLOCK - HEADER_LENGTH, COPY_BLOCK, 3 * COPY_BLOCK + 5}) {
            SCOPED_TRACE(size);
            scratch_dir dir;
            const std::string plain = random_bytes(size, static_cast<unsigned>(size));
            write_file(dir.at("plain"), plain);
            keyed encrypt(passphrase);
            ASSERT_EQ(wrap_container(dir.at("plain"), dir.at("box"), encrypt.keys.header_text,
                                     &encrypt.state),
                      0);
            const std::string box = read_file(dir.at("box"));
            ASSERT_EQ(box.size(), size + HEADER_LENGTH);
            EXPECT_EQ(box.substr(0, HEADER_LENGTH), row[1]);
            EXPECT_TRUE(box.substr(HEADER_LENGTH) == textbook_rc4(key, plain));

            keyed decrypt(passphrase);
            ASSERT_EQ(unwrap_container(dir.at("box"), dir.at("back"), decrypt.keys.header_text,
                                       &decrypt.state),
                      0);
            EXPECT_TRUE(read_file(dir.at("back")) == plain);
        }
    }
}

TEST(ContainerFormat, ProbeDecidesByTheFirstFiveBytesAlone) {
    scratch_dir dir;
    const std::pair<const char*, int> cases[] = {
        {"", 0},
        {"tvk4", 0},
        {"tvk4:", 1},
        {"TVK4:", 0},
        {"tvk4;xyz", 0},
        {"xtvk4:", 0},
        {"tvk4:not a real header at all", 1},
    };
    for (const auto& [content, expected] : cases) {
        write_file(dir.at("f"), content);
        EXPECT_EQ(probe_container(dir.at("f"), CONTAINER_MAGIC), expected) << content;
        // The transform passes a whole header; only its magic counts.
        EXPECT_EQ(probe_container(dir.at("f"), SECRET_HEADER), expected) << content;
    }
    write_file(dir.at("named.tvk"), "plain text");
    EXPECT_EQ(probe_container(dir.at("named.tvk"), CONTAINER_MAGIC), 0);
    EXPECT_EQ(probe_container(dir.at("missing"), CONTAINER_MAGIC), -1);
    fault_arm(fault_point::open, 1, EACCES);
    EXPECT_EQ(probe_container(dir.at("f"), CONTAINER_MAGIC), -1);
}

// -10 leaves the directory exactly as it was, including a file of the
// destination's name.
TEST(ContainerFormat, HeadersThatDoNotMatchWriteNothing) {
    std::string upper = SECRET_HEADER;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    upper.replace(0, MAGIC_LENGTH, CONTAINER_MAGIC);
    const std::string secret_header = SECRET_HEADER;
    const std::string cases[] = {
        "tvk4:",                                                // magic alone
        secret_header.substr(0, HEADER_LENGTH - 1),             // cut inside the header
        upper + "body",                                         // upper-case check value
        std::string("tvk4:") + std::string(32, '\0') + "body",  // NULs in the header
    };
    for (const std::string& content : cases) {
        for (const char* passphrase : {"secret", "", "other"}) {
            scratch_dir dir;
            write_file(dir.at("box.tvk"), content);
            write_file(dir.at("box"), "earlier file");
            keyed decrypt(passphrase);
            EXPECT_EQ(unwrap_container(dir.at("box.tvk"), dir.at("box"), decrypt.keys.header_text,
                                       &decrypt.state),
                      -10);
            EXPECT_EQ(read_file(dir.at("box")), "earlier file");
            EXPECT_EQ(read_file(dir.at("box.tvk")), content);
            EXPECT_EQ(dir.names(), (std::set<std::string>{"box", "box.tvk"}));
        }
    }
    scratch_dir dir;
    write_file(dir.at("box.tvk"), std::string(SECRET_HEADER) + "body");
    keyed wrong("Secret");
    EXPECT_EQ(unwrap_container(dir.at("box.tvk"), dir.at("box"), wrong.keys.header_text), -10);
    EXPECT_EQ(dir.names(), std::set<std::string>{"box.tvk"});
}

TEST(ContainerFormat, TruncatedBodyUnwrapsShorter) {
    scratch_dir dir;
    const std::string plain = random_bytes(5000, 7);
    write_file(dir.at("plain"), plain);
    keyed encrypt("secret");
    ASSERT_EQ(wrap_container(dir.at("plain"), dir.at("box"), SECRET_HEADER, &encrypt.state), 0);
    write_file(dir.at("cut"), read_file(dir.at("box")).substr(0, HEADER_LENGTH + 1234));
    keyed decrypt("secret");
    ASSERT_EQ(unwrap_container(dir.at("cut"), dir.at("back"), SECRET_HEADER, &decrypt.state), 0);
    EXPECT_TRUE(read_file(dir.at("back")) == plain.substr(0, 1234));
    // A header with no body at all gives an empty file.
    write_file(dir.at("bare"), SECRET_HEADER);
    ASSERT_EQ(unwrap_container(dir.at("bare"), dir.at("empty"), SECRET_HEADER), 0);
    EXPECT_TRUE(fs::exists(dir.at("empty")));
    EXPECT_EQ(fs::file_size(dir.at("empty")), 0u);
}

TEST(ContainerFormat, CopiesWithoutFilterMoveBytesUnchanged) {
    scratch_dir dir;
    write_file(dir.at("plain"), "hello");
    ASSERT_EQ(wrap_container(dir.at("plain"), dir.at("box"), SECRET_HEADER), 0);
    EXPECT_EQ(read_file(dir.at("box")), std::string(SECRET_HEADER) + "hello");
    ASSERT_EQ(unwrap_container(dir.at("box"), dir.at("back"), SECRET_HEADER), 0);
    EXPECT_EQ(read_file(dir.at("back")), "hello");

    // Skip drops the first 37 bytes whatever they are, and all of a shorter file.
    write_file(dir.at("long"), std::string(HEADER_LENGTH, 'h') + "rest");
    ASSERT_EQ(copy_with_header(dir.at("long"), dir.at("skipped"), copy_kind::skip, nullptr), 0);
    EXPECT_EQ(read_file(dir.at("skipped")), "rest");
    write_file(dir.at("short"), "tiny");
    ASSERT_EQ(copy_with_header(dir.at("short"), dir.at("nothing"), copy_kind::skip, nullptr), 0);
    EXPECT_TRUE(fs::exists(dir.at("nothing")));
    EXPECT_EQ(fs::file_size(dir.at("nothing")), 0u);

    // Prepending to an empty source creates an empty destination, not a bare header.
    write_file(dir.at("empty"), "");
    ASSERT_EQ(wrap_container(dir.at("empty"), dir.at("empty.tvk"), SECRET_HEADER), 0);
    EXPECT_TRUE(fs::exists(dir.at("empty.tvk")));
    EXPECT_EQ(fs::file_size(dir.at("empty.tvk")), 0u);

    // A file without the magic handed to unwrap is wrapped instead.
    write_file(dir.at("changed"), "plain after all");
    ASSERT_EQ(unwrap_container(dir.at("changed"), dir.at("wrapped"), SECRET_HEADER), 0);
    EXPECT_EQ(read_file(dir.at("wrapped")), std::string(SECRET_HEADER) + "plain after all");

    EXPECT_EQ(wrap_container(dir.at("missing"), dir.at("x"), SECRET_HEADER), -1);
    EXPECT_EQ(unwrap_container(dir.at("missing"), dir.at("x"), SECRET_HEADER), -1);
    EXPECT_FALSE(fs::exists(dir.at("x")));
}

// A copy that fails at any step returns -1, leaves no partial file and keeps
// an earlier destination as it was.
TEST(ContainerFormat, FailedCopyLeavesNoDestination) {
    const std::string source = random_bytes(COPY_BLOCK + 100, 3);
    const fault_point points[] = {fault_point::open,  fault_point::create, fault_point::read,
                                  fault_point::write, fault_point::close,  fault_point::rename};
    for (fault_point point : points) {
        for (int nth : {1, 2}) {
            for (bool earlier : {false, true}) {
                SCOPED_TRACE(testing::Message() << "point " << static_cast<int>(point) << " call "
                                                << nth << (earlier ? " over earlier" : ""));
                scratch_dir dir;
                write_file(dir.at("plain"), source);
                if (earlier) write_file(dir.at("box"), "earlier");
                fault_clear();
                fault_arm(point, nth, ENOSPC);
                const int result = wrap_container(dir.at("plain"), dir.at("box"), SECRET_HEADER);
                if (fault_calls(point) < nth) {
                    EXPECT_EQ(result, 0);  // this step has no second call
                    continue;
                }
                EXPECT_EQ(result, -1);
                std::set<std::string> expected{"plain"};
                if (earlier) expected.insert("box");
                EXPECT_EQ(dir.names(), expected);
                if (earlier) {
                    EXPECT_EQ(read_file(dir.at("box")), "earlier");
                }
                EXPECT_TRUE(read_file(dir.at("plain")) == source);
            }
        }
    }
}

TEST(ContainerSuffix, OneTrailingLowerCaseSuffixIsCut) {
    const std::pair<std::string, std::string> cases[] = {
        {"a.tvk", "a"}, {"dir/a.b.tvk", "dir/a.b"}, {"a.tvk.tvk", "a.tvk"},
        {".tvk", ""},   {"a.TVK", "a.TVK"},         {"a.Tvk", "a.Tvk"},
        {"tvk", "tvk"}, {"a.tvkx", "a.tvkx"},       {"", ""},
    };
    for (const auto& [input, expected] : cases) {
        std::string path = input;
        strip_container_suffix(path);
        EXPECT_EQ(path, expected) << input;
    }
}
