#pragma once
// Operating-system error texts in the form "<description> (os error <number>)".

#include <string>

namespace quor_core::util {

std::string os_error_text(int err);


}  // namespace quor_core::util
