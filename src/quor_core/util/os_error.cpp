#include "util/os_error.hpp"

#include <cstring>

namespace quor_core::util {

std::string os_error_text(int err) {
    char buf[256];
    // The GNU strerror_r returns a pointer to the text, which may or may not be buf.
    const char* text = strerror_r(err, buf, sizeof buf);
    return std::string(text) + " (os error " + std::to_string(err) + ")";
}

bool has_nul(const std::string& path) { return path.find('\0') != std::string::npos; }

}  // namespace quor_core::util
