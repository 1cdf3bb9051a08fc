// The attribute rule and the list, without touching the file system.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "collect/targets.h"

namespace {

std::vector<std::string> paths_of(target_list list) {
    std::vector<std::string> paths;
    for (const target_node* node = list; node != nullptr; node = node->next) {
        paths.push_back(node->path);
    }
    return paths;
}

TEST(CollectAttributes, PlainDirectoryIsEnteredNotCollected) {
    EXPECT_TRUE(entry_descended("docs", 0x10));
    EXPECT_TRUE(entry_descended(".git", 0x10));  // the name alone hides nothing
    EXPECT_TRUE(entry_descended("...", 0x10));
    EXPECT_EQ(attribute_excluded(0x10), -1);
}

TEST(CollectAttributes, DotAndDotDotAreNeverEntered) {
    for (std::uint32_t word : {0x10u, 0x11u, 0x30u, 0x20u}) {
        EXPECT_FALSE(entry_descended(".", word)) << word;
        EXPECT_FALSE(entry_descended("..", word)) << word;
    }
    // Collection then follows the word alone: "." as a plain directory is
    // dropped, with any other word it is collected like any entry.
    EXPECT_EQ(attribute_excluded(0x10), -1);
    EXPECT_EQ(attribute_excluded(0x30), 0);
}

TEST(CollectAttributes, ExactlyReadOnlyHiddenOrSystemIsDropped) {
    for (std::uint32_t word : {0x1u, 0x2u, 0x4u}) {
        EXPECT_EQ(attribute_excluded(word), -1) << word;
        EXPECT_FALSE(entry_descended("x", word)) << word;
    }
}

TEST(CollectAttributes, EveryOtherWordIsCollectedAndNotEntered) {
    // Whole words are compared: a bit set beside a dropping one is collected.
    for (std::uint32_t word :
         {0x0u,  0x20u, 0x21u, 0x22u, 0x24u, 0x3u,   0x5u,   0x6u,   0x7u,    0x11u,      0x12u,
          0x14u, 0x30u, 0x40u, 0x60u, 0x80u, 0x400u, 0x410u, 0x412u, 0x2000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(attribute_excluded(word), 0) << std::hex << word;
        EXPECT_FALSE(entry_descended("name", word)) << std::hex << word;
    }
}

TEST(CollectList, PushGoesInFrontAndFreeEmptiesTheList) {
    target_list list = nullptr;
    const std::string long_path = "deep/" + std::string(3000, 'x') + "/end";
    EXPECT_EQ(push_target(&list, "first"), 0);
    EXPECT_EQ(push_target(&list, long_path), 0);
    EXPECT_EQ(push_target(&list, "third"), 0);
    EXPECT_EQ(paths_of(list), (std::vector<std::string>{"third", long_path, "first"}));

    free_targets(&list);
    EXPECT_EQ(list, nullptr);
    free_targets(&list);  // an empty list stays empty
    EXPECT_EQ(list, nullptr);
}

}  // namespace
