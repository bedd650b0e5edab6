// Windows path text mapped to the paths of each target.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/path_text.h"
#include "tests/support/test_support.h"

using namespace qor::platform;
using qor::test::on_win32;

namespace {

#ifndef _WIN32
// Points the drive root at a folder of the test for its lifetime.
class DriveRoot {
 public:
  DriveRoot() : folder_(std::filesystem::current_path() / qor::test::unique_name("drives")) {
    const char* old = std::getenv("QOR_DRIVE_ROOT");
    if (old) saved_ = old;
    had_ = old != nullptr;
    setenv("QOR_DRIVE_ROOT", folder_.c_str(), 1);
  }
  ~DriveRoot() {
    if (had_)
      setenv("QOR_DRIVE_ROOT", saved_.c_str(), 1);
    else
      unsetenv("QOR_DRIVE_ROOT");
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string path() const { return folder_.string(); }

 private:
  std::filesystem::path folder_;
  std::string saved_;
  bool had_ = false;
};
#else
// Drive letters are the system's own.
struct DriveRoot {
  DriveRoot() {}
  ~DriveRoot() {}
  std::string path() const { return std::string(); }
};
#endif

struct MapCase {
  const char* text;
  const char* win32;
  const char* native;  // "@" stands for the drive root
};

const MapCase kMaps[] = {
    {".\\link.ini", ".\\link.ini", "./link.ini"},
    {"link.ini", ".\\link.ini", "link.ini"},
    {"sub/dir\\x.ini", "sub\\dir\\x.ini", "sub/dir/x.ini"},
    {"..\\up\\x", "..\\up\\x", "../up/x"},
    {"C:\\QOR2\\RIVO63\\DATA", "C:\\QOR2\\RIVO63\\DATA", "@/c/QOR2/RIVO63/DATA"},
    {"c:/Mixed\\Case/", "c:\\Mixed\\Case\\", "@/c/Mixed/Case/"},
    {"D:", "D:", "@/d"},
    {"E:name.txt", "E:name.txt", "@/e/name.txt"},
    {"C:\\a\\.\\b\\..\\..\\..\\x", "C:\\a\\.\\b\\..\\..\\..\\x", "@/c/x"},
    {"\\ERROR\\", "\\ERROR\\", "@/c/ERROR/"},
    {"\\\\server\\share\\..\\..\\f", "\\\\server\\share\\..\\..\\f", "@/unc/server/share/f"},
    {"/var/lib/x", "\\var\\lib\\x", "/var/lib/x"},
    {"", "", ""},
};

std::string expected(const MapCase& c, const std::string& root) {
  std::string native = on_win32 ? c.win32 : c.native;
  if (!native.empty() && native[0] == '@') native = root + native.substr(1);
  return native;
}

}  // namespace

TEST(PathText, MapsToThePathsOfTheTarget) {
  DriveRoot root;
  for (const auto& c : kMaps) {
    SCOPED_TRACE(c.text);
    std::string native = native_path(c.text);
    EXPECT_EQ(native, expected(c, root.path()));
    EXPECT_EQ(native_path(native), native) << "mapping a mapped path changes it";
  }
}

TEST(PathText, ShowsNativePathsAsConfigurationHoldsThem) {
  DriveRoot root;
  const char* round_trips[] = {"C:\\QOR2\\DATA\\orders.txt", "D:\\", "\\\\server\\share\\f.txt", ".\\x.ini",
                               "..\\x", "sub\\x.ini"};
  for (const char* text : round_trips) {
    SCOPED_TRACE(text);
    EXPECT_EQ(path_text(native_path(text)), text);
  }
  if (!on_win32) {
    EXPECT_EQ(path_text("/var/lib/x"), "/var/lib/x") << "an absolute native path maps back to itself";
    EXPECT_EQ(path_text("./a/b"), ".\\a\\b");
  }
}

TEST(PathText, ADriveIsAlwaysThere) {
  DriveRoot root;
  // A folder made directly on a drive needs no other folder first, as on
  // Windows (the logic creates folder chains one level at a time).
  std::string folder = native_path("C:\\" + qor::test::unique_name("path_text"));
  EXPECT_TRUE(std::filesystem::create_directory(folder));
  EXPECT_TRUE(std::filesystem::is_directory(native_path("C:\\")));
  std::error_code ignored;
  std::filesystem::remove(folder, ignored);
}

#ifndef _WIN32
TEST(PathText, DriveRootDefaultsToTheUsersDataFolder) {
  DriveRoot root;  // restores the environment afterwards
  std::string data = root.path() + "/data";
  unsetenv("QOR_DRIVE_ROOT");
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  EXPECT_EQ(native_path("C:\\x"), data + "/qor/drives/c/x");
  EXPECT_TRUE(std::filesystem::is_directory(data + "/qor/drives/c"));
  unsetenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  if (home && *home == '/') {
    std::string mapped = path_text(std::string(home) + "/.local/share/qor/drives/q/x");
    EXPECT_EQ(mapped, "Q:\\x") << "without XDG_DATA_HOME the root is below the home folder";
  }
}
#endif
