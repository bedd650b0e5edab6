#include "tests/support/test_support.h"

#include <atomic>

#include "platform/module.h"
#include "platform/process.h"

namespace qor::test {

std::string bin_dir() { return platform::folder_of(platform::executable_path()); }

std::string helper_program(const std::string& name) {
  return bin_dir() + (on_win32 ? "\\" + name + ".exe" : "/" + name);
}

std::string unique_name(const std::string& prefix) {
  static std::atomic<unsigned> counter{0};
  return prefix + "_" + std::to_string(platform::current_process_id()) + "_" + std::to_string(++counter);
}

}  // namespace qor::test
