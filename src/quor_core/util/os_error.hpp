#pragma once
// Operating-system error texts in the form "<description> (os error <number>)".

#include <string>

namespace quor_core::util {

std::string os_error_text(int err);

// A path with a NUL byte in it names no file: the system call would see only the part before
// it and open some other file. Openers refuse such a path with this text.
inline constexpr const char* kNulInPathText = "file name contained an unexpected NUL byte";
bool has_nul(const std::string& path);

}  // namespace quor_core::util
