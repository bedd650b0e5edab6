#include <gtest/gtest.h>

#include "link/names.h"

using namespace qor::link;

TEST(InstanceNames, DecideEveryOtherName) {
  struct Case {
    const char* instance;
    const char* answer_pipe;
    const char* window;
    const char* orders_pipe;
  };
  const Case cases[] = {
      {"QORLNK01", "QORLNK01", "QORLNK01", "QORLNK01_ORDERS"},
      {"RIVO63", "QORNet", "Rivo63", "ORDERS"},
      {"rivo63", "QORNet", "Rivo63", "ORDERS"},
      {"QorNet", "QORNet", "Rivo63", "ORDERS"},
      {"Rivo631", "Rivo631", "Rivo631", "Rivo631_ORDERS"},  // only the exact legacy names are legacy
      {"QORNetMonitor", "QORNetMonitor", "QORNetMonitor", "QORNetMonitor_ORDERS"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(answer_pipe_name(c.instance), c.answer_pipe) << c.instance;
    EXPECT_EQ(server_window_title(c.instance), c.window) << c.instance;
    EXPECT_EQ(qualified_pipe_name(c.instance, "ORDERS"), c.orders_pipe) << c.instance;
  }
  EXPECT_STREQ(monitor_pipe_name(), "QORNetMonitor");
}

TEST(PipePaths, NameTheMachine) {
  EXPECT_EQ(pipe_path(".", "QORLNK01_ORDERS"), "\\\\.\\PIPE\\QORLNK01_ORDERS");
  EXPECT_EQ(pipe_path("SERVER7", "QORNet"), "\\\\SERVER7\\PIPE\\QORNet");
  EXPECT_EQ(server_pipe_path("QORNetMonitor"), "\\\\.\\PIPE\\QORNetMonitor");
}
