// Command lines come from configuration files (the arguments of started
// programs). Any byte string splits without a crash; and any list of
// arguments (the input cut at NUL bytes) quoted and joined splits back into
// exactly that list.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/process.h"

using qor::platform::quote_argument;
using qor::platform::split_command_line;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  split_command_line(text);

  std::vector<std::string> args{"prog"};
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find('\0', start);
    args.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  std::string line;
  for (const auto& arg : args) line += (line.empty() ? "" : " ") + quote_argument(arg);
  if (split_command_line(line) != args) std::abort();
  return 0;
}
