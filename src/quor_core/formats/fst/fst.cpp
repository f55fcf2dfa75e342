#include "formats/fst/fst.hpp"

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <unordered_map>
#include <variant>

#include "parallel/pool.hpp"
#include "fst_container/reader.hpp"
#include "trace/pool_parallel.hpp"
#include "trace/hierarchy_names.hpp"
#include "util/os_error.hpp"

namespace quor_core::trace {
namespace {

namespace fc = fst_container;

constexpr uint32_t kNoId = kNoSignalId;

// Signal ids by FST handle: dense for handles the geometry declares, a map
// for any other handle a variable may name.
class HandleIds {
public:
    explicit HandleIds(size_t declared) : dense_(declared, kNoId) {}

    uint32_t find(uint32_t index) const {
        if (index < dense_.size()) return dense_[index];
        const auto it = sparse_.find(index);
        return it == sparse_.end() ? kNoId : it->second;
    }
    // Ids of the handles the geometry declares, by signal index.
    const std::vector<uint32_t>& declared() const { return dense_; }
    void clear() {
        std::fill(dense_.begin(), dense_.end(), kNoId);
        sparse_.clear();
    }
    void insert(uint32_t index, uint32_t id) {
        if (index < dense_.size()) {
            dense_[index] = id;
        } else {
            sparse_.emplace(index, id);
        }
    }

private:
    std::vector<uint32_t> dense_;
    std::unordered_map<uint32_t, uint32_t> sparse_;
};

// Builds full names, ids and widths from the hierarchy entries: each full name is made in one
// reused buffer and kept once, in the record's list of names. The first declaration of a name
// holds. Names are first taken as they come and indexed all at once at the end (finish), which
// is much faster for many names; only when that finds a name declared twice is the hierarchy
// read again (restart) with each name looked up as it comes.
class NameCollector final : public fc::HierarchyVisitor {
public:
    NameCollector(TraceRecord& record, HandleIds& ids, uint64_t declared_vars)
        : record_(record), ids_(ids), declared_vars_(declared_vars) {}

    // Indexes the names; false when some name was declared twice (call restart and read again).
    bool finish() {
        if (check_each_) return true;
        const bool unique = record_.name_positions.insert_all(record_.signal_names, hashes_);
        std::vector<uint32_t>().swap(hashes_);
        return unique;
    }
    // Forgets everything collected; the names are then looked up as they come.
    void restart() {
        record_.signal_names.clear();
        record_.ids_by_position.clear();
        record_.widths_by_position.clear();
        record_.name_positions = NamePositions();
        ids_.clear();
        names_ = HierarchyNames();
        next_id_ = 0;
        hashes_.clear();
        check_each_ = true;
    }

    void start(size_t bytes) override {
        // The header's count of variables, unless the hierarchy is too short to hold that many.
        constexpr size_t kLeastVarBytes = 5;
        const auto vars = static_cast<size_t>(std::min<uint64_t>(declared_vars_, bytes / kLeastVarBytes));
        record_.signal_names.reserve(vars);
        record_.ids_by_position.reserve(vars);
        record_.widths_by_position.reserve(vars);
        if (check_each_) {
            record_.name_positions.reserve(vars);
        } else {
            hashes_.reserve(vars);
        }
    }
    // Each entry is counted by the bytes it takes in the hierarchy at least (its tag, strings
    // with their terminators, numbers of one byte), which sets the budget of the names.
    void scope(const fc::FstScopeRef& scope) override {
        names_.read(scope.name.size() + scope.component.size() + 4);
        names_.open_scope(scope.name);
    }
    void upscope() override {
        names_.read(1);
        names_.close_scope();
    }
    void var(const fc::FstVarRef& var) override {
        names_.read(var.name.size() + 5);
        add_var(var);
    }
    void other(const fc::FstHierarchyEntry& /*entry*/) override { names_.read(1); }

    // Whether the full names grew past their budget: the load fails with the message.
    bool too_deep() const { return names_.over_budget(); }
    std::string too_deep_message() const { return "FST hierarchy: " + names_.budget_message(); }
    std::vector<std::string> take_scopes() { return names_.take_scopes(); }

private:
    void add_var(const fc::FstVarRef& var) {
        if (!names_.var_name(var.name, full_)) return;
        const uint32_t hash = NamePositions::hash(full_);
        if (check_each_ && record_.name_positions.find(full_, hash, record_.signal_names)) return;
        const auto index = static_cast<uint32_t>(var.handle.index());
        uint32_t id = ids_.find(index);
        if (id == kNoId) {
            id = next_id_++;
            ids_.insert(index, id);
        }
        const auto position = static_cast<uint32_t>(record_.signal_names.size());
        record_.signal_names.push_back(full_);
        record_.ids_by_position.push_back(id);
        record_.widths_by_position.push_back(var.length);
        if (check_each_) {
            record_.name_positions.insert(hash, position);
        } else {
            hashes_.push_back(hash);
        }
    }

    TraceRecord& record_;
    HandleIds& ids_;
    uint64_t declared_vars_;
    HierarchyNames names_;
    std::string full_;  // the name being made
    uint32_t next_id_ = 0;
    bool check_each_ = false;       // look each name up as it comes
    std::vector<uint32_t> hashes_;  // of the names, by position, till they are indexed
};

Result<FstTrace, std::string> load(std::unique_ptr<fc::ByteSource> source, ChangeLoadPlan plan,
                                   const util::Interrupt& interrupt = util::Interrupt::never()) {
    auto opened = fc::FstReader::open_internal(std::move(source), true);
    if (!opened.ok()) return make_err("FST open: " + opened.error().display());
    fc::FstReader& reader = opened.value();
    const fc::MetaData& meta = reader.metadata();

    TraceRecord record;
    HandleIds ids(meta.signals.size());
    NameCollector names(record, ids, meta.header.var_count);
    auto hierarchy_bytes = reader.read_hierarchy_block();
    if (!hierarchy_bytes.ok()) return make_err("FST hierarchy: " + hierarchy_bytes.error().display());
    // The hierarchy is read on this thread while the workers decode the first value-change
    // blocks: the decoding needs no names or ids until the columns are placed.
    fc::Status hierarchy;
    SideWork read_names(
        [&] {
            hierarchy = reader.visit_hierarchy(hierarchy_bytes.value(), names);
            if (hierarchy.ok() && !names.too_deep() && !names.finish()) {
                names.restart();
                hierarchy = reader.visit_hierarchy(hierarchy_bytes.value(), names);
            }
        },
                        [&interrupt](size_t pieces, const std::function<void(size_t)>& piece,
                                     const std::function<void()>& work) {
                            eval::WorkerPool::instance().run_sharing_after(pieces, piece, work, interrupt);
                        });

    FstSamples samples(meta.time_table.value_or(std::vector<uint64_t>{}), meta.data_sections);
    record.timescale = timescale_from_exponent(meta.header.timescale_exponent);
    if (plan.groups == 0) {
        const size_t workers = eval::WorkerPool::instance().size();
        plan.groups = default_group_count(meta.signals.size(), workers);
        // A group's streams lie in one array, freed when the group is done: groups of at most
        // 16,384 signals keep it a few megabytes, which malloc then reuses for the next group
        // instead of mapping fresh pages (every page costs a fault and zeroing). Up to 64 groups
        // of a few signals each: the streams of the groups being decoded hold their runs in
        // growing arrays, so the fewer signals a group has, the less memory they hold at once.
        constexpr size_t kStreamGroupSignals = 16384;
        constexpr size_t kManyGroups = 64;
        const size_t signals = meta.signals.size();
        plan.stream_groups = std::max({plan.groups, 4 * workers, std::min(kManyGroups, signals / 8),
                                       (signals + kStreamGroupSignals - 1) / kStreamGroupSignals});
    }
    auto store = load_fst_changes(reader, ids.declared(), samples, pool_parallel_for(interrupt), plan, &read_names);
    read_names.finish();
    if (!hierarchy.ok()) return make_err("FST hierarchy: " + hierarchy.error().display());
    if (names.too_deep()) return make_err(names.too_deep_message());
    record.scopes = names.take_scopes();
    if (!store.ok()) return make_err("FST signals: " + store.error().display());
    record.store = std::move(store).value();
    record.timestamps = std::move(samples).take_times();
    return FstTrace(std::move(record));
}

}  // namespace

Result<FstTrace, std::string> FstTrace::from_file(const std::string& path, const ChangeLoadPlan& plan,
                                                  const util::Interrupt& interrupt) {
    if (util::has_nul(path)) return make_err("Failed to open " + path + ": " + util::kNulInPathText);
    auto file = fc::FileSource::open(path, fc::FileSource::default_buffer_size);
    if (!file.ok()) return make_err("Failed to open " + path + ": " + util::os_error_text(file.error().os_error));
    return load(std::make_unique<fc::FileSource>(std::move(file).value()), plan, interrupt);
}

Result<FstTrace, std::string> FstTrace::from_bytes(std::vector<uint8_t> bytes, const ChangeLoadPlan& plan) {
    return load(std::make_unique<fc::VectorSource>(std::move(bytes)), plan);
}

}  // namespace quor_core::trace
