#include "trace/timescale.hpp"

#include <array>
#include <utility>

#include "util/text.hpp"

namespace quor_core::trace {

namespace {

// Finest first: the position times -3 is the unit's exponent's distance below seconds.
constexpr std::array<std::pair<std::string_view, int>, 7> kUnits = {{
    {"s", 0}, {"ms", -3}, {"us", -6}, {"ns", -9}, {"ps", -12}, {"fs", -15}, {"as", -18},
}};

constexpr int kFinestExponent = -18;
constexpr int kCoarsestExponent = 18;  // 10**18 still fits a magnitude

uint64_t power_of_ten(int exponent) {
    uint64_t p = 1;
    for (int k = 0; k < exponent; ++k) p *= 10;
    return p;
}

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

std::string_view Timescale::unit_name() const {
    for (const auto& [name, exponent] : kUnits) {
        if (exponent == unit_exponent) return name;
    }
    return "";
}

std::optional<Timescale> timescale_from_exponent(int exponent) {
    if (exponent < kFinestExponent || exponent > kCoarsestExponent) return std::nullopt;
    // The unit is the largest one not above the scale: 10**-10 s is 100 ps.
    int unit = exponent >= 0 ? 0 : -((-exponent + 2) / 3) * 3;
    return Timescale{power_of_ten(exponent - unit), unit};
}

std::optional<Timescale> find_vcd_timescale(std::string_view text) {
    constexpr std::string_view kKeyword = "$timescale";
    const size_t at = text.find(kKeyword);
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view rest = text.substr(at + kKeyword.size());
    const size_t end = rest.find("$end");
    if (end == std::string_view::npos) return std::nullopt;
    rest = rest.substr(0, end);
    while (!rest.empty() && is_space(rest.front())) rest.remove_prefix(1);
    while (!rest.empty() && is_space(rest.back())) rest.remove_suffix(1);
    size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    const auto magnitude = util::parse_u64(rest.substr(0, digits));
    if (!magnitude || *magnitude == 0) return std::nullopt;
    std::string_view unit = rest.substr(digits);
    while (!unit.empty() && is_space(unit.front())) unit.remove_prefix(1);
    for (const auto& [name, exponent] : kUnits) {
        if (unit == name) return Timescale{*magnitude, exponent};
    }
    return std::nullopt;
}

}  // namespace quor_core::trace
