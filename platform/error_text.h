// The one place where an errno value becomes words.
#pragma once

#include <string>

namespace platform {

// A short description of the error, such as "No space left on device".
std::string ErrorText(int err);

}  // namespace platform
