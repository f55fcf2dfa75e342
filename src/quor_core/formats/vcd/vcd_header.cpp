#include "formats/vcd/vcd_header.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "util/text.hpp"

namespace quor_core::trace {

std::string_view trim_vcd_line(std::string_view s) {
    const auto space = [](unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); };
    while (!s.empty() && space(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && space(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    if (!s.empty() && (static_cast<unsigned char>(s.front()) >= 0x80 || static_cast<unsigned char>(s.back()) >= 0x80)) {
        return util::trim(s);
    }
    return s;
}

bool is_declaration(std::string_view line) {
    return line.starts_with("$scope") || line.starts_with("$upscope") || line.starts_with("$var");
}

size_t VcdHeader::read_until_first_time(std::string_view block, bool ascii) {
    size_t pos = 0;
    while (pos < block.size()) {
        const void* nl = std::memchr(block.data() + pos, '\n', block.size() - pos);
        const size_t end = nl ? static_cast<size_t>(static_cast<const char*>(nl) - block.data()) : block.size();
        const std::string_view raw = block.substr(pos, end - pos);
        if (ascii || util::is_valid_utf8(raw)) {
            const std::string_view line = trim_vcd_line(raw);
            if (!line.empty() && line[0] == '#') return pos;
            if (!line.empty() && line[0] == '$') handle_keyword(line);
        }
        pos = end + 1;
    }
    return block.size();
}

void VcdHeader::handle_keyword(std::string_view line) {
    names_.read(line.size() + 1);
    if (names_.over_budget()) return;
    if (line.starts_with("$scope")) return open_scope(line);
    if (line.starts_with("$upscope")) {
        names_.close_scope();
        return;
    }
    if (line.starts_with("$var")) return declare_var(line);
}

void VcdHeader::open_scope(std::string_view line) {
    std::array<std::string_view, 3> words;
    if (util::leading_words(line, words) < words.size()) return;
    names_.open_scope(words[2]);
}

namespace {

// Cuts a trailing bit range: data[7:0] -> data, mem[3][7:0] -> mem[3]; an element index such as
// mem[3] is part of the name.
std::string_view cut_bit_range(std::string_view ref) {
    if (ref.empty() || ref.back() != ']') return ref;
    const size_t open = ref.rfind('[');
    if (open == std::string_view::npos) return ref;
    if (ref.substr(open).find(':') == std::string_view::npos) return ref;
    return ref.substr(0, open);
}

}  // namespace

void VcdWidths::declare(uint32_t id, uint32_t width) {
    if (id >= by_id.size()) by_id.resize(size_t{id} + 1, 0);
    by_id[id] = std::max(by_id[id], width);
    any_wide = any_wide || wide(by_id[id]);
}

void VcdHeader::declare_var(std::string_view line) {
    std::array<std::string_view, 5> words;
    if (util::leading_words(line, words) < words.size()) return;
    const uint32_t width = util::parse_u32(words[2]).value_or(1);
    const std::string_view code = words[3];
    const std::string_view reference = cut_bit_range(words[4]);
    std::string full;
    if (!names_.var_name(reference, full)) return;
    uint32_t id = 0;
    if (const auto known = codes_.find(code)) {
        id = *known;
        widths_.declare(id, width);
    } else {
        id = next_id_++;
        codes_.insert(code, id);
        widths_.declare(id, width);
    }
    VcdVar var{std::string(reference), width, id};
    // A name declared again keeps its first position and takes the latest declaration.
    const auto [it, inserted] = vars.try_emplace(full, std::move(var));
    if (inserted) {
        signal_names.push_back(std::move(full));
    } else {
        it->second = std::move(var);
    }
}

}  // namespace quor_core::trace
