#pragma once
// Full Unicode lower-casing of UTF-8 text, for the case-insensitive name search.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quor_core::eval {

struct LowerPair {
    uint32_t from;
    uint32_t to;
};
extern const LowerPair kLowerPairs[];  // ascending by from
extern const size_t kLowerPairCount;

struct CodeRange {
    uint32_t first;
    uint32_t last;  // inclusive
};
// Ascending and disjoint: code points that are cased (and not case-ignorable), and those that
// are case-ignorable; what decides whether a capital sigma ends a word.
extern const CodeRange kCasedRanges[];
extern const size_t kCasedRangesCount;
extern const CodeRange kCaseIgnorableRanges[];
extern const size_t kCaseIgnorableRangesCount;

// Lower-cases every code point (U+0130 becomes "i" and a combining dot above; a capital sigma
// becomes the final form at the end of a word). Bytes that are not valid UTF-8 are kept as
// they are.
std::string to_lower_full(std::string_view text);

}  // namespace quor_core::eval
