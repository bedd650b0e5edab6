#include "platform/path_text.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <vector>

namespace qor::platform {

namespace {

std::string home_folder() {
  const char* home = std::getenv("HOME");
  if (home && *home == '/') return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
    return found->pw_dir;
  return std::string();
}

std::string absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char cwd[4096];
  return getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + path : path;
}

std::string without_trailing_slashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Read at every use, so that a process (or a test) may set it at any time.
std::string drive_root() {
  const char* root = std::getenv("QOR_DRIVE_ROOT");
  if (root && *root) return without_trailing_slashes(absolute(root));
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && *data == '/') return without_trailing_slashes(data) + "/qor/drives";
  std::string home = home_folder();
  if (!home.empty()) return without_trailing_slashes(home) + "/.local/share/qor/drives";
  return "/tmp/qor-drives-" + std::to_string(getuid());
}

void make_folders(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return;
  for (std::size_t cut = path.find('/', 1); ; cut = path.find('/', cut + 1)) {
    mkdir(path.substr(0, cut).c_str(), 0777);
    if (cut == std::string::npos) break;
  }
}

// Joins the components of `rest` (separated by "/") below `base` the way
// Windows makes a full path: "." is dropped and ".." never climbs above
// `keep` leading components of the result. A trailing separator is kept.
std::string join_clamped(const std::string& base, const std::string& rest, std::size_t keep) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = rest.find('/', start);
    if (end == std::string::npos) end = rest.size();
    std::string part = rest.substr(start, end - start);
    if (part == "..") {
      if (parts.size() > keep) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string path = base;
  for (const auto& part : parts) path += "/" + part;
  if (!rest.empty() && rest.back() == '/' && !parts.empty()) path += "/";
  return path;
}

bool is_separator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::string native_path(const std::string& text) {
  std::string path = text;
  for (char& c : path)
    if (c == '\\') c = '/';
  if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
    std::string drive = drive_root() + "/" + static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
    make_folders(drive);
    return join_clamped(drive, path.substr(2), 0);
  }
  if (text.size() >= 2 && text[0] == '\\' && is_separator(text[1])) {
    // \\SERVER\SHARE\...: ".." stops at the share, as on Windows.
    return join_clamped(drive_root() + "/unc", path.substr(2), 2);
  }
  if (!text.empty() && text[0] == '\\') {
    std::string drive = drive_root() + "/c";
    make_folders(drive);
    return join_clamped(drive, path, 0);
  }
  return path;
}

std::string path_text(const std::string& native) {
  std::string root = drive_root() + "/";
  std::string text;
  if (native.compare(0, root.size(), root) == 0) {
    std::string rest = native.substr(root.size());
    if (rest.compare(0, 4, "unc/") == 0) {
      text = "\\\\" + rest.substr(4);
    } else if (!rest.empty() && std::islower(static_cast<unsigned char>(rest[0])) && (rest.size() == 1 || rest[1] == '/')) {
      text = std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0])))) + ":\\" +
             (rest.size() > 2 ? rest.substr(2) : std::string());
    }
  }
  if (text.empty()) {
    if (!native.empty() && native[0] == '/') return native;
    text = native;
  }
  for (char& c : text)
    if (c == '/') c = '\\';
  return text;
}

}  // namespace qor::platform
