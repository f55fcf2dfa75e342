#include "signal/run_starts.hpp"

#include <algorithm>

namespace quor_core::signal {

void RunStarts::copy_words(uint64_t first_word, size_t count, uint64_t* out) const {
    std::fill(out, out + count, uint64_t{0});
    const uint64_t length = bits_.size();
    const uint64_t have = RankBits::word_count(length);
    if (first_word >= have) return;
    if (sorted_ == nullptr) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(count, have - first_word));
        std::copy(bits_.words() + first_word, bits_.words() + first_word + n, out);
        return;
    }
    const uint64_t begin = first_word * 64;
    const uint64_t end = begin + uint64_t{count} * 64;
    const size_t runs = sorted_[0];
    if (begin == 0) out[0] = 1;  // the first run
    size_t k = begin == 0 ? 1 : sorted_run_of(sorted_, begin - 1, sorted_guess(begin - 1)) + 1;
    for (; k < runs && sorted_[k] < end; ++k) {
        const uint64_t at = sorted_[k] - begin;
        out[at >> 6] |= uint64_t{1} << (at & 63);
    }
}

}  // namespace quor_core::signal
