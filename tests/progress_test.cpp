// The progress line's text: figures for what is known, the path cut from the
// left to fit, and never the terminal's last column.
#include "front/progress.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

constexpr std::uint64_t MIB = 1 << 20;
constexpr std::uint64_t GIB = 1 << 30;

TEST(ProgressText, FiguresAndCuts) {
    const std::string path = "docs/reports/2026/december.txt";
    const struct {
        const char* name;
        std::uint64_t done;
        std::int64_t total;
        double seconds;
        int width;
        std::string line;
    } cases[] = {
        {"all of it", 3 * MIB / 2, 3 * MIB, 1, 80,
         path + "   50%  1.5 of 3.0 MiB  2 MiB/s"},
        {"GiB from one on", GIB, 2 * GIB, 2, 80, path + "   50%  1.0 of 2.0 GiB  512 MiB/s"},
        {"total not known yet", 5 * MIB, -1, 5, 80, path + "  1 MiB/s"},
        {"more done than the total", 4 * MIB, 3 * MIB, 1, 80,
         path + "  100%  4.0 of 3.0 MiB  4 MiB/s"},
        {"path cut from the left", 3 * MIB / 2, 3 * MIB, 1, 50,
         "...26/december.txt   50%  1.5 of 3.0 MiB  2 MiB/s"},
        {"no room for the path", 3 * MIB / 2, 3 * MIB, 1, 34, "   50%  1.5 of 3.0 MiB  2 MiB/s"},
        {"figures cut", 3 * MIB / 2, 3 * MIB, 1, 12, "   50%  1.5"},
        {"width 4", 3 * MIB / 2, 3 * MIB, 1, 4, "   "},
        {"width 1", 3 * MIB / 2, 3 * MIB, 1, 1, ""},
        {"width 0", 3 * MIB / 2, 3 * MIB, 1, 0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(progress_text(path, c.done, c.total, c.seconds, c.width), c.line) << c.name;
        EXPECT_LT(c.line.size(), static_cast<std::size_t>(c.width > 0 ? c.width : 1)) << c.name;
    }
}

}  // namespace
