#pragma once
// VcdHeader: the declarations of a VCD text ($scope, $upscope, $var): scopes, full signal names,
// widths and the identifier code of each signal.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "signal/values/bitpack.hpp"
#include "trace/common_trace.hpp"
#include "trace/hierarchy_names.hpp"
#include "formats/vcd/vcd_codes.hpp"

namespace quor_core::trace {

// The declared width of each signal id (the largest, when declarations of one code differ).
struct VcdWidths {
    std::vector<uint32_t> by_id;
    // Some signal's values are extended to more than 64 bits: the value reader looks widths up
    // only then.
    bool any_wide = false;

    void declare(uint32_t id, uint32_t width);
    // The width values of id are extended to; 0 for none (above signal::kMaxExtendedWidth).
    uint32_t extended(uint32_t id) const { return by_id[id] <= signal::kMaxExtendedWidth ? by_id[id] : 0; }
    // Whether id takes Wide values: it is declared wider than 64 bits, up to the widest extended.
    static bool wide(uint32_t width) { return width - 65u < signal::kMaxExtendedWidth - 64u; }
};

struct VcdVar {
    std::string reference;  // the declared name without a trailing bit range
    uint32_t width = 0;
    uint32_t id = 0;
};

using VcdVarMap = std::unordered_map<std::string, VcdVar, StringHash, std::equal_to<>>;

class VcdHeader {
public:
    // Handles one trimmed line that starts with '$'; any keyword but a declaration is ignored.
    void handle_keyword(std::string_view line);
    // Handles the lines of block up to the first timestamp line ('#' after leading white space)
    // and returns that line's offset, or block.size() when there is none. Value lines before the
    // first timestamp belong to no sample and are skipped; so are lines that are not UTF-8
    // (unless ascii tells that block holds no byte >= 0x80).
    size_t read_until_first_time(std::string_view block, bool ascii);

    const VcdCodeTable& codes() const { return codes_; }
    const VcdWidths& widths() const { return widths_; }
    // Signals declared so far; their ids are 0 .. id_count() - 1.
    uint32_t id_count() const { return next_id_; }

    // Whether the full names grew past their budget (see HierarchyNames); declarations are then
    // ignored, and the load fails with the message.
    bool too_deep() const { return names_.over_budget(); }
    std::string too_deep_message() const { return "VCD hierarchy: " + names_.budget_message(); }
    std::vector<std::string> take_scopes() { return names_.take_scopes(); }

    VcdVarMap vars;
    std::vector<std::string> signal_names;

private:
    void open_scope(std::string_view line);
    void declare_var(std::string_view line);

    VcdCodeTable codes_;
    VcdWidths widths_;
    uint32_t next_id_ = 0;
    HierarchyNames names_;
};

// Trims ASCII white space inline and leaves the rare non-ASCII edge cases to the full trim.
std::string_view trim_vcd_line(std::string_view s);

// The keywords that declare signals or scopes, which change how later lines read.
bool is_declaration(std::string_view trimmed_line);

}  // namespace quor_core::trace
