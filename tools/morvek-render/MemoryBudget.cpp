// Memory budget of morvek-render; see MemoryBudget.h.
#include "MemoryBudget.h"

#include "HostImage.h"

#include <cstdio>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace MorvekRender {

namespace {

std::uint64_t physicalMemory() {
#ifdef _WIN32
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? static_cast<std::uint64_t>(status.ullTotalPhys) : 0;
#else
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    std::uint64_t total = pages > 0 && pageSize > 0 ? static_cast<std::uint64_t>(pages) * pageSize : 0;
    // A container's limit (cgroup v2); "max" means none.
    std::ifstream group("/sys/fs/cgroup/memory.max");
    unsigned long long limit = 0;
    if (group >> limit && limit > 0 && (total == 0 || limit < total)) {
        total = limit;
    }
    return total;
#endif
}

} // namespace

std::uint64_t defaultMemoryLimit() {
    const std::uint64_t total = physicalMemory();
    return total > 0 ? total / 2 : std::uint64_t(2) << 30;
}

double renderMemory(int width, int height, int depth, std::size_t passThroughBytes) {
    const double pixels = static_cast<double>(width) * static_cast<double>(height);
    const double frame = pixels * static_cast<double>(pixelBytes(depth));
    // Two worlds, rows padded to 64 bytes; two blocks of rows of about 8 MiB
    // each for reading (one decoded while the other is converted) and two
    // for writing.
    const double worldPadding = 2.0 * 64.0 * static_cast<double>(height);
    const double blocks = 4.0 * 8.0 * 1024.0 * 1024.0;
    return 2.0 * frame + worldPadding + pixels * static_cast<double>(passThroughBytes) + blocks;
}

std::string sizeText(double bytes) {
    static const char* const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    int unit = 0;
    while (bytes >= 1024.0 && unit < 6) {
        bytes /= 1024.0;
        ++unit;
    }
    char text[48];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

} // namespace MorvekRender
