// Host processes using QorLink (the qorhost tool, which loads it by name)
// against the stand-in link server as a real process: data in both
// directions over both transports, a link server that never comes up, and a
// host on another machine.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/window.h"
#include "tests/support/netns.h"
#include "tests/support/qorlink_module.h"
#include "tests/support/stand_in.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_support.h"

using namespace qor;

namespace {

std::string program(const std::string& name) { return test::bin_dir() + "/" + name + (test::on_win32 ? ".exe" : ""); }

// Runs qorhost to its end; its exit code, or -1 when it did not end in time.
int run_host(const std::string& arguments, const std::string& launcher = "", std::uint32_t limit_ms = 60000) {
  platform::Process host =
      platform::start_process(launcher + platform::quote_argument(program("qorhost")) + " " + arguments, "");
  if (!host.started()) return -2;
  std::uint32_t code = 0;
  if (!host.wait(limit_ms, &code)) {
    host.kill();
    return -1;
  }
  return static_cast<int>(code);
}

platform::Process start_host(const std::string& arguments, const std::string& launcher = "") {
  return platform::start_process(launcher + platform::quote_argument(program("qorhost")) + " " + arguments, "");
}

// Hands terminal data to the link server until a host's open pipe takes it.
bool deliver_when_open(test::StandIn& server, std::int32_t terminal, const std::string& data) {
  for (int i = 0; i < 1000; ++i, platform::sleep_ms(10))
    if (server.terminal_data(terminal, "ORD", data)) return true;
  return false;
}

class HostProcesses : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override { test::choose_transport(GetParam()); }  // the hosts inherit it
  void TearDown() override { test::choose_transport(""); }
};

TEST_P(HostProcesses, DataTravelsBothWaysThroughTheLinkServer) {
  std::string instance = test::unique_name("QE");
  test::StandIn server(instance, "--terminals 5", {"pipe|ORDERS|ORD|000"});
  ASSERT_TRUE(server.up());

  // One host waits for terminal data on its pipe...
  platform::Process waiting = start_host("-i " + instance + " open ORDERS wait ORDERS 20000");
  ASSERT_TRUE(waiting.started());
  ASSERT_TRUE(deliver_when_open(server, 5, "ORDER-1")) << "the host's pipe never opened";
  std::uint32_t code = 99;
  ASSERT_TRUE(waiting.wait(30000, &code));
  EXPECT_EQ(code, 0u) << "the waiting host got the data";

  // ...another answers the terminal and asks about terminals.
  EXPECT_EQ(run_host("-i " + instance + " check send ORDERS 5 ANSWER-1 terminal 5"), 0);
  EXPECT_EQ(run_host("-i " + instance + " terminal 6"), 1) << "terminal 6 is not known";
  EXPECT_EQ(run_host("-i " + instance + " open NOSUCH"), 1) << "refused";
  EXPECT_EQ(run_host("-i " + instance + " open ORDERS wait ORDERS 300"), 3) << "nothing arrived";
  EXPECT_EQ(run_host("-i " + instance + " send ORDERS 256 x"), 2) << "terminal out of range";
}

INSTANTIATE_TEST_SUITE_P(BothTransports, HostProcesses, ::testing::Values("pipe", "window"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                           return std::string(param.param[0] == 'p' ? "Pipe" : "Window");
                         });

TEST(HostTool, ReportsAStoppedLinkServerAndBadCommandLines) {
  std::string instance = test::unique_name("QE");
  EXPECT_EQ(run_host("-i " + instance + " check"), 1);
  EXPECT_EQ(run_host("-i " + instance + " send ORDERS 5 x"), 4) << "not reachable";
  EXPECT_EQ(run_host("-i " + instance), 2) << "no command";
  EXPECT_EQ(run_host("check"), 2) << "no instance";
  EXPECT_EQ(run_host("-i " + instance + " frobnicate"), 2);
  EXPECT_EQ(run_host("-m server1 -i QORLNK01 start"), 2) << "starting works on this machine only";
  EXPECT_EQ(run_host("--help"), 0);
}

TEST(HostTool, StartGivesUpOnALinkServerThatNeverShowsItsWindow) {
  // QorLink starts the link server it finds beside itself: here a program
  // that never shows a window, in a folder of its own with QorLink and the
  // host.
  test::TempFolder folder;
  namespace fs = std::filesystem;
  fs::path bin = test::bin_dir();
  std::vector<std::string> files = test::on_win32
                                       ? std::vector<std::string>{"qorhost.exe", "qorlink.dll"}
                                       : std::vector<std::string>{"qorhost", "libqorlink.so", "libqorplatform.so"};
  for (const std::string& file : files) fs::copy_file(bin / file, folder.path() / file);
  fs::copy_file(test::helper_program("no_window"), folder.path() / (test::on_win32 ? "qorlink.exe" : "qorlink"));

  int number = 100 + static_cast<int>(platform::current_process_id() % 800);
  std::string host = (folder.path() / files[0]).string();
  std::uint32_t start = platform::tick_ms();
  platform::Process starter = platform::start_process(
      platform::quote_argument(host) + " -i QORLNK" + std::to_string(number) + " --mode min start", "");
  ASSERT_TRUE(starter.started());
  std::uint32_t code = 99;
  ASSERT_TRUE(starter.wait(30000, &code));
  std::uint32_t waited = platform::tick_ms() - start;
  EXPECT_EQ(code, 3u) << "QORLink_Start gave -1";
  EXPECT_GE(waited, 10500u) << "about 10.5 s of looking";
  EXPECT_LT(waited, 20000u);
  // The started program keeps running; it leaves a file when it ends.
  bool ended = false;
  for (int i = 0; i < 500 && !ended; ++i, platform::sleep_ms(10)) ended = fs::exists(folder.path() / "no_window.ended");
  EXPECT_TRUE(ended) << "the program QorLink started ran on its own and ended";
}

TEST(RemoteHost, ReachesTheLinkServerOnAnotherMachine) {
  if (test::on_win32) GTEST_SKIP() << "remote pipes of Windows travel over SMB, which Wine does not carry between machines";
#ifndef _WIN32
  test::NamespacePair machines("qorhost", "10.232.0");
  if (!machines.made) GTEST_SKIP() << "network namespaces cannot be made here (needs root and iproute2)";
  std::string instance = test::unique_name("QR");
  test::StandIn server(instance, "--terminals 5", {"pipe|ORDERS|ORD|000"}, machines.in_server());
  ASSERT_TRUE(server.up());

  std::string at = "-m " + machines.server_address + " -i " + instance;
  int checked = 1;
  for (int i = 0; i < 50 && checked != 0; ++i) checked = run_host(at + " check", machines.in_client());
  ASSERT_EQ(checked, 0) << "the link server answers over the network";
  EXPECT_EQ(run_host(at + " send ORDERS 5 FROM-AFAR terminal 5", machines.in_client()), 0);
  EXPECT_EQ(run_host(at + " terminal 6", machines.in_client()), 1);
  EXPECT_EQ(run_host("-m 127.0.0.1 -i " + instance + " check", machines.in_client()), 1)
      << "not on the client's own machine";

  platform::Process waiting = start_host(at + " open ORDERS wait ORDERS 20000", machines.in_client());
  ASSERT_TRUE(waiting.started());
  ASSERT_TRUE(deliver_when_open(server, 5, "TO-AFAR"));
  std::uint32_t code = 99;
  ASSERT_TRUE(waiting.wait(30000, &code));
  EXPECT_EQ(code, 0u) << "terminal data reached the remote host";
  EXPECT_EQ(run_host(at + " start", machines.in_client()), 2) << "starting is for this machine only";
#endif
}

}  // namespace
