#pragma once
// Small text helpers for line-oriented readers: Unicode-aware trimming and splitting,
// strict unsigned and floating-point number parsing, UTF-8 validation.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace quor_core::util {

// True for the Unicode White_Space code points.
bool is_unicode_space(char32_t c);

// Removes white space at both ends.
std::string_view trim(std::string_view s);

// Splits at runs of white space; no empty tokens.
std::vector<std::string_view> split_whitespace(std::string_view s);
// The first out.size() words of s, as split_whitespace gives them, without allocating; returns
// how many were found.
size_t leading_words(std::string_view s, std::span<std::string_view> out);

// Digits only, with one optional leading '+'; nothing on overflow or any other character.
std::optional<uint64_t> parse_u64(std::string_view s);
std::optional<uint32_t> parse_u32(std::string_view s);

// A decimal floating-point number (optional sign, digits with an optional point, optional
// exponent) or inf / infinity / nan in any case; the whole text must match.
std::optional<double> parse_f64(std::string_view s);

bool is_valid_utf8(std::string_view s);

// Decodes one UTF-8 scalar at text[pos], advancing pos. Invalid bytes decode as U+FFFD, one byte each.
char32_t next_code_point(std::string_view text, size_t& pos);

// Appends the UTF-8 encoding of a code point.
void append_utf8(std::string& out, char32_t c);

}  // namespace quor_core::util
