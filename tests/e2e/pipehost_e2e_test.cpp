// PipeHost in link server processes of their own, reached by raw hosts in
// this process over its pipes and its window: the legacy instance of the
// stand-in, a bare link server without a message pump, and a second process
// that re-targets a copy of the plug-in while another one holds the instance.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/process.h"
#include "platform/profile.h"
#include "tests/support/raw_host.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_support.h"

using namespace qor;
using test::shown;

namespace {

std::string program(const std::string& name) { return test::bin_dir() + (test::on_win32 ? "\\" + name + ".exe" : "/" + name); }

class PipeHostProcess : public ::testing::Test {
 protected:
  void TearDown() override {
    if (process_.started() && !process_.wait(0)) process_.kill();
  }

  void start(const std::string& command_line) {
    process_ = platform::start_process(command_line, folder_.path().string());
    ASSERT_TRUE(process_.started()) << command_line;
  }

  // A window of this title that belongs to the started process.
  platform::WindowHandle window_of_process(const std::string& title) {
    platform::WindowHandle window = platform::no_window;
    test::eventually([&] {
      window = platform::find_window(title);
      return window && platform::window_process_id(window) == process_.id();
    });
    return window && platform::window_process_id(window) == process_.id() ? window : platform::no_window;
  }

  // The first line the bare link server writes, once it is complete.
  std::string bare_results() {
    std::string text;
    test::eventually([&] {
      text = folder_.read("results.txt");
      return !text.empty() && text.back() == '\n';
    });
    return text.empty() ? text : text.substr(0, text.size() - 1);
  }

  void write_config(const std::string& instance, const std::string& key, const std::string& value) {
    ASSERT_TRUE(platform::write_profile_string((folder_.path() / (instance + ".ini")).string(), "DISPATCHER", key,
                                               value));
  }

  bool stopped(std::uint32_t* code) { return process_.wait(test::generous_ms, code); }

  test::TempFolder folder_;
  platform::Process process_;
};

// The stand-in started as Rivo63 runs the legacy instance. PipeHost has no
// legacy mode: its window and answer pipe carry the instance name "Rivo63",
// and data pipe names get the prefix unless they contain "_". So a legacy
// pipe host, which opens the answer pipe "QORNet", finds none, while legacy
// window hosts find "Rivo63". (The one test of this name: the window and pipe
// names are fixed.)
TEST_F(PipeHostProcess, LegacyInstanceAsHostsWithTheLegacyNamesFindIt) {
  write_config("Rivo63", "Dispatch_000", "pipe|ORDERS|ORD|000");
  write_config("Rivo63", "Dispatch_001", "pipe|SHOP_STOCK|INV|000");
  start(platform::quote_argument(program("Rivo63")) + " -splash --policy busy");
  platform::WindowHandle window = window_of_process("Rivo63");
  ASSERT_NE(window, platform::no_window) << "no window Rivo63 of the link server";
  ASSERT_NE(test::open_pipe("Rivo63", test::generous_ms), nullptr) << "the answer pipe is the instance name";

  EXPECT_EQ(test::open_pipe("QORNet"), nullptr) << "the legacy hosts' answer pipe does not exist";
  struct Case {
    std::string request, reply, why;
  } cases[] = {
      {"\x16" "CheckRivo63|host", "<22><6>", "this process owns the window"},
      {"\x16" "OpenPipe|ORDERS", "<22><21>", "the legacy (unqualified) name of a prefixed pipe"},
      {"\x16" "OpenPipe|Rivo63_ORDERS", "<22><6>", "the name PipeHost gave it"},
      {"\x16" "OpenPipe|SHOP_STOCK", "<22><6>", "a configured name with \"_\" is kept"},
      {"\x16" "5|Rivo63_ORD|abc", "<22><8>", "handed to the link server, whose policy is BUSY"},
      {"5|ORD|abc", "<6>", "no SYN: acknowledged at once"},
  };
  for (const Case& c : cases) EXPECT_EQ(test::exchange("Rivo63", c.request), c.reply) << c.why;

  // A legacy window host: the window "Rivo63", looked up as a host does once
  // the link server runs (its main window carries the title too), and the
  // plain pipe name.
  window = platform::find_window("Rivo63");
  ASSERT_NE(window, platform::no_window);
  test::WindowHost host;
  EXPECT_EQ(host.request(window, "host", "CheckRivo63"), 1u);
  EXPECT_EQ(host.verdict(), "ACK");
  EXPECT_EQ(host.data(window, 5, "INV", "legacy"), 1u) << "queued for the open pipe SHOP_STOCK";
  std::string text;
  EXPECT_EQ(host.request(window, "SHOP_STOCK", ""), 1u);
  EXPECT_EQ(host.verdict(&text), "ACK");
  EXPECT_EQ(text, "5|INV|legacy");
  EXPECT_EQ(host.request(window, "ORDERS", "OpenPipe"), 1u);
  EXPECT_EQ(host.verdict(), "NACK");

  EXPECT_EQ(host.data(window, 6, "INV", "piped"), 1u);
  auto stock = test::open_pipe("SHOP_STOCK", 3000);
  ASSERT_NE(stock, nullptr);
  EXPECT_EQ(test::poll_data_pipe(*stock), "6|INV|piped");

  EXPECT_EQ(test::exchange("Rivo63", "\x16" "99|QX|now"), "<22><6>");
  std::uint32_t code = 1;
  EXPECT_TRUE(stopped(&code));
  EXPECT_EQ(code, 0u);
}

// A link server that only calls Pipe_Init and then Pipe_WaitData: the
// plug-in serves its window from its exports (on Windows by looking at the
// queue, on native by serving what was sent), so hosts in another process get
// their answers by window and by pipe.
TEST_F(PipeHostProcess, BareLinkServerServesWindowAndPipeHosts) {
  const std::string instance = "QB" + std::to_string(platform::current_process_id());
  write_config(instance, "Dispatch_000", "pipe|ORDERS|ORD|000");
  start(platform::quote_argument(test::helper_program("pipehost_bare")) + " results.txt " + instance);
  ASSERT_EQ(bare_results(), "1 0");
  platform::WindowHandle window = window_of_process(instance);
  ASSERT_NE(window, platform::no_window);
  const std::string orders = instance + "_ORDERS";

  test::WindowHost host;
  EXPECT_EQ(host.request(window, orders, "OpenPipe"), 1u);
  EXPECT_EQ(host.verdict(), "ACK");
  EXPECT_EQ(test::exchange(instance, "\x16" "99|WD|ORD|first", test::generous_ms), "<22><6>")
      << "the link server's Pipe_WriteData queued it for the opened pipe";
  EXPECT_EQ(host.data(window, 5, "ORD", "second"), 1u);
  EXPECT_EQ(host.data(window, 5, "XYZ", "nobody"), 0u) << "no entry takes XYZ";

  std::string text;
  EXPECT_EQ(host.request(window, orders, ""), 1u);
  EXPECT_EQ(host.verdict(&text), "ACK");
  EXPECT_EQ(text, "7|ORD|first");
  auto reader = test::open_pipe(orders, 3000);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(test::poll_data_pipe(*reader), "5|ORD|second");
  EXPECT_EQ(test::poll_data_pipe(*reader, test::no_reply_ms), "<nothing>") << "each message once";

  // Requests that want the link server's verdict, by window and by pipe.
  EXPECT_EQ(host.request(window, "", "\x16" "5|" + orders + "|by window"), 1u);
  EXPECT_EQ(host.verdict(), "REJECT");
  EXPECT_EQ(host.request(window, "12", "CheckTerminal"), 1u);
  EXPECT_EQ(host.verdict(), "REJECT");
  EXPECT_EQ(test::exchange(instance, "\x16" "5|" + orders + "|by pipe"), "<22><7>");
  EXPECT_EQ(host.request(window, "", "5|" + orders + "|no SYN"), 1u);
  EXPECT_EQ(host.verdict(), "ACK") << "acknowledged at once; the later REJECT goes nowhere";

  EXPECT_EQ(test::exchange(instance, "\x16" "99|QX|now"), "<22><6>");
  std::uint32_t code = 1;
  EXPECT_TRUE(stopped(&code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(platform::find_window(instance), platform::no_window) << "Pipe_Tini closed the window";
}

// This process holds instance A. A second process starts PipeHost under A
// too (inert: A is taken), then under B. Its current name A has a window (in
// this process), so the second call re-targets that copy: it loads B's
// entries and, at its next poll, creates the window B. It never made an
// answer endpoint, so it serves B's data pipes and window but takes no
// requests.
TEST_F(PipeHostProcess, ACopyReTargetedWhileAnotherProcessHoldsItsNameLoadsEntriesButTakesNoRequests) {
  const std::string a = "QRA" + std::to_string(platform::current_process_id());
  const std::string b = "QRB" + std::to_string(platform::current_process_id());
  write_config(a, "Dispatch_000", "pipe|ORDERS|ORD|000|Y");
  write_config(b, "Dispatch_000", "pipe|ORDERS|ORD|000");
  test::PipeHostModule pipe;
  ASSERT_TRUE(pipe.load());
  ASSERT_EQ(pipe.init(a.c_str()), 1);

  start(platform::quote_argument(test::helper_program("pipehost_bare")) + " results.txt " + a + " " + b);
  EXPECT_EQ(bare_results(), "1 1 -11") << "inert, re-targeted, and no answer endpoint at its poll";
  platform::WindowHandle window = window_of_process(b);
  ASSERT_NE(window, platform::no_window) << "the first poll after re-targeting made the window B";
  platform::WindowHandle own = platform::find_window(a);
  ASSERT_NE(own, platform::no_window);
  EXPECT_EQ(platform::window_process_id(own), platform::current_process_id()) << "A stays with this process";

  EXPECT_NE(test::open_pipe(b + "_ORDERS", 3000), nullptr) << "B's data pipe is served by the second process";
  EXPECT_EQ(test::open_pipe(b), nullptr) << "no answer pipe B";
  test::WindowHost host;
  EXPECT_EQ(host.request(window, b + "_ORDERS", "OpenPipe"), 1u);
  EXPECT_EQ(host.verdict(), "ACK");
  EXPECT_EQ(host.request(window, "", "5|" + b + "_ORDERS|x"), 1u);
  EXPECT_EQ(host.verdict(), "NACK") << "no answer endpoint to queue it";
  EXPECT_EQ(host.data(window, 5, "ORD", "x"), 0u) << "its Pipe_WriteData gives -11 without an answer endpoint";

  // This process's instance is untouched.
  std::atomic<bool> done{false};
  std::string reply;
  std::thread asker([&] {
    reply = test::exchange(a, "\x16" "CheckRivo63|host");
    done = true;
  });
  while (!done) pipe.poll(), pipe.idle(1);
  asker.join();
  EXPECT_EQ(reply, "<22><6>");
  EXPECT_EQ(pipe.tini(), 0);
  pipe.unload();
}

}  // namespace
