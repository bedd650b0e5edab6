#pragma once
// A fresh empty folder that a test works in: it becomes the current folder
// for the test's lifetime and is removed afterwards.
#include <filesystem>
#include <string>

namespace qor::test {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The bytes of a file below the folder ("" when it is missing).
  std::string read(const std::string& relative) const;

 private:
  std::filesystem::path path_;
  std::filesystem::path previous_;
};

}  // namespace qor::test
