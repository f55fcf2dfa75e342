// The number of processors this process may use: its affinity mask, capped by the CPU quota of
// its control group (cgroup v2 cpu.max, or cgroup v1 cfs quota and period).

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "parallel/pool.hpp"
#include "util/text.hpp"

namespace quor_core::eval {

namespace {

// The whole of a small system file, read with plain system calls (a stream costs more here
// than the reading itself, and this runs on the way to the first load).
std::optional<std::string> read_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0 || text.size() > (size_t{1} << 20)) break;
        text.append(buf, static_cast<size_t>(got));
    }
    ::close(fd);
    return text;
}

std::optional<size_t> affinity_count() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return std::nullopt;
    const int n = CPU_COUNT(&set);
    if (n <= 0) return std::nullopt;
    return static_cast<size_t>(n);
}

std::optional<size_t> ceil_div(uint64_t quota, uint64_t period) {
    if (period == 0 || quota == 0) return std::nullopt;
    return static_cast<size_t>((quota + period - 1) / period);
}

// The cgroup path of this process (cgroups: the text of /proc/self/cgroup) for the v2
// hierarchy ("0::/path"), or for the v1 cpu controller when v2 is false.
std::optional<std::string> cgroup_path(std::string_view cgroups, bool v2) {
    std::string_view rest = cgroups;
    while (!rest.empty()) {
        const size_t nl = rest.find('\n');
        const std::string line(rest.substr(0, nl));
        rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
        const size_t a = line.find(':');
        const size_t b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos) continue;
        const std::string controllers = line.substr(a + 1, b - a - 1);
        const bool match = v2 ? (line.compare(0, a, "0") == 0 && controllers.empty())
                              : (("," + controllers + ",").find(",cpu,") != std::string::npos);
        if (match) return line.substr(b + 1);
    }
    return std::nullopt;
}

// The tightest quota on the path from this process's cgroup up to the root.
std::optional<size_t> cgroup_quota() {
    std::optional<size_t> best;
    auto consider = [&best](std::optional<size_t> q) {
        if (q && (!best || *q < *best)) best = q;
    };
    const auto cgroups = read_file("/proc/self/cgroup");
    if (!cgroups) return best;
    if (auto path = cgroup_path(*cgroups, true)) {
        std::string p = *path;
        while (true) {
            if (auto t = read_file("/sys/fs/cgroup" + p + "/cpu.max")) consider(cpus_from_cpu_max(*t));
            if (p.empty() || p == "/") break;
            p = p.substr(0, p.rfind('/'));
        }
    }
    if (auto path = cgroup_path(*cgroups, false)) {
        const std::string dir = "/sys/fs/cgroup/cpu" + *path;
        const auto quota = read_file(dir + "/cpu.cfs_quota_us");
        const auto period = read_file(dir + "/cpu.cfs_period_us");
        if (quota && period) {
            const auto q = util::parse_u64(util::trim(*quota));  // -1 (no limit) does not parse
            const auto per = util::parse_u64(util::trim(*period));
            if (q && per) consider(ceil_div(*q, *per));
        }
    }
    return best;
}

}  // namespace

std::optional<size_t> cpus_from_cpu_max(std::string_view text) {
    const auto fields = util::split_whitespace(text);
    if (fields.size() != 2 || fields[0] == "max") return std::nullopt;
    const auto quota = util::parse_u64(fields[0]);
    const auto period = util::parse_u64(fields[1]);
    if (!quota || !period) return std::nullopt;
    return ceil_div(*quota, *period);
}

std::optional<size_t> available_processors() {
    const auto cpus = affinity_count();
    const auto quota = cgroup_quota();
    if (cpus && quota) return std::min(*cpus, *quota);
    return cpus ? cpus : quota;
}

}  // namespace quor_core::eval
