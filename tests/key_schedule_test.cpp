#include "cipher/key_schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <random>
#include <string>

#include "cipher/md5.h"
#include "support/vectors.h"

namespace {

std::string raw_md5(const std::string& message) {
    md5_context context;
    md5_start(context);
    md5_add(context, message.data(), static_cast<std::uint32_t>(message.size()));
    md5_finish(context);
    return std::string(reinterpret_cast<const char*>(context.digest), 16);
}

std::string key_bytes(const key_material& material) {
    return std::string(reinterpret_cast<const char*>(material.cipher_key), 32);
}

bool lower_hex(const std::string& text) {
    return text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

TEST(KeySchedule, KnownAnswers) {
    const auto rows = read_vector_file("key-schedule.txt");
    ASSERT_EQ(rows.size(), 4u);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 3u);
        const std::string passphrase = from_hex(row[0]);
        key_material material;
        derive_key_material(passphrase.c_str(), material);
        EXPECT_STREQ(material.header_text, row[1].c_str()) << "passphrase " << row[0];
        EXPECT_STREQ(material.key_text, row[2].c_str()) << "passphrase " << row[0];
        EXPECT_EQ(to_hex(key_bytes(material)), row[2]) << "passphrase " << row[0];
    }
}

TEST(KeySchedule, ShapeAndDigestChainForAnyPassphrase) {
    std::mt19937 random(37);
    for (int trial = 0; trial < 100; ++trial) {
        // Any byte but NUL, including those above 127, up to the 1023 a passphrase holds.
        std::string passphrase(trial == 0 ? 1023 : random() % 80, '\0');
        for (char& c : passphrase) c = static_cast<char>(1 + random() % 255);

        key_material material;
        derive_key_material(passphrase.c_str(), material);
        const std::string header = material.header_text;
        ASSERT_EQ(header.size(), 37u);
        EXPECT_EQ(header.substr(0, 5), "tvk4:");
        EXPECT_TRUE(lower_hex(header.substr(5))) << header;
        ASSERT_EQ(std::strlen(material.key_text), 64u);
        EXPECT_TRUE(lower_hex(material.key_text));

        // First half: MD5 of the passphrase; second half: MD5 of D2 then D1.
        const std::string d1(material.key_text, 32);
        const std::string d2 = header.substr(5);
        EXPECT_EQ(key_bytes(material).substr(0, 16), raw_md5(passphrase));
        EXPECT_EQ(to_hex(raw_md5(d1)), d2);
        EXPECT_EQ(key_bytes(material).substr(16), raw_md5(d2 + d1));

        key_material again;
        derive_key_material(passphrase.c_str(), again);
        EXPECT_STREQ(again.header_text, material.header_text);
        EXPECT_EQ(key_bytes(again), key_bytes(material));
    }
}

TEST(KeySchedule, DestructionWipesEveryField) {
    alignas(key_material) unsigned char storage[sizeof(key_material)];
    key_material* material = new (storage) key_material;
    derive_key_material("secret", *material);
    ASSERT_NE(std::count(storage, storage + sizeof storage, 0),
              static_cast<std::ptrdiff_t>(sizeof storage));
    material->~key_material();
    EXPECT_EQ(std::count(storage, storage + sizeof storage, 0),
              static_cast<std::ptrdiff_t>(sizeof storage));
}
