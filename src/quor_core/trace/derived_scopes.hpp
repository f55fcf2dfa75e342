#pragma once
// The scopes of formats that store only full signal names (FSDB, WLF, VPD): derived from the
// names' paths.

#include <string>
#include <vector>

namespace quor_core::trace {

// Every scope on the paths of the names (each proper prefix that ends at a separating '.'; an
// escaped identifier is one element), once each, in ascending byte order. Like the full names
// of a declared hierarchy, the scope names may take HierarchyNames' budget in bytes per byte of
// the names; a path that would take more (one name of 100,000 elements would need gigabytes)
// lists its scopes only down to where the budget ends, and later names add none.
std::vector<std::string> derive_scopes(const std::vector<std::string>& names);

}  // namespace quor_core::trace
