// The attribute rule and the list, without touching the file system.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "collect/targets.h"

namespace {

std::vector<std::string> paths_of(const target_list& list) {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < list.size(); ++i) paths.emplace_back(list.path(i));
    return paths;
}

TEST(CollectList, PushGoesInFrontAndFreeEmptiesTheList) {
    target_list list;
    const std::string long_path = "deep/" + std::string(3000, 'x') + "/end";
    push_target(&list, "first");
    push_target(&list, long_path);
    push_target(&list, "third");
    EXPECT_EQ(paths_of(list), (std::vector<std::string>{"third", long_path, "first"}));

    EXPECT_EQ(list.listed_size(0), -1);
    push_target(&list, "sized", 42);
    EXPECT_EQ(list.listed_size(0), 42);

    free_targets(&list);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.text.capacity(), target_list{}.text.capacity());  // the memory went back
    free_targets(&list);  // an empty list stays empty
    EXPECT_TRUE(list.empty());
}

}  // namespace
