#include "tests/support/temp_folder.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include "tests/support/test_support.h"

namespace qor::test {

TempFolder::TempFolder()
    : path_(std::filesystem::temp_directory_path() / unique_name("qortest")), previous_(std::filesystem::current_path()) {
  std::filesystem::create_directories(path_);
  std::filesystem::current_path(path_);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string TempFolder::read(const std::string& relative) const {
  std::ifstream in(path_ / relative, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace qor::test
