#include "formats/vcd/vcd.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "parallel/pool.hpp"
#include "bytes/gzip_stream.hpp"
#include "trace/pool_parallel.hpp"
#include "parallel/stretch_schedule.hpp"
#include "formats/vcd/vcd_samples.hpp"
#include "util/huge_pages.hpp"
#include "util/os_error.hpp"
#include "util/polled_read.hpp"

namespace quor_core::trace {

using signal::SignalValue;

namespace {

bool all_ascii(std::string_view s) {
    size_t i = 0;
    uint64_t acc = 0;
#if defined(__SSE2__)
    __m128i wide = _mm_setzero_si128();
    for (; i + 64 <= s.size(); i += 64) {
        const auto* p = reinterpret_cast<const __m128i*>(s.data() + i);
        const __m128i a = _mm_or_si128(_mm_loadu_si128(p), _mm_loadu_si128(p + 1));
        const __m128i b = _mm_or_si128(_mm_loadu_si128(p + 2), _mm_loadu_si128(p + 3));
        wide = _mm_or_si128(wide, _mm_or_si128(a, b));
    }
    if (_mm_movemask_epi8(wide) != 0) return false;
#endif
    for (; i + 8 <= s.size(); i += 8) {
        uint64_t w = 0;
        std::memcpy(&w, s.data() + i, 8);
        acc |= w;
    }
    for (; i < s.size(); ++i) acc |= static_cast<unsigned char>(s[i]);
    return (acc & 0x8080808080808080ULL) == 0;
}

// Closes a file descriptor when it goes out of scope.
struct FdGuard {
    int fd;
    ~FdGuard() { ::close(fd); }
};

}  // namespace

// Reads VCD text into a VcdTrace. It never rejects input: whatever it does not recognise is
// skipped. In parallel mode the declarations are read in order up to the first timestamp, and
// each later block of lines is cut into stretches read at the same time on the worker pool; a
// declaration among the value changes (rare, but legal) makes the caller read the text again in
// order.
class VcdLoader {
public:
    VcdLoader(bool in_parallel, VcdPieces pieces, const util::Interrupt& interrupt)
        : in_parallel_(in_parallel), pieces_(pieces), interrupt_(interrupt), parallel_(pool_parallel_for(interrupt)) {
        if (in_parallel_) return;
        readers_.emplace_back(header_.codes(), header_.widths(), &header_);
        if (pieces_.baseline_only) readers_.back().read_baseline_only();
        order_.push_back({0, 0});
    }
    VcdLoader(const VcdLoader&) = delete;
    VcdLoader& operator=(const VcdLoader&) = delete;

    void expect_bytes(uint64_t bytes) {
        if (!in_parallel_) return readers_.front().expect_bytes(bytes);
        // The change log takes about a third of the text's size; half leaves room to spare.
        shared_blocks_->expect_bytes(static_cast<size_t>(std::min<uint64_t>(bytes / 2, SIZE_MAX)));
    }

    // Feeds a block of whole lines (the last one may lack its line feed only at the end of input).
    // alongside(0) .. alongside(alongside_count - 1), when given, run on workers while the lines
    // are read (the slices of the next block's file read).
    void feed_lines(std::string_view lines, size_t alongside_count = 0,
                    const std::function<void(size_t)>& alongside = {}) {
        const auto run_alongside = [&] {
            for (size_t k = 0; k < alongside_count; ++k) alongside(k);
        };
        interrupt_.check();
        note_timescale(lines);
        if (!in_parallel_) {
            feed_in_steps(lines);
            return run_alongside();
        }
        if (too_deep()) return run_alongside();
        if (!in_samples_) {
            const size_t first_time = header_.read_until_first_time(lines, false);
            if (first_time == lines.size() || too_deep()) return run_alongside();
            in_samples_ = true;
            lines.remove_prefix(first_time);
        }
        const std::vector<std::string_view> pieces = cut_at_lines(lines);
        const size_t workers = std::max<size_t>(1, eval::WorkerPool::instance().size());
        const size_t min_steal =
            std::max(pieces_.min_steal_bytes, size_t{header_.id_count()} * pieces_.steal_bytes_per_signal);
        StretchSchedule schedule(lines, pieces, pieces_.step_bytes, min_steal, 4 * workers);
        // Reader k reads stretch k of every block (of those stealing makes too), each as a part
        // of its own: the readers, and the change-log chains each keeps per signal, do not grow
        // in number with the text. They are made before the workers start.
        while (readers_.size() < pieces.size() + 4 * workers) {
            readers_.emplace_back(header_.codes(), header_.widths(), nullptr, shared_blocks_);
            if (pieces_.baseline_only) readers_.back().read_baseline_only();
        }
        const auto prepare = [&](size_t k, size_t bytes) {
            readers_[k].begin_part();
            readers_[k].expect_timestamps(bytes);
            readers_[k].expect_ids(header_.id_count(), pieces_.staging_signals);
        };
        for (size_t k = 0; k < pieces.size(); ++k) prepare(k, pieces[k].size());
        const auto read = [&](size_t k, std::string_view text) {
            interrupt_.check();
            readers_[k].feed(text, all_ascii(text));
        };
        // A thread with nothing left of its own reads the tails of others.
        const auto read_others = [&] {
            while (const auto stolen = schedule.steal()) {
                prepare(stolen->index, stolen->bytes);
                schedule.read_stretch(stolen->index, read);
            }
        };
        parallel_(pieces.size() + alongside_count, [&](size_t k) {
            if (k < pieces.size()) {
                schedule.read_stretch(k, read);
            } else {
                alongside(k - pieces.size());
            }
            read_others();
        });
        for (const size_t k : schedule.in_text_order()) order_.push_back({k, readers_[k].part_count() - 1});
    }

    // How much to read for the next block, given the usual size.
    size_t block_bytes(size_t usual) const {
        if (!in_samples_) return usual;
        constexpr size_t kMost = size_t{256} << 20;
        return std::max(usual, std::min(kMost, size_t{header_.id_count()} * pieces_.block_bytes_per_signal));
    }

    // Whether the names of the hierarchy grew past their budget: the load fails.
    bool too_deep() const { return header_.too_deep(); }

    bool needs_reading_in_order() const {
        return std::any_of(readers_.begin(), readers_.end(), [](const VcdSampleParser& p) { return p.saw_declaration(); });
    }

    // Memory the loader no longer needs (the read buffers), reused for the columns' arrays.
    void donate(std::unique_ptr<util::HugeBuffer<std::byte>> buffer) { arena_->adopt(std::move(buffer)); }

    Result<VcdTrace, std::string> finish() && {
        if (too_deep()) return make_err(header_.too_deep_message());
        VcdTrace trace;
        size_t samples = 0;
        for (const Place& place : order_) samples += readers_[place.reader].part_timestamps(place.part).size();
        // The timestamps go to the columns' arena too: its first slabs are pages already touched.
        auto* times = samples ? static_cast<uint64_t*>(arena_->allocate(samples * sizeof(uint64_t))) : nullptr;
        size_t filled = 0;
        std::vector<signal::ColumnBuilder::SegmentPlace> segments;
        for (const Place& place : order_) {
            // A part's changes before its first timestamp belong to the sample before it
            // (moving by -1 wraps; a part with no samples before it records none at 0).
            segments.push_back({static_cast<uint32_t>(place.reader), filled - 1});
            const std::span<const uint64_t> part_times = readers_[place.reader].part_timestamps(place.part);
            std::copy(part_times.begin(), part_times.end(), times + filled);
            filled += part_times.size();
        }
        std::vector<signal::ColumnBuilder> builders;
        for (VcdSampleParser& reader : readers_) builders.push_back(std::move(reader.builder()));
        readers_.clear();
        shared_blocks_.reset();  // the builders hold it until they are frozen
        trace.timestamps_ = std::span<const uint64_t>(times, samples);
        trace.timestamps_memory_ = arena_;
        trace.store_ = signal::ColumnBuilder::freeze_segments(builders, segments, samples, parallel_, std::move(arena_));
        trace.vars_ = std::move(header_.vars);
        trace.signal_names_ = std::move(header_.signal_names);
        trace.scopes_ = header_.take_scopes();
        trace.timescale_ = timescale_;
        return trace;
    }

private:
    // Looks for the timescale in the blocks of the declarations, until it or their end is found.
    void note_timescale(std::string_view lines) {
        if (declarations_done_ || in_samples_) return;
        const size_t end = lines.find("$enddefinitions");
        timescale_ = find_vcd_timescale(lines.substr(0, end));
        declarations_done_ = timescale_.has_value() || end != std::string_view::npos;
    }

    // Reads lines in order, a step of whole lines at a time, asking the interrupt between steps.
    void feed_in_steps(std::string_view lines) {
        while (!lines.empty()) {
            size_t stop = lines.size();
            if (lines.size() > pieces_.step_bytes) {
                const size_t nl = lines.find('\n', pieces_.step_bytes);
                if (nl != std::string_view::npos) stop = nl + 1;
            }
            const std::string_view step = lines.substr(0, stop);
            readers_.front().feed(step, all_ascii(step));
            lines.remove_prefix(stop);
            if (!lines.empty()) interrupt_.check();
        }
    }

    // Cuts lines into stretches of whole lines: one per worker (each stretch costs some memory
    // in partly filled chunks, so fewer, longer stretches are better) unless
    // told otherwise, none much shorter than the minimum.
    std::vector<std::string_view> cut_at_lines(std::string_view lines) const {
        const size_t workers = eval::WorkerPool::instance().size();
        const size_t wanted = pieces_.max_count ? pieces_.max_count : std::max<size_t>(1, workers);
        const size_t count = std::max<size_t>(1, std::min(wanted, lines.size() / std::max<size_t>(1, pieces_.min_bytes)));
        std::vector<std::string_view> pieces;
        size_t start = 0;
        for (size_t k = 1; k <= count && start < lines.size(); ++k) {
            size_t stop = lines.size();
            if (k < count) {
                const size_t nl = lines.find('\n', std::max(start, lines.size() / count * k));
                stop = nl == std::string_view::npos ? lines.size() : nl + 1;
            }
            pieces.push_back(lines.substr(start, stop - start));
            start = stop;
        }
        return pieces;
    }

    bool in_parallel_;
    VcdPieces pieces_;
    const util::Interrupt& interrupt_;
    signal::ParallelFor parallel_;
    bool in_samples_ = false;
    bool declarations_done_ = false;
    std::optional<Timescale> timescale_;
    VcdHeader header_;
    std::vector<VcdSampleParser> readers_;
    // The parts read, in text order: part `part` of reader `reader`.
    struct Place {
        size_t reader;
        size_t part;
    };
    std::vector<Place> order_;
    std::shared_ptr<signal::ColumnBuilder::SharedBlocks> shared_blocks_ = std::make_shared<signal::ColumnBuilder::SharedBlocks>();
    std::shared_ptr<util::Arena> arena_ = std::make_shared<util::Arena>();
};

namespace {

// Reads from fd at offset into buf until it is full or the file ends; returns the bytes read. A
// read error ends the file: what was read before it is kept. Reading at an offset lets slices
// of the file be read at the same time.
size_t read_fully(int fd, uint64_t offset, char* buf, size_t size) {
    size_t filled = 0;
    while (filled < size) {
        const ssize_t got = ::pread(fd, buf + filled, size - filled, static_cast<off_t>(offset + filled));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        filled += static_cast<size_t>(got);
    }
    return filled;
}

// Reads what a pipe or device delivers until it ends (or fails: what came before is kept), after
// the bytes already read from it.
std::string read_stream(int fd, std::string_view prefix, const util::Interrupt& interrupt) {
    constexpr size_t kChunk = size_t{1} << 20;
    std::string text(prefix);
    for (;;) {
        const size_t old = text.size();
        text.resize(old + kChunk);
        const ssize_t got = util::read_when_ready(fd, text.data() + old, kChunk, interrupt);
        text.resize(old + static_cast<size_t>(std::max<ssize_t>(got, 0)));
        if (got <= 0) return text;
    }
}

constexpr size_t kFirstRead = size_t{1} << 20;
// A block read alongside the lines of the one before is read in this many slices at once: the
// copy into fresh pages is slow enough that one worker reading a whole block would leave the
// others idle.
constexpr size_t kReadSlices = 4;

// Feeds a regular file, of size bytes as stated (0: unknown), to loader in blocks of whole lines.
// While the workers read the lines of one block, the next is read from the file: into the same
// buffer after them when the rest of the file fits there (any file of up to one buffer), else
// into a second buffer, the two taking turns.
void feed_file(int fd, uint64_t size, size_t block_bytes, VcdLoader& loader) {
    // feed_lines asks the loader's interrupt before each block.
    loader.expect_bytes(size);
    // Blocks of a few megabytes keep the workers busy between reads and the buffers small. A
    // file smaller than that is read into a buffer of its own size: fresh pages are costly here,
    // and untouched ones of a larger buffer could still be zeroed as a huge page. Where the size
    // is unknown (a file that states none), blocks start at a megabyte.
    const size_t most = std::max(block_bytes, size_t{1} << 12);
    const size_t least = std::min(most, size > 0 ? size_t{1} << 12 : size_t{1} << 20);
    const auto capacity = static_cast<size_t>(std::clamp<uint64_t>(size + 1, least, most));
    auto current = std::make_unique<util::HugeBuffer<std::byte>>(capacity);
    std::unique_ptr<util::HugeBuffer<std::byte>> next;  // made when first needed
    // Once the whole file is read, the buffers hold the columns' arrays.
    const auto finished = [&] {
        loader.donate(std::move(current));
        loader.donate(std::move(next));
    };
    uint64_t offset = 0;  // where the next read starts
    const auto read_next = [&](std::byte* into, size_t bytes) {
        const size_t got = read_fully(fd, offset, reinterpret_cast<char*>(into), bytes);
        offset += got;
        return got;
    };
    // The first read is short, so the workers start on its lines while the next block is read.
    const size_t first_read = std::min(current->size(), kFirstRead);
    size_t begin = 0;  // current[begin, filled) holds the lines not yet fed
    size_t filled = read_next(current->data(), first_read);
    bool at_end = filled < first_read;
    for (;;) {
        const std::string_view data(reinterpret_cast<char*>(current->data()) + begin, filled - begin);
        const size_t last_nl = data.rfind('\n');
        if (last_nl == std::string_view::npos || (at_end && last_nl + 1 == data.size())) {
            if (at_end) {  // the last lines; the very last may lack its line feed
                if (!data.empty()) loader.feed_lines(data);
                return finished();
            }
            // A line longer than what was read: make room if the buffer is full, and read on.
            if (filled == current->size()) {
                auto bigger = std::make_unique<util::HugeBuffer<std::byte>>(current->size() * 2);
                std::memcpy(bigger->data(), data.data(), data.size());
                current = std::move(bigger);
                next.reset();
                filled = data.size();
                begin = 0;
            }
            const size_t want = current->size() - filled;
            const size_t got = read_next(current->data() + filled, want);
            at_end = got < want;
            filled += got;
            continue;
        }
        const size_t lines_end = begin + last_nl + 1;
        const size_t carried = filled - lines_end;  // an unfinished line, read on with the next block
        // The rest of the file, as stated, fits after the lines being fed: read it there.
        const bool in_place = offset <= size && size - offset < current->size() - filled;
        const size_t wanted = std::max(current->size(), loader.block_bytes(most));
        if (!in_place && (!next || next->size() < wanted)) {
            if (next) loader.donate(std::move(next));  // its pages are touched: the columns take them
            next = std::make_unique<util::HugeBuffer<std::byte>>(wanted);
        }
        std::byte* const target = in_place ? current->data() + filled : next->data() + carried;
        if (!in_place) std::memcpy(next->data(), current->data() + lines_end, carried);
        const size_t want = at_end ? 0 : in_place ? current->size() - filled : next->size() - carried;
        const size_t slices = kReadSlices;
        std::array<size_t, kReadSlices> got{};
        const auto slice_start = [&](size_t k) { return want * k / slices; };
        loader.feed_lines(data.substr(0, last_nl + 1), want > 0 ? slices : 0, [&](size_t k) {
            got[k] = read_fully(fd, offset + slice_start(k), reinterpret_cast<char*>(target + slice_start(k)),
                                slice_start(k + 1) - slice_start(k));
        });
        // The bytes read run up to the first short slice (short only where the file ends).
        size_t read = 0;
        for (size_t k = 0; k < slices && want > 0; ++k) {
            read += got[k];
            if (got[k] < slice_start(k + 1) - slice_start(k)) break;
        }
        offset += read;
        at_end = at_end || read < want;
        if (in_place) {
            begin = lines_end;
            filled += read;
        } else {
            std::swap(current, next);
            begin = 0;
            filled = carried + read;
        }
        if ((at_end && filled == begin) || loader.too_deep()) return finished();
    }
}

// Feeds the text that a gzip stream inflates to loader in blocks of whole lines: the next block
// is inflated on a worker while the lines of one are read. The two buffers taking turns are all
// the text held at once. Gives what is wrong with the compressed data, if anything.
std::optional<std::string> feed_gzip(GzipStream& in, size_t block_bytes, VcdLoader& loader) {
    const size_t most = std::max(block_bytes, size_t{1} << 12);
    // The first block is short, so the workers start early.
    auto current = std::make_unique<util::HugeBuffer<std::byte>>(std::min(most, kFirstRead));
    std::unique_ptr<util::HugeBuffer<std::byte>> next;
    const auto finished = [&] {
        loader.donate(std::move(current));
        loader.donate(std::move(next));
    };
    std::optional<std::string> failure;
    // Inflates into buf[from, buf.size()); false when the data ended there or failed.
    const auto inflate_into = [&](util::HugeBuffer<std::byte>& buf, size_t from, size_t& filled) {
        auto got = in.read(reinterpret_cast<char*>(buf.data()) + from, buf.size() - from);
        if (!got.ok()) {
            failure = std::move(got).error();
            filled = from;
            return false;
        }
        filled = from + got.value();
        return filled == buf.size();
    };
    size_t filled = 0;
    bool more = inflate_into(*current, 0, filled);
    for (;;) {
        if (failure) return failure;
        const std::string_view data(reinterpret_cast<char*>(current->data()), filled);
        if (!more) {  // the last lines; the very last may lack its line feed
            if (!data.empty()) loader.feed_lines(data);
            finished();
            return std::nullopt;
        }
        const size_t last_nl = data.rfind('\n');
        if (last_nl == std::string_view::npos) {  // a line longer than the buffer: make room
            auto bigger = std::make_unique<util::HugeBuffer<std::byte>>(current->size() * 2);
            std::memcpy(bigger->data(), current->data(), filled);
            current = std::move(bigger);
            more = inflate_into(*current, filled, filled);
            continue;
        }
        const size_t carried = filled - (last_nl + 1);  // an unfinished line, read on with the next block
        const size_t wanted = std::max({current->size(), loader.block_bytes(most), 2 * carried});
        if (!next || next->size() < wanted) {
            if (next) loader.donate(std::move(next));
            next = std::make_unique<util::HugeBuffer<std::byte>>(wanted);
        }
        std::memcpy(next->data(), current->data() + last_nl + 1, carried);
        size_t next_filled = carried;
        bool next_more = false;
        loader.feed_lines(data.substr(0, last_nl + 1), 1,
                          [&](size_t) { next_more = inflate_into(*next, carried, next_filled); });
        std::swap(current, next);
        filled = next_filled;
        more = next_more;
        if (loader.too_deep()) {  // the load fails: inflating the rest would be wasted
            finished();
            return std::nullopt;
        }
    }
}

// Reads what a pipe or device delivers, inflated: the whole text, as for plain VCD.
Result<std::string, std::string> read_gzip_stream(int fd, std::string_view prefix, const util::Interrupt& interrupt) {
    GzipStream in(fd, prefix, interrupt);
    constexpr size_t kChunk = size_t{1} << 20;
    std::string text;
    for (;;) {
        const size_t old = text.size();
        text.resize(old + kChunk);
        auto got = in.read(text.data() + old, kChunk);
        if (!got.ok()) return make_err(std::move(got).error());
        text.resize(old + got.value());
        if (got.value() < kChunk) return text;
    }
}

// Reads up to n bytes from the start of a pipe or device (fewer only where it ends).
std::string read_head(int fd, size_t n, const util::Interrupt& interrupt) {
    std::string head(n, '\0');
    size_t filled = 0;
    while (filled < n) {
        const ssize_t got = util::read_when_ready(fd, head.data() + filled, n - filled, interrupt);
        if (got <= 0) break;
        filled += static_cast<size_t>(got);
    }
    head.resize(filled);
    return head;
}

// The whole text of a pipe or device, inflated when it starts as gzip data.
Result<std::string, std::string> stream_text(int fd, const std::string& path, const util::Interrupt& interrupt) {
    const std::string head = read_head(fd, 2, interrupt);
    if (!starts_as_gzip(head)) return read_stream(fd, head, interrupt);
    auto text = read_gzip_stream(fd, head, interrupt);
    if (!text.ok()) return make_err("Failed to read " + path + ": " + text.error());
    return text;
}

}  // namespace

Result<VcdTrace, std::string> VcdTrace::parse(std::string_view text, VcdPieces pieces,
                                              const util::Interrupt& interrupt) {
    {
        VcdLoader loader(true, pieces, interrupt);
        loader.expect_bytes(text.size());
        loader.feed_lines(text);
        if (loader.too_deep() || !loader.needs_reading_in_order()) return std::move(loader).finish();
    }
    return parse_in_order(text, pieces, interrupt);
}

Result<VcdTrace, std::string> VcdTrace::parse_in_order(std::string_view text, VcdPieces pieces,
                                                       const util::Interrupt& interrupt) {
    VcdLoader loader(false, pieces, interrupt);
    loader.feed_lines(text);
    return std::move(loader).finish();
}

Result<VcdTrace, std::string> VcdTrace::from_file(const std::string& path, VcdPieces pieces,
                                                  const util::Interrupt& interrupt) {
    // Starts the workers (on first use) while the file is opened and its first block read.
    eval::WorkerPool::instance();
    const auto failed = [&](const std::string& why) { return make_err("Failed to open " + path + ": " + why); };
    if (util::has_nul(path)) return failed(util::kNulInPathText);
    const int fd = util::open_for_reading(path);
    if (fd < 0) return failed(util::os_error_text(errno));
    FdGuard guard{fd};
    struct stat st {};
    const bool stated = ::fstat(fd, &st) == 0;
    if (stated && S_ISDIR(st.st_mode)) return failed(util::os_error_text(EISDIR));
    // A pipe or device can be read only once, and the text may have to be read twice (in order,
    // after a declaration among the value changes): it is read into memory first.
    if (!stated || !S_ISREG(st.st_mode)) {
        auto text = stream_text(fd, path, interrupt);
        if (!text.ok()) return make_err(std::move(text).error());
        return parse(text.value(), pieces, interrupt);
    }
    char head[2] = {};
    if (read_fully(fd, 0, head, sizeof head) == sizeof head && starts_as_gzip(std::string_view(head, 2))) {
        return from_gzip_file(path, fd, pieces, interrupt);
    }
    const uint64_t size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    {
        VcdLoader loader(true, pieces, interrupt);
        feed_file(fd, size, pieces.block_bytes, loader);
        if (loader.too_deep() || !loader.needs_reading_in_order()) return std::move(loader).finish();
    }
    VcdLoader loader(false, pieces, interrupt);
    feed_file(fd, size, pieces.block_bytes, loader);
    return std::move(loader).finish();
}

Result<std::string, std::string> VcdTrace::read_stream_text(const std::string& path, const util::Interrupt& interrupt) {
    const auto failed = [&](const std::string& why) { return make_err("Failed to open " + path + ": " + why); };
    if (util::has_nul(path)) return failed(util::kNulInPathText);
    const int fd = util::open_for_reading(path);
    if (fd < 0) return failed(util::os_error_text(errno));
    FdGuard guard{fd};
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) return failed(util::os_error_text(EISDIR));
    return stream_text(fd, path, interrupt);
}

Result<VcdTrace, std::string> VcdTrace::from_gzip_file(const std::string& path, int fd, VcdPieces pieces,
                                                       const util::Interrupt& interrupt) {
    const auto failed = [&](const std::string& why) { return make_err("Failed to read " + path + ": " + why); };
    const auto read_from_start = [&](VcdLoader& loader) -> std::optional<std::string> {
        if (::lseek(fd, 0, SEEK_SET) != 0) return util::os_error_text(errno);
        GzipStream in(fd, {}, interrupt);
        return feed_gzip(in, pieces.block_bytes, loader);
    };
    {
        VcdLoader loader(true, pieces, interrupt);
        if (auto why = read_from_start(loader)) return failed(*why);
        if (loader.too_deep() || !loader.needs_reading_in_order()) return std::move(loader).finish();
    }
    // A declaration among the value changes: the text is inflated and read again, in order.
    VcdLoader loader(false, pieces, interrupt);
    if (auto why = read_from_start(loader)) return failed(*why);
    return std::move(loader).finish();
}

const VcdVar* VcdTrace::var(std::string_view name) const {
    const auto it = vars_.find(name);
    return it == vars_.end() ? nullptr : &it->second;
}

SignalValue VcdTrace::signal_value(std::string_view name, uint64_t index) const {
    const VcdVar* v = var(name);
    return v ? store_.get(v->id, index) : SignalValue::unknown();
}

uint32_t VcdTrace::signal_width(std::string_view name) const {
    const VcdVar* v = var(name);
    return v ? v->width : 0;
}

std::optional<uint32_t> VcdTrace::signal_id(std::string_view name) const {
    const VcdVar* v = var(name);
    if (!v) return std::nullopt;
    return v->id;
}

std::vector<SignalValue> VcdTrace::signal_values_range(std::string_view name, uint64_t start,
                                                       uint64_t end) const {
    const VcdVar* v = var(name);
    if (v) return store_.get_range(v->id, start, end);
    return std::vector<SignalValue>(end > start ? end - start : 0);
}

}  // namespace quor_core::trace
