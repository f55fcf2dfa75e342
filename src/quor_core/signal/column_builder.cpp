#include "signal/column_builder.hpp"

#include <algorithm>
#include <cstring>

namespace quor_core::signal {

namespace {

constexpr uint8_t kind_byte(ValueKind k) { return static_cast<uint8_t>(k); }

bool is_heap_kind(ValueKind k) {
    return k == ValueKind::Wide || k == ValueKind::FourState || k == ValueKind::Text;
}

}  // namespace

void ColumnBuilder::ensure(uint32_t id) {
    if (id >= columns_.size()) {
        columns_.resize(static_cast<size_t>(id) + 1);
        hot_.resize(static_cast<size_t>(id) + 1);
    }
}

ValueRef ColumnBuilder::run_value(const Pending& p, size_t run) {
    const ValueKind k = p.kinds.empty() ? ValueKind::Uint : static_cast<ValueKind>(p.kinds[run]);
    switch (k) {
        case ValueKind::Uint: return ValueRef::of_uint(p.runs[run].payload);
        case ValueKind::Real: {
            double d = 0;
            std::memcpy(&d, &p.runs[run].payload, sizeof d);
            return ValueRef::of_real(d);
        }
        case ValueKind::Unknown: return ValueRef();
        default: return ValueRef::of(p.others[p.runs[run].payload]);
    }
}

void ColumnBuilder::push_run(uint32_t id, uint64_t index, ValueKind kind, uint64_t payload) {
    Pending& p = columns_[id];
    if (!p.kinds.empty() || kind != ValueKind::Uint) {
        if (p.kinds.empty()) p.kinds.assign(p.runs.size(), kind_byte(ValueKind::Uint));
        p.kinds.push_back(kind_byte(kind));
    }
    p.runs.push_back({index, payload});
    hot_[id].last_start = index;
    hot_[id].has_runs = true;
}

void ColumnBuilder::pop_run(uint32_t id) {
    Pending& p = columns_[id];
    const size_t last = p.runs.size() - 1;
    if (!p.kinds.empty()) {
        const auto k = static_cast<ValueKind>(p.kinds[last]);
        if (is_heap_kind(k) && p.runs[last].payload + 1 == p.others.size()) p.others.pop_back();
        p.kinds.pop_back();
    }
    p.runs.pop_back();
    hot_[id].has_runs = !p.runs.empty();
    hot_[id].last_start = p.runs.empty() ? 0 : p.runs.back().start;
}

// Prepares a change at index: drops an earlier change at the same index (a later one replaces
// it) and starts the column with an Unknown run when its first value comes after index 0.
void ColumnBuilder::begin_run(uint32_t id, uint64_t index) {
    const Hot& h = hot_[id];
    if (h.has_runs && h.last_start == index) pop_run(id);
    if (!hot_[id].has_runs && index > 0) push_run(id, 0, ValueKind::Unknown, 0);
}

void ColumnBuilder::set(uint32_t id, uint64_t index, SignalValue value) {
    ensure(id);
    if (value.kind() == ValueKind::Uint) {
        apply_uint(id, index, value.as_uint());
    } else {
        apply(id, index, std::move(value));
    }
}

void ColumnBuilder::set_uint(uint32_t id, uint64_t index, uint64_t value) {
    ensure(id);
    apply_uint(id, index, value);
}

void ColumnBuilder::apply_uint(uint32_t id, uint64_t index, uint64_t value) {
    if (goes_late(id, index)) {
        columns_[id].late.emplace_back(index, SignalValue::uint(value));
        hot_[id].has_late = true;
        return;
    }
    begin_run(id, index);
    push_run(id, index, ValueKind::Uint, value);
}

void ColumnBuilder::apply(uint32_t id, uint64_t index, SignalValue&& value) {
    if (goes_late(id, index)) {
        columns_[id].late.emplace_back(index, std::move(value));
        hot_[id].has_late = true;
        return;
    }
    if (hot_[id].has_runs && hot_[id].last_start == index) pop_run(id);
    // After a set-then-fill pass an Unknown is covered by the value before it.
    if (rule_ == FillRule::SetThenFill && value.is_unknown()) return;
    begin_run(id, index);
    const ValueRef ref = ValueRef::of(value);
    switch (value.kind()) {
        case ValueKind::Real:
        case ValueKind::Unknown: push_run(id, index, value.kind(), ref.as_uint()); return;
        default: {
            Pending& p = columns_[id];
            const uint64_t slot = p.others.size();
            p.others.push_back(std::move(value));
            push_run(id, index, p.others.back().kind(), slot);
            return;
        }
    }
}

Column ColumnBuilder::finish(Pending& p, FillRule rule, uint64_t length) {
    if (!p.late.empty()) {
        // Replay everything in index order; changes recorded earlier come first at equal indices.
        std::vector<std::pair<uint64_t, SignalValue>> events;
        events.reserve(p.runs.size() + p.late.size());
        for (size_t r = 0; r < p.runs.size(); ++r) events.emplace_back(p.runs[r].start, run_value(p, r).to_value());
        for (auto& e : p.late) events.push_back(std::move(e));
        std::stable_sort(events.begin(), events.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        p = Pending{};
        ColumnBuilder replay(rule);
        for (auto& [index, value] : events) replay.set(0, index, std::move(value));
        p = std::move(replay.columns_[0]);
    }
    ColumnWriter writer;
    for (size_t r = 0; r < p.runs.size(); ++r) {
        const ValueRef v = run_value(p, r);
        if (is_heap_kind(v.kind())) {
            writer.append(p.runs[r].start, std::move(p.others[p.runs[r].payload]));
        } else {
            writer.append(p.runs[r].start, v);
        }
    }
    p = Pending{};
    return std::move(writer).finish(length);
}

ColumnStore ColumnBuilder::freeze(uint64_t num_indices) && {
    std::vector<Column> columns(columns_.size());
    for (size_t id = 0; id < columns_.size(); ++id) columns[id] = finish(columns_[id], rule_, num_indices);
    columns_.clear();
    hot_.clear();
    return ColumnStore(std::move(columns));
}

}  // namespace quor_core::signal
