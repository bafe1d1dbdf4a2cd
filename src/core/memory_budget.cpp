#include "memory_budget.hpp"

#include "text.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <limits>
#include <optional>
#include <string>

namespace tavrik {

namespace {

constexpr std::size_t unknown = std::numeric_limits<std::size_t>::max();

// "MemAvailable:  24123456 kB" from /proc/meminfo: free memory plus the page
// cache and reclaimable memory the kernel can hand back without swapping.
std::optional<std::size_t> meminfo_available() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kib = 0;
    std::string unit;
    while (meminfo >> key >> kib >> unit) {
        if (key == "MemAvailable:") return static_cast<std::size_t>(kib) * 1024u;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> read_number(const char* path) {
    std::ifstream file(path);
    std::uint64_t value = 0;
    if (file >> value) return value;
    return std::nullopt;  // missing, or "max"
}

// The room left under the limit of the control group the process runs in
// (cgroup v2, as mounted inside a container).
std::optional<std::size_t> cgroup_room() {
    const auto limit = read_number("/sys/fs/cgroup/memory.max");
    if (!limit) return std::nullopt;
    const std::uint64_t used = read_number("/sys/fs/cgroup/memory.current").value_or(0);
    return static_cast<std::size_t>(*limit > used ? *limit - used : 0);
}

std::string bytes_text(std::size_t bytes) { return std::to_string(bytes) + " bytes"; }

}  // namespace

std::size_t available_memory() {
    std::optional<std::size_t> room = meminfo_available();
    if (!room) {
        const long pages = sysconf(_SC_AVPHYS_PAGES);
        const long page_size = sysconf(_SC_PAGESIZE);
        if (pages > 0 && page_size > 0) {
            room = static_cast<std::size_t>(pages) * static_cast<std::size_t>(page_size);
        }
    }
    if (const auto cgroup = cgroup_room()) room = std::min(room.value_or(unknown), *cgroup);
    return room.value_or(unknown);
}

void require_memory(std::size_t count, std::size_t bytes_per_sample) {
    if (bytes_per_sample != 0 && count > unknown / bytes_per_sample) {
        throw MemoryRefused("cannot allocate " + std::to_string(count) +
                            " samples: the size does not fit in memory addresses");
    }
    const std::size_t bytes = count * bytes_per_sample;
    if (bytes < memory_check_threshold) return;
    const std::size_t available = available_memory();
    if (bytes <= available) return;
    throw MemoryRefused("cannot allocate " + std::to_string(count) + " samples (" +
                        bytes_text(bytes) + "): only " + bytes_text(available) + " available");
}

void refuse_oversized_range(double count, double step) {
    if (step > 0.0 && count >= 4294967296.0) {
        throw MemoryRefused("cannot allocate " + format_decimal(count) +
                            " samples: a grid holds fewer than 4294967296");
    }
}

}  // namespace tavrik
