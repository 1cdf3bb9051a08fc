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
