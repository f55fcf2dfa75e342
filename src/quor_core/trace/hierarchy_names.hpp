#pragma once
// HierarchyNames: the full names of the scopes and variables of a hierarchy read declaration by
// declaration (VCD header, FST hierarchy), within a budget.
//
// A full name repeats the path of its scope, so the names of a hierarchy grow with the square
// of its depth while the file grows with the depth only: 40,000 nested scopes, 1.4 KB as an
// FST, would need gigabytes of names. The full names may take kBytesPerInputByte bytes per byte
// of declarations read so far, plus kFreeBytes; once they would take more, no further name is
// made and the load fails with budget_message(). Ordinary designs, a few hundred levels deep
// included, stay far below: their names take a few to a few tens of bytes per byte.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "trace/name_positions.hpp"
#include "trace/scope_path.hpp"

namespace quor_core::trace {

class HierarchyNames {
public:
    static constexpr uint64_t kBytesPerInputByte = 256;
    static constexpr uint64_t kFreeBytes = uint64_t{64} << 20;

    HierarchyNames() = default;

    // Counts bytes of declarations read: the budget grows with them (until it is spent).
    void read(uint64_t bytes) {
        if (!over_budget_) input_ += bytes;
    }
    // Opens a scope, listing its full name the first time that name is met.
    void open_scope(std::string_view name);
    void close_scope() { path_.close(); }
    // Makes full the full name of a variable declared in the innermost open scope; false (and
    // nothing made) once the names are over budget.
    bool var_name(std::string_view leaf, std::string& full);

    bool over_budget() const { return over_budget_; }
    // What the load reports when the names are over budget.
    std::string budget_message() const;

    // The full scope names, each once, in order of first appearance.
    std::vector<std::string> take_scopes() {
        scope_index_ = NamePositions();
        return std::move(scopes_);
    }

private:
    // Counts a name about to be made; false once the names are over budget.
    bool spend(uint64_t bytes);

    ScopePath path_;
    std::vector<std::string> scopes_;
    // The scopes' full names, by position in scopes_, once a scope name with a '.' is met: till
    // then two scopes have the same full name only if they are the same scope, which path_ tells.
    NamePositions scope_index_;
    bool dotted_ = false;
    uint64_t input_ = 0;
    uint64_t names_ = 0;
    bool over_budget_ = false;
};

}  // namespace quor_core::trace
