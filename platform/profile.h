#pragma once
// Profile (INI) files, read one key at a time with a default, exactly as the
// Win32 profile functions read them: section headers in square brackets,
// key=value lines, names compared without regard to case, blanks around
// names and values dropped, matching quotes around a value dropped, the
// first of duplicate sections and keys winning. docs/native-mapping.md
// ("Profile files") lists the rules.
//
// `file` is path text (see path_text.h): ".\link.ini" and "link.ini" are
// both in the current directory of the process, on both targets.
#include <cstdint>
#include <string>

namespace qor::platform {

// Copies the value of `key` in `section`, or `default_value` when the file,
// the section, the key or the key's value ("key" without "=") is missing,
// into `buffer`: at most size - 1 characters and a NUL. Returns the number
// of characters copied; a longer value is cut short without notice, as on
// Windows. Trailing spaces of the default are dropped. With size 0 (or no
// buffer) nothing is written and 0 is returned.
std::uint32_t read_profile_string(const std::string& file, const std::string& section, const std::string& key,
                                  const std::string& default_value, char* buffer, std::uint32_t size);

// The same read as text: what a buffer of `size` characters would hold.
inline std::string read_profile_string(const std::string& file, const std::string& section, const std::string& key,
                                       const std::string& default_value, std::uint32_t size) {
  std::string buffer(size, '\0');
  std::uint32_t n = size ? read_profile_string(file, section, key, default_value, &buffer[0], size) : 0;
  buffer.resize(n);
  return buffer;
}

// The integer value of `key`: `default_value` when the file, section or key
// is missing or the value is empty; otherwise the number the value starts
// with, as Windows reads it (an optional sign, decimal digits, or "0x" hex;
// modulo 2^32; 0 when it does not start with a number: "12abc" is 12, "abc"
// is 0).
std::int32_t read_profile_int(const std::string& file, const std::string& section, const std::string& key,
                              std::int32_t default_value);

// Sets `key` in `section` to `value`, creating the file, the section or the
// key as needed and leaving the rest of the file as it is. False when the
// file cannot be written (its folder is missing, no permission) and when the
// texts could not be read back as written: a NUL, CR or LF in any of them, a
// blank section or key, or a key that contains "=" or starts with "[". For
// tests and tools; the system itself only reads profile files.
bool write_profile_string(const std::string& file, const std::string& section, const std::string& key,
                          const std::string& value);

}  // namespace qor::platform
