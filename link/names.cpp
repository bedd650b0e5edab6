#include "link/names.h"

#include <cctype>

namespace qor::link {

bool equals_ignoring_case(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

bool is_legacy_instance(const std::string& instance) {
  return equals_ignoring_case(instance, "qornet") || equals_ignoring_case(instance, "rivo63");
}

std::string answer_pipe_name(const std::string& instance) {
  return is_legacy_instance(instance) ? "QORNet" : instance;
}

std::string server_window_title(const std::string& instance) {
  return is_legacy_instance(instance) ? "Rivo63" : instance;
}

std::string qualified_pipe_name(const std::string& instance, const std::string& pipe) {
  return is_legacy_instance(instance) ? pipe : instance + "_" + pipe;
}

std::string pipe_path(const std::string& machine, const std::string& name) {
  return "\\\\" + machine + "\\PIPE\\" + name;
}

std::string server_pipe_path(const std::string& name) { return pipe_path(".", name); }

}  // namespace qor::link
