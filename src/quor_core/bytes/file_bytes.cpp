#include "bytes/file_bytes.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "util/os_error.hpp"
#include "util/polled_read.hpp"

namespace quor_core::trace {

namespace {

struct Fd {
    int fd;
    ~Fd() { ::close(fd); }
};

}  // namespace

Result<std::vector<uint8_t>, std::string> read_file_bytes(const std::string& path, const util::Interrupt& interrupt) {
    if (util::has_nul(path)) return make_err(std::string(util::kNulInPathText));
    const int fd = util::open_for_reading(path);
    if (fd < 0) return make_err(util::os_error_text(errno));
    const Fd guard{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) return make_err(util::os_error_text(errno));
    if (S_ISDIR(st.st_mode)) return make_err(util::os_error_text(EISDIR));
    constexpr size_t kChunk = size_t{1} << 20;
    std::vector<uint8_t> data;
    // The size is only a hint: the file is read until its end, whatever fstat said.
    if (S_ISREG(st.st_mode) && st.st_size > 0) data.reserve(static_cast<size_t>(st.st_size) + kChunk);

    for (;;) {
        const size_t old = data.size();
        data.resize(old + kChunk);
        const ssize_t got = util::read_when_ready(fd, data.data() + old, kChunk, interrupt);
        if (got < 0) {
            data.resize(old);
            return make_err(util::os_error_text(errno));
        }
        data.resize(old + static_cast<size_t>(got));
        if (got == 0) break;
    }
    return data;
}

Result<std::vector<uint8_t>, std::string> read_file_or_message(const std::string& path,
                                                               const util::Interrupt& interrupt) {
    auto r = read_file_bytes(path, interrupt);
    if (!r.ok()) return make_err("Failed to read " + path + ": " + r.error());
    return r;
}

}  // namespace quor_core::trace
