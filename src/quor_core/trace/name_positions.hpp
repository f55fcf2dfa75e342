#pragma once
// NamePositions: finds a name by its text among a list of names (the trace's signal names) without
// a second copy of any text, or any item by a hash and a test of its own: an open-addressing table of 64-bit slots, each a name's position
// (plus one; 0 is an empty slot) beside 32 bits of its hash, at most half full. The hash bits
// settle almost every probe without touching the name itself, which is a cache miss away.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quor_core::trace {

class NamePositions {
public:
    static uint32_t hash(std::string_view name) {
        return static_cast<uint32_t>(std::hash<std::string_view>{}(name));
    }

    // Room for this many names without growing.
    void reserve(size_t names);
    size_t size() const { return count_; }

    // The first position listed under hash for which matches(position) holds.
    template <typename Matches>
    std::optional<uint32_t> find_if(uint32_t hash, Matches matches) const {
        if (slots_.empty()) return std::nullopt;
        const size_t mask = slots_.size() - 1;
        for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            const uint64_t entry = slots_[slot];
            if (entry == 0) return std::nullopt;
            if (static_cast<uint32_t>(entry >> 32) != hash) continue;
            const auto position = static_cast<uint32_t>(entry) - 1;
            if (matches(position)) return position;
        }
    }
    // The position of the name with this text and hash, if listed.
    std::optional<uint32_t> find(std::string_view name, uint32_t hash, std::span<const std::string> names) const {
        return find_if(hash, [&](uint32_t position) { return names[position] == name; });
    }
    std::optional<uint32_t> find(std::string_view name, std::span<const std::string> names) const {
        return find(name, hash(name), names);
    }

    // Lists every name of names (empty before), its position under its hash in hashes, in one
    // pass that looks ahead: a table larger than the caches costs a miss a name, and the misses
    // of the names to come overlap. False, with the table left empty, when two names are equal.
    bool insert_all(std::span<const std::string> names, std::span<const uint32_t> hashes);

    // Lists position under hash; the caller has made sure no equal name is listed.
    void insert(uint32_t hash, uint32_t position) {
        if (2 * (count_ + 1) > slots_.size()) grow(2 * (count_ + 1));
        place(slots_, uint64_t{hash} << 32 | (uint64_t{position} + 1));
        ++count_;
    }

private:
    static void place(std::vector<uint64_t>& slots, uint64_t entry) {
        const size_t mask = slots.size() - 1;
        size_t slot = static_cast<uint32_t>(entry >> 32) & mask;
        while (slots[slot] != 0) slot = (slot + 1) & mask;
        slots[slot] = entry;
    }
    // Rebuilds the table with at least this many slots.
    void grow(size_t at_least);

    std::vector<uint64_t> slots_;
    size_t count_ = 0;
};

}  // namespace quor_core::trace
