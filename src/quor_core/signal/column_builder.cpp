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

ColumnBuilder::Pending& ColumnBuilder::pending(uint32_t id) {
    if (id >= columns_.size()) columns_.resize(static_cast<size_t>(id) + 1);
    return columns_[id];
}

ValueRef ColumnBuilder::run_value(const Pending& p, size_t run) {
    const ValueKind k = p.kinds.empty() ? ValueKind::Uint : static_cast<ValueKind>(p.kinds[run]);
    switch (k) {
        case ValueKind::Uint: return ValueRef::of_uint(p.uints[run]);
        case ValueKind::Real: {
            double d = 0;
            std::memcpy(&d, &p.uints[run], sizeof d);
            return ValueRef::of_real(d);
        }
        case ValueKind::Unknown: return ValueRef();
        default: return ValueRef::of(p.others[p.uints[run]]);
    }
}

void ColumnBuilder::push_run(Pending& p, uint64_t index, ValueKind kind, uint64_t payload) {
    if (!p.kinds.empty() || kind != ValueKind::Uint) {
        if (p.kinds.empty()) p.kinds.assign(p.starts.size(), kind_byte(ValueKind::Uint));
        p.kinds.push_back(kind_byte(kind));
    }
    p.starts.push_back(index);
    p.uints.push_back(payload);
}

void ColumnBuilder::pop_run(Pending& p) {
    const size_t last = p.starts.size() - 1;
    if (!p.kinds.empty()) {
        const auto k = static_cast<ValueKind>(p.kinds[last]);
        if (is_heap_kind(k) && p.uints[last] + 1 == p.others.size()) p.others.pop_back();
        p.kinds.pop_back();
    }
    p.starts.pop_back();
    p.uints.pop_back();
}

void ColumnBuilder::set(uint32_t id, uint64_t index, SignalValue value) {
    if (value.kind() == ValueKind::Uint) {
        apply_uint(pending(id), index, value.as_uint());
    } else {
        apply(pending(id), index, std::move(value));
    }
}

void ColumnBuilder::set_uint(uint32_t id, uint64_t index, uint64_t value) {
    apply_uint(pending(id), index, value);
}

void ColumnBuilder::apply_uint(Pending& p, uint64_t index, uint64_t value) {
    if (!p.late.empty() || (!p.starts.empty() && index < p.starts.back())) {
        p.late.emplace_back(index, SignalValue::uint(value));
        return;
    }
    if (!p.starts.empty() && p.starts.back() == index) pop_run(p);
    if (p.starts.empty() && index > 0) push_run(p, 0, ValueKind::Unknown, 0);
    push_run(p, index, ValueKind::Uint, value);
}

void ColumnBuilder::apply(Pending& p, uint64_t index, SignalValue&& value) {
    if (!p.late.empty() || (!p.starts.empty() && index < p.starts.back())) {
        p.late.emplace_back(index, std::move(value));
        return;
    }
    if (!p.starts.empty() && p.starts.back() == index) pop_run(p);
    // After a set-then-fill pass an Unknown is covered by the value before it.
    if (rule_ == FillRule::SetThenFill && value.is_unknown()) return;
    if (p.starts.empty() && index > 0) push_run(p, 0, ValueKind::Unknown, 0);
    const ValueRef ref = ValueRef::of(value);
    switch (value.kind()) {
        case ValueKind::Real:
        case ValueKind::Unknown: push_run(p, index, value.kind(), ref.as_uint()); return;
        default:
            push_run(p, index, value.kind(), p.others.size());
            p.others.push_back(std::move(value));
            return;
    }
}

Column ColumnBuilder::finish(Pending& p, FillRule rule, uint64_t length) {
    if (!p.late.empty()) {
        // Replay everything in index order; changes recorded earlier come first at equal indices.
        std::vector<std::pair<uint64_t, SignalValue>> events;
        events.reserve(p.starts.size() + p.late.size());
        for (size_t r = 0; r < p.starts.size(); ++r) events.emplace_back(p.starts[r], run_value(p, r).to_value());
        for (auto& e : p.late) events.push_back(std::move(e));
        std::stable_sort(events.begin(), events.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        p = Pending{};
        ColumnBuilder replay(rule);
        for (auto& [index, value] : events) replay.set(0, index, std::move(value));
        p = std::move(replay.columns_[0]);
    }
    ColumnWriter writer;
    for (size_t r = 0; r < p.starts.size(); ++r) {
        const ValueRef v = run_value(p, r);
        if (is_heap_kind(v.kind())) {
            writer.append(p.starts[r], std::move(p.others[p.uints[r]]));
        } else {
            writer.append(p.starts[r], v);
        }
    }
    p = Pending{};
    return std::move(writer).finish(length);
}

ColumnStore ColumnBuilder::freeze(uint64_t num_indices) && {
    std::vector<Column> columns(columns_.size());
    for (size_t id = 0; id < columns_.size(); ++id) columns[id] = finish(columns_[id], rule_, num_indices);
    columns_.clear();
    return ColumnStore(std::move(columns));
}

}  // namespace quor_core::signal
