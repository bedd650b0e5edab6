#include "platform/text.h"

#include <windows.h>

#include <climits>

namespace qor::platform {

unsigned ansi_code_page() { return GetACP(); }

std::u16string to_wide(const std::string& ansi) {
  if (ansi.empty() || ansi.size() > INT_MAX) return std::u16string();
  int length = static_cast<int>(ansi.size());
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
  if (n <= 0) return std::u16string();
  std::u16string wide(static_cast<std::size_t>(n), u'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, reinterpret_cast<wchar_t*>(&wide[0]), n);
  return wide;
}

std::string to_ansi(const std::u16string& wide) {
  if (wide.empty() || wide.size() > INT_MAX) return std::string();
  const wchar_t* data = reinterpret_cast<const wchar_t*>(wide.data());
  int length = static_cast<int>(wide.size());
  // No flags and no default character: best fit, then the code page's '?'.
  int n = WideCharToMultiByte(CP_ACP, 0, data, length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string ansi(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, data, length, &ansi[0], n, nullptr, nullptr);
  return ansi;
}

}  // namespace qor::platform
