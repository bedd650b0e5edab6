#include "platform/profile.h"

#include <windows.h>

#include "platform/path_text.h"

namespace qor::platform {

namespace {

bool has_blank_only(const std::string& text) {
  return text.find_first_not_of(" \t\v\f") == std::string::npos;
}

// The same rule as the native writer: texts that Win32 would write but not
// read back as they are (a line break in a value would even add lines of
// its own to the file) are refused before the file is touched.
bool writable(const std::string& section, const std::string& key, const std::string& value) {
  for (const std::string* text : {&section, &key, &value})
    if (text->find_first_of(std::string("\r\n\0", 3)) != std::string::npos) return false;
  if (has_blank_only(section) || has_blank_only(key)) return false;
  std::size_t first = key.find_first_not_of(" \t\v\f");
  return key.find('=') == std::string::npos && key[first] != '[';
}

}  // namespace

std::uint32_t read_profile_string(const std::string& file, const std::string& section, const std::string& key,
                                  const std::string& default_value, char* buffer, std::uint32_t size) {
  if (!buffer || size == 0) return 0;
  return GetPrivateProfileStringA(section.c_str(), key.c_str(), default_value.c_str(), buffer, size,
                                  native_path(file).c_str());
}

std::int32_t read_profile_int(const std::string& file, const std::string& section, const std::string& key,
                              std::int32_t default_value) {
  return static_cast<std::int32_t>(
      GetPrivateProfileIntA(section.c_str(), key.c_str(), default_value, native_path(file).c_str()));
}

bool write_profile_string(const std::string& file, const std::string& section, const std::string& key,
                          const std::string& value) {
  if (!writable(section, key, value) || file.empty()) return false;
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), native_path(file).c_str()) != FALSE;
}

}  // namespace qor::platform
