#include "trace/vcd.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "eval/pool.hpp"
#include "trace/pool_parallel.hpp"
#include "trace/vcd_samples.hpp"
#include "util/huge_pages.hpp"
#include "util/os_error.hpp"

namespace quor_core::trace {

using signal::SignalValue;

namespace {

bool all_ascii(std::string_view s) {
    size_t i = 0;
    uint64_t acc = 0;
    for (; i + 8 <= s.size(); i += 8) {
        uint64_t w = 0;
        std::memcpy(&w, s.data() + i, 8);
        acc |= w;
    }
    for (; i < s.size(); ++i) acc |= static_cast<unsigned char>(s[i]);
    return (acc & 0x8080808080808080ULL) == 0;
}

// Closes a file descriptor when it goes out of scope.
struct FdGuard {
    int fd;
    ~FdGuard() { ::close(fd); }
};

}  // namespace

// Reads VCD text into a VcdTrace. It never rejects input: whatever it does not recognise is
// skipped. In parallel mode the declarations are read in order up to the first timestamp, and
// each later block of lines is cut into stretches read at the same time on the worker pool; a
// declaration among the value changes (rare, but legal) makes the caller read the text again in
// order.
class VcdLoader {
public:
    VcdLoader(bool in_parallel, VcdPieces pieces) : in_parallel_(in_parallel), pieces_(pieces) {
        if (!in_parallel_) parts_.emplace_back(header_.codes(), &header_);
    }
    VcdLoader(const VcdLoader&) = delete;
    VcdLoader& operator=(const VcdLoader&) = delete;

    void expect_bytes(uint64_t bytes) {
        if (!in_parallel_) parts_.front().expect_bytes(bytes);
    }

    // Feeds a block of whole lines (the last one may lack its line feed only at the end of input).
    void feed_lines(std::string_view lines) {
        if (!in_parallel_) return parts_.front().feed(lines, all_ascii(lines));
        if (!in_samples_) {
            const size_t first_time = header_.read_until_first_time(lines, false);
            if (first_time == lines.size()) return;
            in_samples_ = true;
            lines.remove_prefix(first_time);
        }
        const std::vector<std::string_view> pieces = cut_at_lines(lines);
        const size_t base = parts_.size();
        for (const std::string_view piece : pieces) {
            parts_.emplace_back(header_.codes(), nullptr);
            parts_.back().expect_bytes(piece.size());
        }
        parallel_(pieces.size(), [&](size_t k) { parts_[base + k].feed(pieces[k], all_ascii(pieces[k])); });
    }

    bool needs_reading_in_order() const {
        return std::any_of(parts_.begin(), parts_.end(), [](const VcdSampleParser& p) { return p.saw_declaration(); });
    }

    VcdTrace finish() && {
        VcdTrace trace;
        std::vector<uint64_t> shifts;
        std::vector<signal::ColumnBuilder> builders;
        for (VcdSampleParser& part : parts_) {
            // A part's changes before its first timestamp belong to the sample before it
            // (moving by -1 wraps; a part with no samples before it records none at 0).
            shifts.push_back(trace.timestamps_.size() - 1);
            const std::vector<uint64_t>& times = part.timestamps();
            trace.timestamps_.insert(trace.timestamps_.end(), times.begin(), times.end());
            builders.push_back(std::move(part.builder()));
        }
        parts_.clear();
        trace.store_ = signal::ColumnBuilder::freeze_parts(builders, shifts, trace.timestamps_.size(), parallel_);
        trace.vars_ = std::move(header_.vars);
        trace.signal_names_ = std::move(header_.signal_names);
        trace.scopes_ = std::move(header_.scopes);
        return trace;
    }

private:
    // Cuts lines into stretches of whole lines: two per worker (one with a single worker) unless
    // told otherwise, none much shorter than the minimum.
    std::vector<std::string_view> cut_at_lines(std::string_view lines) const {
        const size_t workers = eval::WorkerPool::instance().size();
        const size_t wanted = pieces_.max_count ? pieces_.max_count : workers <= 1 ? 1 : 2 * workers;
        const size_t count = std::max<size_t>(1, std::min(wanted, lines.size() / std::max<size_t>(1, pieces_.min_bytes)));
        std::vector<std::string_view> pieces;
        size_t start = 0;
        for (size_t k = 1; k <= count && start < lines.size(); ++k) {
            size_t stop = lines.size();
            if (k < count) {
                const size_t nl = lines.find('\n', std::max(start, lines.size() / count * k));
                stop = nl == std::string_view::npos ? lines.size() : nl + 1;
            }
            pieces.push_back(lines.substr(start, stop - start));
            start = stop;
        }
        return pieces;
    }

    bool in_parallel_;
    VcdPieces pieces_;
    bool in_samples_ = false;
    VcdHeader header_;
    std::vector<VcdSampleParser> parts_;
    signal::ParallelFor parallel_ = pool_parallel_for();
};

namespace {

// Feeds a file to loader in blocks of whole lines.
Result<bool, std::string> feed_file(const std::string& path, VcdLoader& loader) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return make_err("Failed to open " + path + ": " + util::os_error_text(errno));
    FdGuard guard{fd};
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        return make_err("Failed to open " + path + ": " + util::os_error_text(EISDIR));
    }
    // Blocks of a few megabytes keep the workers busy between reads and the buffer small.
    const uint64_t size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    loader.expect_bytes(size);
    size_t capacity = static_cast<size_t>(std::clamp<uint64_t>(size + 1, size_t{4} << 20, size_t{16} << 20));
    auto buffer = std::make_unique<util::HugeBuffer<char>>(capacity);
    size_t carried = 0;  // bytes of an unfinished line at the front of buffer
    for (;;) {
        if (carried == buffer->size()) {  // a line longer than the buffer
            auto bigger = std::make_unique<util::HugeBuffer<char>>(buffer->size() * 2);
            std::memcpy(bigger->data(), buffer->data(), carried);
            buffer = std::move(bigger);
        }
        const ssize_t got = ::read(fd, buffer->data() + carried, buffer->size() - carried);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // end of file, or a read error: keep what was read
        const size_t filled = carried + static_cast<size_t>(got);
        if (filled < buffer->size() && static_cast<uint64_t>(filled) < size) {
            carried = filled;  // a short read: fill the block before parsing it
            continue;
        }
        const std::string_view data(buffer->data(), filled);
        const size_t last_nl = data.rfind('\n');
        if (last_nl == std::string_view::npos) {
            carried = filled;
            continue;
        }
        loader.feed_lines(data.substr(0, last_nl + 1));
        carried = filled - (last_nl + 1);
        std::memmove(buffer->data(), buffer->data() + last_nl + 1, carried);
    }
    if (carried > 0) loader.feed_lines(std::string_view(buffer->data(), carried));
    return true;
}

}  // namespace

Result<VcdTrace, std::string> VcdTrace::parse(std::string_view text, VcdPieces pieces) {
    {
        VcdLoader loader(true, pieces);
        loader.feed_lines(text);
        if (!loader.needs_reading_in_order()) return std::move(loader).finish();
    }
    return parse_in_order(text);
}

Result<VcdTrace, std::string> VcdTrace::parse_in_order(std::string_view text) {
    VcdLoader loader(false, VcdPieces{});
    loader.feed_lines(text);
    return std::move(loader).finish();
}

Result<VcdTrace, std::string> VcdTrace::from_file(const std::string& path) {
    {
        VcdLoader loader(true, VcdPieces{});
        auto fed = feed_file(path, loader);
        if (!fed.ok()) return make_err(std::move(fed).error());
        if (!loader.needs_reading_in_order()) return std::move(loader).finish();
    }
    VcdLoader loader(false, VcdPieces{});
    auto fed = feed_file(path, loader);
    if (!fed.ok()) return make_err(std::move(fed).error());
    return std::move(loader).finish();
}

const VcdVar* VcdTrace::var(std::string_view name) const {
    const auto it = vars_.find(name);
    return it == vars_.end() ? nullptr : &it->second;
}

SignalValue VcdTrace::signal_value(std::string_view name, uint64_t index) const {
    const VcdVar* v = var(name);
    return v ? store_.get(v->id, index) : SignalValue::unknown();
}

uint32_t VcdTrace::signal_width(std::string_view name) const {
    const VcdVar* v = var(name);
    return v ? v->width : 0;
}

std::optional<uint32_t> VcdTrace::signal_id(std::string_view name) const {
    const VcdVar* v = var(name);
    if (!v) return std::nullopt;
    return v->id;
}

std::vector<SignalValue> VcdTrace::signal_values_range(std::string_view name, uint64_t start,
                                                       uint64_t end) const {
    const VcdVar* v = var(name);
    if (v) return store_.get_range(v->id, start, end);
    return std::vector<SignalValue>(end > start ? end - start : 0);
}

}  // namespace quor_core::trace
