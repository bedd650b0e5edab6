#include "platform/common/pipe_path.h"

namespace qor::platform::detail {

namespace {

bool is_pipe_word(const std::string& text, std::size_t at) {
  static const char word[] = "pipe";
  for (std::size_t i = 0; i < 4; ++i) {
    char c = text[at + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i]) return false;
  }
  return true;
}

}  // namespace

std::optional<PipePath> parse_pipe_path(const std::string& path) {
  if (path.size() < 2 || path[0] != '\\' || path[1] != '\\') return std::nullopt;
  auto machine_end = path.find('\\', 2);
  if (machine_end == std::string::npos || machine_end == 2) return std::nullopt;
  auto word_end = path.find('\\', machine_end + 1);
  if (word_end == std::string::npos || word_end - machine_end - 1 != 4 || !is_pipe_word(path, machine_end + 1))
    return std::nullopt;
  PipePath parts{path.substr(2, machine_end - 2), path.substr(word_end + 1)};
  if (parts.name.empty() || parts.name.find('\\') != std::string::npos) return std::nullopt;
  if (path.find('\0') != std::string::npos) return std::nullopt;
  return parts;
}

}  // namespace qor::platform::detail
