#include "platform/path_text.h"

namespace qor::platform {

std::string native_path(const std::string& text) {
  std::string path = text;
  for (char& c : path)
    if (c == '/') c = '\\';
  if (!path.empty() && path.find_first_of("\\:") == std::string::npos) path = ".\\" + path;
  return path;
}

std::string path_text(const std::string& native) { return native; }

}  // namespace qor::platform
