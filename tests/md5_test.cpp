#include "cipher/md5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "support/vectors.h"

namespace {

std::string digest_of(const std::string& message) {
    md5_context context;
    md5_start(context);
    md5_add(context, message.data(), static_cast<std::uint32_t>(message.size()));
    md5_finish(context);
    return to_hex(std::string(reinterpret_cast<const char*>(context.digest), 16));
}

std::string hex_of_text(const std::string& text) {
    char destination[33];
    md5_hex(destination, text.c_str());
    return std::string(destination);
}

// Bytes i * 7 mod 256: every byte value, no run of equal bytes.
std::string pattern(std::size_t length) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(i * 7 % 256);
    return bytes;
}

}  // namespace

TEST(Md5, Rfc1321TestSuite) {
    const auto rows = read_vector_file("md5-rfc1321.txt");
    ASSERT_EQ(rows.size(), 7u);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 2u);
        const std::string message = from_hex(row[0]);
        EXPECT_EQ(digest_of(message), row[1]) << "message \"" << message << "\"";
        EXPECT_EQ(hex_of_text(message), row[1]) << "message \"" << message << "\"";
    }
}

// Expected digests computed on the shell with coreutils, e.g. for 55 bytes:
//   head -c 55 /dev/zero | tr '\0' a | md5sum
// and for the pattern: python3 -c "import sys; sys.stdout.buffer.write(
//   bytes(i*7 % 256 for i in range(100003)))" | md5sum
TEST(Md5, LengthsAroundThePadBoundary) {
    EXPECT_EQ(hex_of_text(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(hex_of_text(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(hex_of_text(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
    EXPECT_EQ(hex_of_text(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
    EXPECT_EQ(hex_of_text(std::string(65, 'a')), "c743a45e0d2e6a95cb859adae0248435");
}

TEST(Md5, LongMessages) {
    EXPECT_EQ(hex_of_text(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
    EXPECT_EQ(digest_of(pattern(100003)), "756f6e39be58fee52e06346aad8a2c0e");
}

TEST(Md5, AnySplitIntoPiecesGivesTheOneShotDigest) {
    std::mt19937 random(1321);
    for (const std::size_t length :
         {0u, 1u, 55u, 56u, 63u, 64u, 65u, 127u, 128u, 129u, 1000u, 5000u}) {
        const std::string message = pattern(length);
        const std::string expected = digest_of(message);
        for (int trial = 0; trial < 20; ++trial) {
            md5_context context;
            md5_start(context);
            std::size_t at = 0;
            while (at < length) {
                // Pieces of 0 to 130 bytes, so some are empty and some span blocks.
                std::size_t piece = random() % 131;
                if (piece > length - at) piece = length - at;
                md5_add(context, message.data() + at, static_cast<std::uint32_t>(piece));
                at += piece;
            }
            md5_add(context, message.data() + at, 0);
            md5_finish(context);
            EXPECT_EQ(to_hex(std::string(reinterpret_cast<const char*>(context.digest), 16)),
                      expected)
                << "length " << length << ", trial " << trial;
        }
    }
}

TEST(Md5, HexTextIsExactly32LowerCaseDigits) {
    std::mt19937 random(33);
    for (int trial = 0; trial < 200; ++trial) {
        std::string text(random() % 100, '\0');
        for (char& c : text) c = static_cast<char>(1 + random() % 255);  // no NUL inside
        char destination[40];
        std::memset(destination, 'Z', sizeof destination);
        md5_hex(destination, text.c_str());
        for (int k = 0; k < 32; ++k) {
            const char c = destination[k];
            EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << "position " << k;
        }
        EXPECT_EQ(destination[32], '\0');
        // Nothing past the 33 bytes is touched.
        EXPECT_EQ(std::string(destination + 33, 7), std::string(7, 'Z'));
        EXPECT_EQ(std::string(destination), digest_of(text));
    }
}

TEST(Md5, HexTextMayOverwriteItsOwnInput) {
    char text[33] = "abc";
    md5_hex(text, text);
    EXPECT_STREQ(text, "900150983cd24fb0d6963f7d28e17f72");

    // A 32-digit text digested in place, as the key schedule chains digests.
    const std::string expected = hex_of_text(text);
    md5_hex(text, text);
    EXPECT_EQ(std::string(text), expected);
}
