#pragma once
// Pipe path text, read the same way by both back ends.
#include <optional>
#include <string>

namespace qor::platform::detail {

// "\\machine\PIPE\name" taken apart.
struct PipePath {
  std::string machine;
  std::string name;
};

// Nothing when `path` is not "\\machine\PIPE\name" ("PIPE" in any case)
// with a machine and a name that are not empty and hold no backslash and no
// NUL byte.
std::optional<PipePath> parse_pipe_path(const std::string& path);

}  // namespace qor::platform::detail
