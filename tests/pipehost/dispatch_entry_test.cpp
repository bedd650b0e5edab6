#include <gtest/gtest.h>

#include "pipehost/dispatch_entry.h"

using namespace qor::pipehost;

TEST(DispatchEntry, PipeEntries) {
  struct Case {
    const char* value;
    const char* pipe_name;
    const char* packets;
    const char* terminals;
    bool persistent;
    int instances;
    const char* program;
    const char* arguments;
  };
  const Case cases[] = {
      {"pipe|ORDERS|ORD-INV|000|N|2 C:\\apps\\orders.exe|-auto", "Rivo63_ORDERS", "ORD-INV", "000", false, 2,
       "C:\\apps\\orders.exe", "-auto"},
      {"pipe|Rivo63_ORDERS|ORD|000", "Rivo63_ORDERS", "ORD", "000", false, 0, "", ""},
      {"PIPE|ORDERS|ORD|000|N|app.exe", "Rivo63_ORDERS", "ORD", "000", false, 1, "app.exe", ""},
      {"pipe|ORDERS|ORD|000|N|0 app.exe", "Rivo63_ORDERS", "ORD", "000", false, 1, "app.exe", ""},
      {"pipe|ORDERS|ORD|000|N|3 app.exe", "Rivo63_ORDERS", "ORD", "000", false, 3, "app.exe", ""},
      {"pipe|ORDERS|ORD|000|N|3", "Rivo63_ORDERS", "ORD", "000", false, 3, "", ""},
      {"pipe|ORDERS|ORD|000|app.exe", "Rivo63_ORDERS", "ORD", "000", false, 0, "", ""},
      {"pipe|ORDERS|ORD|000|Y", "Rivo63_ORDERS", "ORD", "000", true, 0, "", ""},
      {"pipe|ORDERS|ORD|000|yes|app.exe -a b|more args", "Rivo63_ORDERS", "ORD", "000", true, 1, "app.exe",
       "-a b"},
      {"||pipe||ORDERS|||ORD||000||t||2  app.exe||x y", "Rivo63_ORDERS", "ORD", "000", true, 2, "app.exe", "x y"},
  };
  for (const auto& c : cases) {
    auto entry = parse_dispatch_entry(c.value, "Rivo63");
    ASSERT_TRUE(entry) << c.value;
    EXPECT_TRUE(entry->is_pipe) << c.value;
    EXPECT_EQ(entry->pipe_name, c.pipe_name) << c.value;
    EXPECT_EQ(entry->packets, c.packets) << c.value;
    EXPECT_EQ(entry->terminals, c.terminals) << c.value;
    EXPECT_EQ(entry->persistent, c.persistent) << c.value;
    EXPECT_EQ(entry->instances, c.instances) << c.value;
    EXPECT_EQ(entry->program, c.program) << c.value;
    EXPECT_EQ(entry->arguments, c.arguments) << c.value;
  }
}

TEST(DispatchEntry, FileEntries) {
  auto entry = parse_dispatch_entry("file|orders.txt|ORD|001-002|Y", "Rivo63");
  ASSERT_TRUE(entry);
  EXPECT_FALSE(entry->is_pipe);
  EXPECT_EQ(entry->file_path, "orders.txt");
  EXPECT_EQ(entry->packets, "ORD");
  EXPECT_EQ(entry->terminals, "001-002");
  EXPECT_TRUE(entry->create_now);

  entry = parse_dispatch_entry("anything|C:\\DATA\\x.txt|ORD|000", "Rivo63");
  ASSERT_TRUE(entry);
  EXPECT_FALSE(entry->is_pipe);
  EXPECT_EQ(entry->file_path, "C:\\DATA\\x.txt") << "file paths are kept as written";
  EXPECT_FALSE(entry->create_now);
}

TEST(DispatchEntry, FewerThanFourFieldsAreIgnored) {
  for (const char* value : {"", "pipe", "pipe|ORDERS", "pipe||ORD|000", "pipe|ORDERS|ORD", "||||", "file|x|ORD|"})
    EXPECT_FALSE(parse_dispatch_entry(value, "Rivo63")) << '"' << value << '"';
}

TEST(DispatchEntry, Flags) {
  for (const char* on : {"T", "true", "Y", "yes", "y"}) EXPECT_TRUE(entry_flag(on)) << on;
  for (const char* off : {"", "N", "1", "on", "F", " Y"}) EXPECT_FALSE(entry_flag(off)) << off;
}
