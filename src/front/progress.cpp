#include "front/progress.h"

#include <cstdio>

#include "platform/environment.h"
#include "platform/status_line.h"

namespace {

constexpr double MIB = 1024.0 * 1024.0;
constexpr double GIB = 1024.0 * MIB;

std::string formatted(const char* format, double a, double b = 0) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

}  // namespace

bool progress_wanted() {
    std::string value;
    if (environment_value("TOVIK_PROGRESS", value) && value == "0") return false;
    return status_line_width() > 0;
}

std::string progress_text(const std::string& path, std::uint64_t done, std::int64_t total,
                          double seconds, int width) {
    const double bytes = static_cast<double>(done);
    const double whole = total > 0 ? static_cast<double>(total) : 0;
    const double unit = whole >= GIB ? GIB : MIB;
    std::string figures;
    if (whole > 0) {
        const double share = bytes < whole ? 100.0 * bytes / whole : 100.0;
        figures = formatted("  %3.0f%%", share) +
                  formatted("  %.1f of %.1f ", bytes / unit, whole / unit) +
                  (unit == GIB ? "GiB" : "MiB");
    }
    if (seconds > 0) figures += formatted("  %.0f MiB/s", bytes / MIB / seconds);
    // The line never reaches the last column, where a terminal would wrap.
    const std::size_t room = width > 1 ? static_cast<std::size_t>(width - 1) : 0;
    if (figures.size() >= room) return figures.substr(0, room);
    const std::size_t name_room = room - figures.size();
    if (path.size() <= name_room) return path + figures;
    if (name_room <= 3) return figures;
    return "..." + path.substr(path.size() - (name_room - 3)) + figures;
}
