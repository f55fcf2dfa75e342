#pragma once
// Hierarchical names: path elements joined by '.', outermost first. An escaped identifier
// (Verilog "\esc.dotted", VHDL "\u.1\") is one element, dots and all: it runs from its backslash
// to the first '.' that follows white space or a closing backslash, or else to the end of the
// name. So "top.\esc.dotted" is the signal "\esc.dotted" in the scope "top", not "dotted" in a
// scope "top.\esc".

#include <cstddef>
#include <string>
#include <string_view>

namespace quor_core::util {

// The end of the element that starts at pos: the position of the '.' that ends it, or
// name.size().
size_t path_element_end(std::string_view name, size_t pos);

// Whether the name lies inside the scope: it begins with the scope's elements and a '.'
// separating them from its own. (An empty scope holds the names that begin with a '.'.)
bool inside_scope(std::string_view name, std::string_view scope);

// Whether the name lies directly in the scope (inside it, one element below); the empty scope
// holds the names of one element.
bool directly_in_scope(std::string_view name, std::string_view scope);

// The scope below scope (a name inside it) that holds the name: scope, '.', and the name's next
// element.
std::string_view child_scope_of(std::string_view name, std::string_view scope);

// Appends element to path as one path element: as it is when it reads back as one there (a
// name without a '.', or an escaped identifier that ends before a following '.'), else escaped:
// a backslash before it unless it begins with one, and a space after it ("u.1" joins as
// "\u.1 "). Scope names come from the writer's scope records, which hold one element however
// many dots it has: Icarus writes the instance "\u.1 " as the scope "u.1".
void append_path_element(std::string& path, std::string_view element);

// The name without a trailing bit range ("cnt [7:0]" and "q[7:0]" give "cnt" and "q"; an
// element index such as "mem[3]" is kept), or the name itself when it has none.
std::string_view without_bit_range(std::string_view name);

}  // namespace quor_core::util
