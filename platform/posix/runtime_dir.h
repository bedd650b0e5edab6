#pragma once
// The native back end's shared runtime directory: every socket that stands in
// for a named pipe, a window or a thread queue lives below it, so that all
// users of the machine find each other.
#include <string>

namespace qor::platform::posix {

// $QOR_RUNTIME_DIR, or /tmp/qor when unset; created (mode 1777, like /tmp) on
// first use.
const std::string& runtime_dir();

// runtime_dir() + "/" + sub, created (mode 1777) when missing.
std::string runtime_subdir(const std::string& sub);

}  // namespace qor::platform::posix
