#include <gtest/gtest.h>

#include <filesystem>

#include "pipehost/data_files.h"
#include "tests/support/temp_folder.h"

using namespace qor::pipehost;
namespace fs = std::filesystem;

TEST(DataFiles, ResolveUnderTheDefaultPath) {
  struct Case {
    const char* path;
    const char* default_path;
    const char* resolved;
  };
  const Case cases[] = {
      {"orders.txt", "C:\\QOR2\\RIVO63\\DATA", "C:\\QOR2\\RIVO63\\DATA\\orders.txt"},
      {"orders.txt", "C:\\DATA\\", "C:\\DATA\\orders.txt"},
      {"sub\\orders.txt", "C:\\DATA", "sub\\orders.txt"},
      {"D:orders.txt", "C:\\DATA", "D:orders.txt"},
      {"C:\\X\\orders.txt", "C:\\DATA", "C:\\X\\orders.txt"},
      {"orders.txt", "", "orders.txt"},
  };
  for (const auto& c : cases) EXPECT_EQ(resolve_data_path(c.path, c.default_path), c.resolved) << c.path;
}

TEST(DataFiles, DirectoryChainAndTextStreamLines) {
  qor::test::TempFolder folder;
  create_directory_chain("data\\a\\b\\orders.txt");
  EXPECT_TRUE(fs::is_directory(folder.path() / "data" / "a" / "b"));
  EXPECT_FALSE(fs::exists(folder.path() / "data" / "a" / "b" / "orders.txt")) << "the file itself is not made";
  create_directory_chain("data\\a\\b\\orders.txt");  // existing folders are fine

  ASSERT_TRUE(append_text("data\\a\\b\\orders.txt", data_file_line(true, true, 5, "ORD", "HELLO")));
  ASSERT_TRUE(append_text(".\\data\\a\\b\\orders.txt", data_file_line(false, false, 7, "ORD", "x\ny")));
  EXPECT_EQ(folder.read("data/a/b/orders.txt"), "005|ORD|HELLO\r\nx\r\ny\r\n");
  EXPECT_TRUE(file_exists("data\\a\\b\\orders.txt"));
  EXPECT_FALSE(file_exists("data\\missing.txt"));
  EXPECT_FALSE(append_text("nofolder\\orders.txt", "x\n")) << "folders are not created by an append";
}

TEST(DataFiles, LineHeaders) {
  EXPECT_EQ(data_file_line(false, false, 5, "ORD", "D"), "D\n");
  EXPECT_EQ(data_file_line(true, false, 5, "ORD", "D"), "005|D\n");
  EXPECT_EQ(data_file_line(false, true, 5, "ORD", "D"), "ORD|D\n");
  EXPECT_EQ(data_file_line(true, true, 255, "", ""), "255||\n");
}
