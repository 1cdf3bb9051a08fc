#include "cipher/key_schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <string>

#include "support/vectors.h"

namespace {

std::string key_bytes(const key_material& material) {
    return std::string(reinterpret_cast<const char*>(material.cipher_key), 32);
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
