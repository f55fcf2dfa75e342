#include "trace/vcd.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unordered_set>

#include "signal/bitpack.hpp"
#include "signal/column_builder.hpp"
#include "trace/vcd_codes.hpp"
#include "util/os_error.hpp"
#include "util/text.hpp"
#include "trace/pool_parallel.hpp"

namespace quor_core::trace {

using signal::SignalValue;

namespace {

// Classes of the characters of a vector change, for the two-state fast path.
constexpr uint8_t kOne = 1;
constexpr uint8_t kSlow = 2;  // x, X, z, Z or a byte of a multi-byte character

constexpr std::array<uint8_t, 256> make_bit_classes() {
    std::array<uint8_t, 256> t{};
    t['1'] = kOne;
    for (const char c : {'x', 'X', 'z', 'Z'}) t[static_cast<unsigned char>(c)] = kSlow;
    for (size_t i = 0x80; i < 256; ++i) t[i] = kSlow;
    return t;
}

constexpr std::array<uint8_t, 256> kBitClass = make_bit_classes();

}  // namespace

// Reads VCD text line by line into a VcdTrace. It never rejects input: whatever it does not
// recognise is skipped.
class VcdReader {
public:
    VcdReader() : builder_(signal::FillRule::CarryThenSet) {}
    // Room for the changes a text of this size can hold, so the log does not regrow while
    // loading (untouched capacity costs no memory).
    void expect_bytes(uint64_t bytes) { builder_.reserve(std::min<uint64_t>(bytes / 16, uint64_t{1} << 28)); }

    // Feeds a block of whole lines (the last one may lack its line feed only at the end of input).
    // ascii tells that the block holds no byte >= 0x80, so no line needs UTF-8 validation.
    void feed_lines(std::string_view block, bool ascii) {
        size_t pos = 0;
        while (pos < block.size()) {
            const void* nl = std::memchr(block.data() + pos, '\n', block.size() - pos);
            const size_t end = nl ? static_cast<size_t>(static_cast<const char*>(nl) - block.data()) : block.size();
            std::string_view line = block.substr(pos, end - pos);
            pos = end + 1;
            if (!ascii && !util::is_valid_utf8(line)) continue;
            handle_line(line);
        }
    }

    VcdTrace finish() && {
        trace_.store_ = std::move(builder_).freeze(trace_.timestamps_.size(), pool_parallel_for());
        return std::move(trace_);
    }

private:
    void handle_line(std::string_view raw) {
        std::string_view line = fast_trim(raw);
        if (line.empty()) return;
        const char first = line[0];
        if (first == '$') return handle_keyword(line);
        if (first == '#') return handle_time(line);
        if (!in_samples_) return;
        switch (first) {
            case '0':
            case '1': return set_scalar(line.substr(1), first == '1');
            case 'x':
            case 'X': return set_value(line.substr(1), SignalValue::unknown());
            case 'z':
            case 'Z': return set_value(line.substr(1), SignalValue::four_state({signal::kBitZ}));
            case 'b':
            case 'B': return handle_vector(line);
            case 'r':
            case 'R': return handle_real(line);
            default: return;
        }
    }

    // Trims ASCII white space inline and leaves the rare non-ASCII edge cases to the full trim.
    static std::string_view fast_trim(std::string_view s) {
        const auto space = [](unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); };
        while (!s.empty() && space(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
        while (!s.empty() && space(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
        if (!s.empty() && (static_cast<unsigned char>(s.front()) >= 0x80 || static_cast<unsigned char>(s.back()) >= 0x80)) {
            return util::trim(s);
        }
        return s;
    }

    void handle_keyword(std::string_view line) {
        if (line.starts_with("$scope")) return open_scope(line);
        if (line.starts_with("$upscope")) {
            if (!scope_stack_.empty()) scope_stack_.pop_back();
            return;
        }
        if (line.starts_with("$var")) return declare_var(line);
    }

    std::string scope_path() const {
        std::string path;
        for (size_t i = 0; i < scope_stack_.size(); ++i) {
            if (i) path.push_back('.');
            path += scope_stack_[i];
        }
        return path;
    }

    void open_scope(std::string_view line) {
        const auto tokens = util::split_whitespace(line);
        if (tokens.size() < 3) return;
        scope_stack_.emplace_back(tokens[2]);
        std::string full = scope_path();
        if (seen_scopes_.insert(full).second) trace_.scopes_.push_back(std::move(full));
    }

    // Cuts a trailing bit range: data[7:0] -> data, mem[3][7:0] -> mem[3]; an element index
    // such as mem[3] is part of the name.
    static std::string_view cut_bit_range(std::string_view ref) {
        if (ref.empty() || ref.back() != ']') return ref;
        const size_t open = ref.rfind('[');
        if (open == std::string_view::npos) return ref;
        if (ref.substr(open).find(':') == std::string_view::npos) return ref;
        return ref.substr(0, open);
    }

    void declare_var(std::string_view line) {
        const auto tokens = util::split_whitespace(line);
        if (tokens.size() < 5) return;
        const uint32_t width = util::parse_u32(tokens[2]).value_or(1);
        const std::string_view code = tokens[3];
        const std::string_view reference = cut_bit_range(tokens[4]);
        std::string full = scope_path();
        if (!full.empty()) full.push_back('.');
        full += reference;
        uint32_t id = 0;
        if (const auto known = codes_.find(code)) {
            id = *known;
        } else {
            id = next_id_++;
            codes_.insert(code, id);
        }
        if (!trace_.vars_.contains(full)) trace_.signal_names_.push_back(full);
        trace_.vars_.insert_or_assign(std::move(full), VcdVar{std::string(reference), width, id});
    }

    void handle_time(std::string_view line) {
        const uint64_t time = util::parse_u64(util::trim(line.substr(1))).value_or(0);
        current_ = trace_.timestamps_.size();
        trace_.timestamps_.push_back(time);
        in_samples_ = true;
    }

    void set_scalar(std::string_view code, bool one) {
        if (const auto id = codes_.find(code)) builder_.set_uint(*id, current_, one ? 1 : 0);
    }

    void set_value(std::string_view code, SignalValue value) {
        if (const auto id = codes_.find(code)) builder_.set(*id, current_, std::move(value));
    }

    void handle_vector(std::string_view line) {
        const size_t space = line.find(' ');
        if (space == std::string_view::npos) return;
        const auto id = codes_.find(util::trim(line.substr(space + 1)));
        if (!id) return;
        // Fast path for plain two-state ASCII bit strings; anything else takes the general parser.
        const std::string_view bits = line.substr(1, space - 1);
        uint64_t acc = 0;
        uint8_t flags = 0;
        for (const char c : bits) {
            const uint8_t f = kBitClass[static_cast<unsigned char>(c)];
            acc = (acc << 1) | (f & kOne);
            flags |= f;
        }
        if ((flags & kSlow) == 0 && !bits.empty()) {
            builder_.set_uint(*id, current_, acc);
        } else {
            builder_.set(*id, current_, signal::parse_binary_str(line.substr(0, space)));
        }
    }


    void handle_real(std::string_view line) {
        const size_t space = line.find(' ');
        if (space == std::string_view::npos) return;
        const auto id = codes_.find(util::trim(line.substr(space + 1)));
        if (!id) return;
        const double v = util::parse_f64(line.substr(1, space - 1)).value_or(0.0);
        builder_.set(*id, current_, SignalValue::real(v));
    }

    VcdTrace trace_;
    signal::ColumnBuilder builder_;
    VcdCodeTable codes_;
    uint32_t next_id_ = 0;
    std::vector<std::string> scope_stack_;
    std::unordered_set<std::string> seen_scopes_;
    uint64_t current_ = 0;
    bool in_samples_ = false;
};

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

Result<VcdTrace, std::string> VcdTrace::parse(std::string_view text) {
    VcdReader reader;
    reader.feed_lines(text, all_ascii(text));
    return std::move(reader).finish();
}

Result<VcdTrace, std::string> VcdTrace::from_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return make_err("Failed to open " + path + ": " + util::os_error_text(errno));
    FdGuard guard{fd};
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        return make_err("Failed to open " + path + ": " + util::os_error_text(EISDIR));
    }
    constexpr size_t kChunk = size_t{4} << 20;
    std::vector<char> buffer(kChunk);
    size_t carried = 0;  // bytes of an unfinished line at the front of buffer
    VcdReader reader;
    if (st.st_size > 0) reader.expect_bytes(static_cast<uint64_t>(st.st_size));
    for (;;) {
        if (carried == buffer.size()) buffer.resize(buffer.size() * 2);  // a line longer than the buffer
        const ssize_t got = ::read(fd, buffer.data() + carried, buffer.size() - carried);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // end of file, or a read error: keep what was read
        const size_t filled = carried + static_cast<size_t>(got);
        const std::string_view data(buffer.data(), filled);
        const size_t last_nl = data.rfind('\n');
        if (last_nl == std::string_view::npos) {
            carried = filled;
            continue;
        }
        const std::string_view lines = data.substr(0, last_nl + 1);
        reader.feed_lines(lines, all_ascii(lines));
        carried = filled - (last_nl + 1);
        std::memmove(buffer.data(), buffer.data() + last_nl + 1, carried);
    }
    if (carried > 0) {
        const std::string_view rest(buffer.data(), carried);
        reader.feed_lines(rest, all_ascii(rest));
    }
    return std::move(reader).finish();
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
