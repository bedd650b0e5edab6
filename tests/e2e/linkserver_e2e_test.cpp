// The stand-in link server as a real process with PipeHost, driven by raw
// pipe clients that know only the bytes of the protocol.
#include <gtest/gtest.h>

#include <string>

#include "platform/clock.h"
#include "platform/named_pipe.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/window.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_support.h"

using namespace qor;

namespace {

class LinkServerProcess : public ::testing::Test {
 protected:
  // Starts the link server in the test's folder and waits for PipeHost's
  // window: how a host sees that the instance is up.
  void start(const std::string& arguments) {
    std::string program = test::bin_dir() + (test::on_win32 ? "\\qorlink.exe" : "/qorlink");
    server_ = platform::start_process(platform::quote_argument(program) + " " + arguments, folder_.path().string());
    ASSERT_TRUE(server_.started());
    ASSERT_NE(wait_for_window(instance_), platform::no_window) << "no instance window within 10.5 s";
  }

  static platform::WindowHandle wait_for_window(const std::string& title) {
    std::uint32_t start = platform::tick_ms();
    platform::WindowHandle window;
    while (!(window = platform::find_window(title)) && platform::tick_ms() - start < 10500) platform::sleep_ms(20);
    return window;
  }

  void TearDown() override {
    if (server_.started() && !server_.wait(0)) server_.kill();
  }

  std::string request(const std::string& message) {
    // The window shows the instance is up; its answer pipe follows from the
    // endpoint's own thread a moment later, so a client opens again.
    std::unique_ptr<platform::PipeClient> client;
    std::uint32_t start = platform::tick_ms();
    while (!(client = platform::PipeClient::open("\\\\.\\PIPE\\" + instance_)) && platform::tick_ms() - start < 3000)
      platform::sleep_ms(20);
    if (!client || !client->write_message(message.data(), message.size())) return "no pipe";
    char reply[16];
    auto n = client->read(reply, sizeof reply);
    return n ? std::string(reply, *n) : "no reply";
  }

  test::TempFolder folder_;
  std::string instance_;
  platform::Process server_;
};

TEST_F(LinkServerProcess, AnswersFromItsPolicyAndItsTerminalTable) {
  instance_ = "QT" + std::to_string(platform::current_process_id()) + "e";
  ASSERT_TRUE(platform::write_profile_string((folder_.path() / (instance_ + ".ini")).string(), "DISPATCHER",
                                             "Dispatch_000", "pipe|ORDERS|ORD|000"));
  start("--instance " + instance_ + " --policy reject --terminals 5,12");

  EXPECT_EQ(request("\x16" "CheckTerminal|5"), std::string("\x16\x06")) << "a known terminal";
  EXPECT_EQ(request("\x16" "CheckTerminal|6"), std::string("\x16\x15")) << "an unknown terminal";
  EXPECT_EQ(request("\x16" "5|" + instance_ + "_ORDERS|HELLO"), std::string("\x16\x07")) << "the policy's verdict";
  EXPECT_EQ(request("\x16" "OpenPipe|" + instance_ + "_ORDERS"), std::string("\x16\x06")) << "settled by PipeHost";
  EXPECT_EQ(request("\x16" "99|QX|1"), std::string("\x16\x06"));
  std::uint32_t code = 1;
  EXPECT_TRUE(server_.wait(10000, &code)) << "QX stops the link server";
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(platform::find_window(instance_), platform::no_window) << "Pipe_Tini closed the instance window";
}

TEST_F(LinkServerProcess, NumberedInstanceEndsWhenItsMainWindowCloses) {
  // "-N" names the instance QORLNK<NN> and titles the main window after it.
  int number = 40 + static_cast<int>(platform::current_process_id() % 50);
  instance_ = "QORLNK" + std::to_string(number);
  start("mini -" + std::to_string(number));
  // The main window follows PipeHost's instance window.
  platform::WindowHandle main = wait_for_window("QOR-Link (" + std::to_string(number) + ")");
  ASSERT_NE(main, platform::no_window);
  EXPECT_EQ(request("\x16" "CheckRivo63|host"), std::string("\x16\x06"));
  ASSERT_TRUE(platform::post_message(main, platform::msg_close, 0, 0));
  std::uint32_t code = 1;
  EXPECT_TRUE(server_.wait(10000, &code));
  EXPECT_EQ(code, 0u);
}

}  // namespace
