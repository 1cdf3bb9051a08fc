#include "container/container.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <cctype>
#include <cerrno>
#include <string>

#include "support/faults.h"
#include "support/oracles.h"
#include "support/runs.h"
#include "support/scratch.h"
#include "support/vectors.h"

namespace {

constexpr char SECRET_HEADER[] = "tvk4:7022cd14c42ff272619d6beacdc9ffde";  // passphrase "secret"

using operation = container_operation;

std::optional<copy_status> run_copy(operation op, const std::string& source,
                                    const std::string& destination,
                                    const std::string& passphrase = "secret") {
    return run_container_operation(op, source, destination, passphrase);
}

}  // namespace

TEST(ContainerFormat, WrapAndUnwrapGiveTheRecordedContainers) {
    const auto rows = read_vector_file("containers.txt");
    ASSERT_EQ(rows.size(), 3u);
    for (const auto& row : rows) {
        scratch_dir dir;
        const std::string passphrase = from_hex(row[0]), plain = from_hex(row[1]);
        write_file(dir.at("plain"), plain);
        ASSERT_EQ(run_copy(operation::wrap, dir.at("plain"), dir.at("box"), passphrase), copy_status::ok);
        EXPECT_EQ(to_hex(read_file(dir.at("box"))), row[2]);

        write_file(dir.at("recorded"), from_hex(row[2]));
        ASSERT_EQ(run_copy(operation::unwrap, dir.at("recorded"), dir.at("back"), passphrase),
                  copy_status::ok);
        EXPECT_EQ(read_file(dir.at("back")), plain);
    }
}

// Sizes around the copy block, whose first write also carries the header.
TEST(ContainerFormat, WrapEqualsHeaderAndTextbookRc4AcrossBlockBoundaries) {
    const auto rows = read_vector_file("key-schedule.txt");
    ASSERT_FALSE(rows.empty());
    for (const auto& row : rows) {
        const std::string passphrase = from_hex(row[0]), key = from_hex(row[2]);
        for (std::size_t size : {std::size_t{1}, std::size_t{36}, std::size_t{37}, std::size_t{1025},
                                 COPY_BLOCK - HEADER_LENGTH - 1, COPY_BLOCK - HEADER_LENGTH,
                                 COPY_BLOCK, 3 * COPY_BLOCK + 5}) {
            SCOPED_TRACE(size);
            scratch_dir dir;
            const std::string plain = random_bytes(size, static_cast<unsigned>(size));
            write_file(dir.at("plain"), plain);
            ASSERT_EQ(run_copy(operation::wrap, dir.at("plain"), dir.at("box"), passphrase),
                      copy_status::ok);
            const std::string box = read_file(dir.at("box"));
            ASSERT_EQ(box.size(), size + HEADER_LENGTH);
            EXPECT_EQ(box.substr(0, HEADER_LENGTH), row[1]);
            EXPECT_TRUE(box.substr(HEADER_LENGTH) == textbook_rc4(key).apply(plain));
            ASSERT_EQ(run_copy(operation::unwrap, dir.at("box"), dir.at("back"), passphrase),
                      copy_status::ok);
            EXPECT_TRUE(read_file(dir.at("back")) == plain);
        }
    }
}

TEST(ContainerFormat, ProbeDecidesByTheFirstFiveBytesAlone) {
    scratch_dir dir;
    const std::pair<const char*, int> cases[] = {
        {"", 0},        {"tvk4", 0},     {"tvk4:", 1}, {"TVK4:", 0},
        {"tvk4;xyz", 0}, {"xtvk4:", 0}, {"tvk4:not a real header at all", 1},
    };
    for (const auto& [content, expected] : cases) {
        write_file(dir.at("f"), content);
        EXPECT_EQ(probe_container(dir.at("f"), CONTAINER_MAGIC), expected) << content;
        // A whole header may be passed; only its magic counts.
        EXPECT_EQ(probe_container(dir.at("f"), SECRET_HEADER), expected) << content;
    }
    write_file(dir.at("named.tvk"), "plain text");
    EXPECT_EQ(probe_container(dir.at("named.tvk"), CONTAINER_MAGIC), 0);
    EXPECT_EQ(probe_container(dir.at("missing"), CONTAINER_MAGIC), -1);
    fault_arm(fault_point::open, 1, EACCES);
    EXPECT_EQ(probe_container(dir.at("f"), CONTAINER_MAGIC), -1);
}

TEST(ContainerFormat, ShortSourcesGiveShortOrEmptyOutputs) {
    scratch_dir dir;
    const std::string plain = random_bytes(5000, 7);
    write_file(dir.at("plain"), plain);
    ASSERT_EQ(run_copy(operation::wrap, dir.at("plain"), dir.at("box")), copy_status::ok);
    // A body cut short decrypts shorter.
    write_file(dir.at("cut"), read_file(dir.at("box")).substr(0, HEADER_LENGTH + 1234));
    ASSERT_EQ(run_copy(operation::unwrap, dir.at("cut"), dir.at("back")), copy_status::ok);
    EXPECT_TRUE(read_file(dir.at("back")) == plain.substr(0, 1234));
    // A header with no body, and an empty source wrapped, give empty files.
    write_file(dir.at("bare"), SECRET_HEADER);
    write_file(dir.at("empty"), "");
    ASSERT_EQ(run_copy(operation::unwrap, dir.at("bare"), dir.at("from-bare")), copy_status::ok);
    ASSERT_EQ(run_copy(operation::wrap, dir.at("empty"), dir.at("from-empty")), copy_status::ok);
    EXPECT_EQ(read_file(dir.at("from-bare")), "");
    EXPECT_EQ(read_file(dir.at("from-empty")), "");
    EXPECT_TRUE(dir.names().contains("from-empty"));
    // Skipping drops the first 37 bytes whatever they are, and all of a shorter file.
    write_file(dir.at("long"), std::string(HEADER_LENGTH, 'h') + "rest");
    write_file(dir.at("short"), "tiny");
    ASSERT_EQ(run_copy(operation::skip, dir.at("long"), dir.at("skipped")), copy_status::ok);
    ASSERT_EQ(run_copy(operation::skip, dir.at("short"), dir.at("nothing")), copy_status::ok);
    EXPECT_EQ(read_file(dir.at("skipped")).size(), 4u);
    EXPECT_EQ(read_file(dir.at("nothing")), "");
}

// A failing read or write anywhere in a long body is reported as such.
TEST(ContainerFormat, FailedReadsAndWritesAreReported) {
    const std::string source = random_bytes(3 * COPY_BLOCK + 100, 3);
    for (const auto& [point, expected] : {std::pair{fault_point::read, copy_status::read_failed},
                                          std::pair{fault_point::write, copy_status::write_failed}}) {
        for (int nth : {1, 2, 3, 4}) {
            SCOPED_TRACE(testing::Message() << static_cast<int>(point) << " call " << nth);
            scratch_dir dir;
            write_file(dir.at("plain"), source);
            fault_clear();
            fault_arm(point, nth + (point == fault_point::read ? 1 : 0), EIO);  // after the head
            EXPECT_EQ(run_copy(operation::wrap, dir.at("plain"), dir.at("box")), expected);
            EXPECT_EQ(dir.names(), std::set<std::string>{"plain"});
        }
    }
}

// Two bodies stepped together, block by block (step_pair), one of them
// going on alone once the other ends (stream_rest), each ending at or about
// a block boundary: each gives the bytes it gives as the one stream.
TEST(ContainerFormat, TwoBodiesSteppedTogetherEqualEachAlone) {
    const std::size_t sizes[] = {1, COPY_BLOCK - HEADER_LENGTH, COPY_BLOCK - 1, COPY_BLOCK,
                                 COPY_BLOCK + 1, 2 * COPY_BLOCK, 3 * COPY_BLOCK + 7};
    for (const std::size_t a_size : sizes) {
        for (const std::size_t b_size : sizes) {
            SCOPED_TRACE(testing::Message() << a_size << " and " << b_size);
            scratch_dir dir;
            struct body {
                std::string plain, alone, paired;  // paths
                os_file in, out;
                rc4_state state = rc4_of_passphrase("secret");
                std::atomic<std::uint64_t> done{0};
                std::optional<body_copy> copy;
                copy_status status = copy_status::ok;
                bool more = false;
            } bodies[2];
            for (int b = 0; b < 2; ++b) {  // alone first: it takes this thread's first block set
                bodies[b].plain = dir.at(std::to_string(b));
                bodies[b].alone = bodies[b].plain + ".alone";
                write_file(bodies[b].plain, random_bytes(b == 0 ? a_size : b_size, b));
                ASSERT_EQ(run_copy(operation::wrap, bodies[b].plain, bodies[b].alone), copy_status::ok);
            }
            for (int b = 0; b < 2; ++b) {
                body& one = bodies[b];
                ASSERT_TRUE(open_for_reading(one.plain, one.in));
                const std::ptrdiff_t read = read_first(one.in, copy_blocks(b));
                ASSERT_GE(read, 0);
                ASSERT_TRUE(create_temp_beside(one.plain + ".paired", one.out, one.paired));
                one.copy.emplace(body_copy{one.in, one.out, one.state, one.done, nullptr, copy_blocks(b)});
                one.status = start_with_header(*one.copy, static_cast<std::size_t>(read), copy_kind::prepend,
                                               SECRET_HEADER, one.more);
            }
            while (bodies[0].more && bodies[1].more) {
                step_pair(*bodies[0].copy, bodies[0].status, bodies[0].more, *bodies[1].copy,
                          bodies[1].status, bodies[1].more);
            }
            for (body& one : bodies) {
                if (one.more) one.status = stream_rest(*one.copy);
                EXPECT_EQ(one.status, copy_status::ok);
                ASSERT_TRUE(close_file(one.out));
                EXPECT_TRUE(read_file(one.paired) == read_file(one.alone));
            }
        }
    }
}

TEST(ContainerNames, OneTrailingLowerCaseSuffixIsCutOrAdded) {
    const std::pair<std::string, std::string> cases[] = {
        {"a.tvk", "a"}, {"dir/a.b.tvk", "dir/a.b"}, {"a.tvk.tvk", "a.tvk"},
        {".tvk", ""},   {"a.TVK", "a.TVK"},         {"a.Tvk", "a.Tvk"},
        {"tvk", "tvk"}, {"a.tvkx", "a.tvkx"},       {"", ""},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(output_name(input, true), expected) << input;
        EXPECT_EQ(output_name(input, false), input + ".tvk") << input;
    }
}
