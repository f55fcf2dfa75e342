#pragma once
// Loading the value changes of an opened FST file into columns.
//
// Blocks are read from the file in order, a batch at a time. The signals are split into groups
// of neighbouring indices, and the groups are decoded side by side on the worker pool, each
// block after block, so every signal's changes arrive in file order. A signal's changes, in
// ascending index order as they are in any well-formed file, stream straight into its column;
// when some signal's are not, the file is decoded again into one ColumnBuilder per group, which
// sorts. Either way the columns hold the values one ColumnBuilder fed with all changes in turn
// would hold.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "fst_container/reader.hpp"
#include "signal/column_builder.hpp"
#include "formats/fst/fst_samples.hpp"
#include "util/result.hpp"

namespace quor_core::trace {

// Signal id of each FST signal index, or this for a signal no variable names.
inline constexpr uint32_t kNoSignalId = UINT32_MAX;

struct ChangeLoadPlan {
    // Signal groups decoded side by side; 0 chooses from the signal count and the pool size.
    size_t groups = 0;
    // Bytes of blocks read ahead of decoding (at least one block is always read).
    uint64_t batch_bytes = uint64_t{32} << 20;
    // false: go straight to the column builders.
    bool stream_columns = true;
    // Signal data a group takes at once (at least one signal's).
    uint64_t window_bytes = uint64_t{256} << 10;
    // Groups when the changes stream into columns, which keep no table per group (the limit on
    // groups is for the builders); 0: as groups.
    size_t stream_groups = 0;
};

// Serial work the calling thread does while the first blocks are decoded (reading the
// hierarchy, which gives the signal ids). It runs exactly once: beside the first batch's pieces
// through run_with, or on its own by finish() when no batch is decoded before the ids are needed.
class SideWork {
public:
    // Runs pieces and work together: run_sharing_after(pieces, piece, work) of the pool.
    using Runner = std::function<void(size_t pieces, const std::function<void(size_t)>& piece,
                                      const std::function<void()>& work)>;
    SideWork(std::function<void()> work, Runner runner) : work_(std::move(work)), runner_(std::move(runner)) {}

    bool pending() const { return pending_; }
    void run_with(size_t pieces, const std::function<void(size_t)>& piece) {
        pending_ = false;
        runner_(pieces, piece, work_);
    }
    void finish() {
        if (!pending_) return;
        pending_ = false;
        work_();
    }

private:
    std::function<void()> work_;
    Runner runner_;
    bool pending_ = true;
};

// Decodes every change of every signal from time 0 to the header's end time and freezes them
// over the samples (of the time table collected while opening). Work runs through parallel.
// id_of_signal is read only after side_work (when given) has finished, so the work may fill it.
Result<signal::ColumnStore, fst_container::ReaderError> load_fst_changes(
    fst_container::FstReader& reader, std::span<const uint32_t> id_of_signal, const FstSamples& samples,
    const signal::ParallelFor& parallel, const ChangeLoadPlan& plan, SideWork* side_work = nullptr);

// The number of groups used when the plan leaves it open: a few per worker, so uneven groups
// still spread, but fewer when many signals would make the builders' per-signal tables large.
size_t default_group_count(size_t signals, size_t workers);

}  // namespace quor_core::trace
