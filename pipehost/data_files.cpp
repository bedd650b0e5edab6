#include "pipehost/data_files.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/path_text.h"

namespace qor::pipehost {

std::string resolve_data_path(const std::string& path, const std::string& default_path) {
  if (path.find(':') != std::string::npos || path.find('\\') != std::string::npos) return path;
  if (default_path.empty() || default_path.back() == '\\') return default_path + path;
  return default_path + "\\" + path;
}

void create_directory_chain(const std::string& path) {
  std::size_t last = path.rfind('\\');
  if (last == std::string::npos) return;
  std::string folders = path.substr(0, last);
  std::string built;
  std::size_t at = 0;
  std::size_t colon = folders.find(':');
  if (colon != std::string::npos) {
    built = folders.substr(0, colon + 1);
    at = colon + 1;
    if (at < folders.size() && folders[at] == '\\') {
      built += '\\';
      ++at;
    }
  }
  bool first = true;
  while (at <= folders.size()) {
    std::size_t end = folders.find('\\', at);
    if (end == std::string::npos) end = folders.size();
    std::string component = folders.substr(at, end - at);
    if (!first && !built.empty() && built.back() != '\\') built += '\\';
    built += component;
    first = false;
    if (!component.empty()) {
      std::error_code ignored;
      std::filesystem::create_directory(platform::native_path(built), ignored);
    }
    at = end + 1;
  }
}

bool file_exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(platform::native_path(path), ignored);
}

bool append_text(const std::string& path, const std::string& text) {
  // Binary mode and our own CR LF, so that both targets store the same bytes.
  std::FILE* file = std::fopen(platform::native_path(path).c_str(), "ab");
  if (!file) return false;
  std::string stored;
  stored.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\n') stored += '\r';
    stored += c;
  }
  bool written = std::fwrite(stored.data(), 1, stored.size(), file) == stored.size();
  return std::fclose(file) == 0 && written;
}

std::string data_file_line(bool terminal_header, bool type_header, int terminal, const std::string& type,
                           const std::string& data) {
  std::string line;
  if (terminal_header) {
    char code[16];
    std::snprintf(code, sizeof code, "%03d|", terminal);
    line += code;
  }
  if (type_header) line += type + "|";
  return line + data + "\n";
}

}  // namespace qor::pipehost
