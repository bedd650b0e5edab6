// PipeHost loaded by name in this process, as the link server's plug-in, seen
// through what the outside can observe: which windows and pipes exist, what
// raw pipe and window hosts get back, and the results of the exports. Here:
// a second Pipe_Init on a running instance, the monitor pipe, and data files
// that cannot be written.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "platform/profile.h"
#include "tests/support/raw_host.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_support.h"

using namespace qor;
using test::shown;

namespace {

class PipeHostInProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(folder_.path() / "ERROR");
    ASSERT_TRUE(pipe_.load());
  }

  void TearDown() override {
    if (pipe_.tini) {
      EXPECT_EQ(pipe_.tini(), 0);
    }
    pipe_.unload();
  }

  // A unique instance name without "_".
  static std::string instance(const char* prefix) {
    static std::atomic<int> counter{0};
    return prefix + std::to_string(platform::current_process_id()) + "x" + std::to_string(++counter);
  }

  static void configure(const std::string& instance, const std::string& section, const std::string& key,
                        const std::string& value) {
    ASSERT_TRUE(platform::write_profile_string(".\\" + instance + ".ini", section, key, value));
  }

  // A pipe host's request on another thread while this thread polls the
  // plug-in as the link server: requests handed over get ACK, and are noted
  // as "<terminal>:<text>" in handed_. The host's reply as shown().
  std::string ask(const std::string& pipe, const std::string& message) {
    std::atomic<bool> done{false};
    std::string reply;
    std::thread host([&] {
      reply = test::exchange(pipe, message);
      done = true;
    });
    while (!done) {
      void* handle = nullptr;
      std::int32_t terminal = 0;
      char buffer[1024];
      std::int32_t n = pipe_.wait_data(&handle, &terminal, 0, buffer, sizeof buffer);
      if (n > 0) {
        handed_.push_back(std::to_string(terminal) + ":" + std::string(buffer, static_cast<std::size_t>(n)));
        pipe_.ack(&handle);
      }
      pipe_.idle(1);
    }
    host.join();
    return reply;
  }

  static bool window_is_ours(const std::string& title) {
    platform::WindowHandle window = platform::find_window(title);
    return window && platform::window_process_id(window) == platform::current_process_id();
  }

  static bool pipe_answers(const std::string& name) { return test::open_pipe(name) != nullptr; }

  test::TempFolder folder_;
  test::PipeHostModule pipe_;
  std::vector<std::string> handed_;
};

// --- a second Pipe_Init ---------------------------------------------------------------

// Another name while this process owns the instance: the data pipes and
// entries move to the new name at once; the window follows at the next poll;
// the answer pipe keeps the first name for good.
TEST_F(PipeHostInProcess, InitWithAnotherNameMovesDataPipesAtOnceAndTheWindowAtTheNextPoll) {
  const std::string a = instance("QA"), b = instance("QB");
  configure(a, "DISPATCHER", "Dispatch_000", "pipe|ORDERS|ORD|000|Y");
  configure(b, "DISPATCHER", "Dispatch_000", "pipe|ORDERS|ORD|000|Y");
  configure(b, "DISPATCHER", "Dispatch_001", "pipe|STOCK|INV|000|Y");
  ASSERT_EQ(pipe_.init(a.c_str()), 1);
  ASSERT_EQ(pipe_.write_data(5, 0, "ORD", "one", 3), 3);

  ASSERT_EQ(pipe_.init(b.c_str()), 1);
  // Re-targeted: nothing polled yet.
  EXPECT_TRUE(window_is_ours(a));
  EXPECT_EQ(platform::find_window(b), platform::no_window);
  EXPECT_TRUE(pipe_answers(a)) << "the answer pipe";
  EXPECT_FALSE(pipe_answers(a + "_ORDERS")) << "the old data pipe stopped";
  EXPECT_TRUE(test::open_pipe(b + "_ORDERS", 3000) != nullptr);
  EXPECT_TRUE(test::open_pipe(b + "_STOCK", 3000) != nullptr);

  // The next call that ensures the window makes the window B and loads B's
  // entries again from scratch.
  EXPECT_EQ(pipe_.write_data(5, 0, "ORD", "two", 3), 3);
  EXPECT_TRUE(window_is_ours(b));
  EXPECT_TRUE(window_is_ours(a)) << "the first window stays until Pipe_Tini";
  EXPECT_EQ(folder_.read("ERROR/.PIP"), "005|ORD|one\r\n")
      << "the old pipe's message, written out under the name it was left with";

  EXPECT_EQ(ask(a, "\x16" "CheckRivo63|host"), "<22><6>");
  EXPECT_EQ(ask(a, "\x16" "5|" + b + "_ORD|x"), "<22><6>");
  EXPECT_EQ(handed_, std::vector<std::string>{"5:ORD|x"}) << "the prefix of the current name is removed";
  EXPECT_FALSE(pipe_answers(b)) << "no answer pipe under the new name";
  auto reader = test::open_pipe(b + "_ORDERS", 3000);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(test::poll_data_pipe(*reader), "5|ORD|two");

  EXPECT_EQ(pipe_.tini(), 0);
  pipe_.tini = nullptr;
  EXPECT_EQ(platform::find_window(a), platform::no_window);
  EXPECT_EQ(platform::find_window(b), platform::no_window);
}

// The same name again: the data pipes restart empty and unopened, the old
// entries match nothing, and the section is loaded beside them.
TEST_F(PipeHostInProcess, InitWithTheSameNameRestartsDataPipesBesideTheEmptiedEntries) {
  const std::string a = instance("QS");
  configure(a, "Global Parameters", "Default Path", "data");
  configure(a, "DISPATCHER", "Dispatch_000", "pipe|ORDERS|ORD|000");
  configure(a, "DISPATCHER", "Dispatch_001", "file|a.txt|FIL|000");
  ASSERT_EQ(pipe_.init(a.c_str()), 1);
  const std::string orders = a + "_ORDERS";
  ASSERT_EQ(ask(a, "\x16" "OpenPipe|" + orders), "<22><6>");
  ASSERT_EQ(pipe_.write_data(5, 0, "ORD", "one", 3), 3);
  auto early = test::open_pipe(orders, 3000);
  ASSERT_NE(early, nullptr);

  ASSERT_EQ(pipe_.init(a.c_str()), 1);
  EXPECT_TRUE(window_is_ours(a));
  EXPECT_TRUE(test::eventually([&] { return !early->peek().has_value(); }))
      << "the connection to the old pipe broke";
  EXPECT_EQ(pipe_.write_data(5, 0, "ORD", "two", 3), -11) << "the new pipe has not been opened";
  EXPECT_EQ(pipe_.write_data(1, 0, "FIL", "f", 1), -11);
  EXPECT_EQ(folder_.read("data/a.txt"), "f\r\n") << "one line: the emptied entry matches nothing";

  EXPECT_EQ(ask(a, "\x16" "OpenPipe|" + orders), "<22><6>");
  EXPECT_EQ(pipe_.write_data(5, 0, "ORD", "three", 5), 5);
  auto reader = test::open_pipe(orders, 3000);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(test::poll_data_pipe(*reader), "5|ORD|three");

  EXPECT_EQ(pipe_.tini(), 0);
  pipe_.tini = nullptr;
  EXPECT_EQ(folder_.read("ERROR/.PIP"), "005|ORD|one\r\n") << "the old pipe's message, at Pipe_Tini";
}

// --- the monitor pipe ---------------------------------------------------------------

// Only an endpoint named exactly "QORNetMonitor" serves the monitor, and
// configured pipe names get the instance prefix: an ordinary instance has no
// monitor. Under the instance named "QORNetMonitor" the monitor pipe listens,
// in place of an answer pipe. (The one test of this name: the monitor pipe
// and the window "QORNetMonitor" are fixed names.)
TEST_F(PipeHostInProcess, MonitorPipeOnlyUnderTheInstanceOfItsName) {
  const std::string n = instance("QM");
  configure(n, "DISPATCHER", "Dispatch_000", "pipe|QORNetMonitor|MON|000");
  ASSERT_EQ(pipe_.init(n.c_str()), 1);
  ASSERT_NE(test::open_pipe(n, 3000), nullptr);
  EXPECT_FALSE(pipe_answers("QORNetMonitor"));
  EXPECT_EQ(ask(n, "\x16" "QORNetMonitor|check"), "<22><21>") << "no monitor endpoint";
  EXPECT_EQ(ask(n, "QORNetMonitor|check"), "<6>") << "without SYN: acknowledged at once all the same";
  EXPECT_EQ(ask(n, "\x16" "OpenPipe|QORNetMonitor"), "<22><21>");
  EXPECT_TRUE(handed_.empty()) << "settled inside the plug-in";
  test::WindowHost host;
  auto serve = [this] { pipe_.idle(0); };
  EXPECT_EQ(host.request(platform::find_window(n), "check", "QORNetMonitor"), 1u);
  EXPECT_EQ(host.verdict(nullptr, serve), "NACK");

  // The configured "QORNetMonitor" is an ordinary data pipe: SYN is no poll.
  EXPECT_EQ(ask(n, "\x16" "OpenPipe|" + n + "_QORNetMonitor"), "<22><6>");
  ASSERT_EQ(pipe_.write_data(5, 0, "MON", "m1", 2), 2);
  auto data = test::open_pipe(n + "_QORNetMonitor", 3000);
  ASSERT_NE(data, nullptr);
  ASSERT_TRUE(test::send(*data, test::SYN));
  EXPECT_EQ(shown(test::receive(*data, test::no_reply_ms)), "<nothing>");
  EXPECT_EQ(test::poll_data_pipe(*data), "5|MON|m1");
  data.reset();
  EXPECT_EQ(pipe_.tini(), 0);

  // The instance "QORNetMonitor".
  ASSERT_EQ(pipe_.init("QORNetMonitor"), 1);
  platform::WindowHandle window = platform::find_window("QORNetMonitor");
  ASSERT_TRUE(window_is_ours("QORNetMonitor"));
  auto monitor = test::open_pipe("QORNetMonitor", 3000);
  ASSERT_NE(monitor, nullptr) << "the monitor pipe listens";
  for (const std::string& poll : {test::ENQ, test::SYN, test::SYN + "CheckRivo63|host"}) {
    ASSERT_TRUE(test::send(*monitor, poll));
    EXPECT_EQ(shown(test::receive(*monitor, test::no_reply_ms)), "<nothing>")
        << shown(poll) << ": no monitor message is ever queued";
  }
  EXPECT_TRUE(monitor->peek().has_value()) << "the monitor connection stays";
  EXPECT_EQ(pipe_.poll(), -11) << "no answer endpoint";
  EXPECT_EQ(pipe_.write_data(5, 0, "MON", "x", 1), -11);

  // Monitor commands reach it by window. No host can open the monitor (no
  // entry has its exact name), so it stays closed: "check" holds, "start"
  // and "stop" are refused, and a list stops at its first refused command.
  struct Case {
    const char* commands;
    const char* verdict;
  } cases[] = {
      {"check", "ACK"},           {"CHECK", "ACK"},       {"start", "NACK"},
      {"stop", "NACK"},           {"check|start", "NACK"}, {"+5|-7|size=10|buffer=3", "ACK"},
      {"+0|-0|check", "ACK"},     {"bogus", "NACK"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(host.request(window, c.commands, "qornetmonitor"), 1u);
    EXPECT_EQ(host.verdict(nullptr, serve), c.verdict) << c.commands;
  }
  EXPECT_EQ(host.request(window, "QORNetMonitor", "OpenPipe"), 1u);
  EXPECT_EQ(host.verdict(nullptr, serve), "NACK");
  EXPECT_EQ(host.request(window, "", "\x16" "QORNetMonitor|check"), 1u);
  EXPECT_EQ(host.verdict(nullptr, serve), "NACK") << "a raw request needs the answer endpoint";
  EXPECT_EQ(host.request(window, "host", "CheckRivo63"), 1u);
  EXPECT_EQ(host.verdict(nullptr, serve), "ACK");

  EXPECT_EQ(pipe_.tini(), 0);
  pipe_.tini = nullptr;
  EXPECT_EQ(shown(test::receive(*monitor, test::generous_ms)), "<nothing>") << "broken at Pipe_Tini";
  EXPECT_FALSE(monitor->peek().has_value());
  EXPECT_EQ(platform::find_window("QORNetMonitor"), platform::no_window);
}

// --- data files that cannot be written ----------------------------------------------

// A file entry whose path is a folder, and one whose folder cannot be made
// (a file is in the way): the data is dropped, the result is that of any file
// delivery (-11), and the entries after them and the pipes go on working.
TEST_F(PipeHostInProcess, DataFilesThatCannotBeOpenedDropTheirDataOnly) {
  const std::string n = instance("QF");
  configure(n, "Global Parameters", "Default Path", "data");
  configure(n, "DISPATCHER", "Dispatch_000", "file|data\\folder|DIR|000");
  configure(n, "DISPATCHER", "Dispatch_001", "file|blocker\\x.txt|BLK|000|Y");
  configure(n, "DISPATCHER", "Dispatch_002", "file|ok.txt|DIR-BLK-OK|000|Y");
  configure(n, "DISPATCHER", "Dispatch_003", "pipe|ORDERS|ORD|000|Y");
  std::filesystem::create_directories(folder_.path() / "data" / "folder");
  std::ofstream(folder_.path() / "blocker", std::ios::binary) << "mine";
  ASSERT_EQ(pipe_.init(n.c_str()), 1) << "a create-now file that cannot be made does not stop the load";
  EXPECT_EQ(folder_.read("data/ok.txt"), "") << "made at load";

  struct Case {
    std::int32_t terminal;
    const char* type;
    const char* data;
    std::int32_t result;
  } cases[] = {
      {1, "DIR", "to a folder", -11},
      {2, "BLK", "under a file", -11},
      {3, "OK", "kept", -11},
      {4, "ORD", "piped", 5},
  };
  for (int round = 0; round < 2; ++round)
    for (const Case& c : cases)
      EXPECT_EQ(pipe_.write_data(c.terminal, 0, c.type, c.data, static_cast<std::int32_t>(std::strlen(c.data))),
                c.result)
          << c.type;

  EXPECT_TRUE(std::filesystem::is_directory(folder_.path() / "data" / "folder"));
  EXPECT_TRUE(std::filesystem::is_empty(folder_.path() / "data" / "folder"));
  EXPECT_EQ(folder_.read("blocker"), "mine");
  EXPECT_EQ(folder_.read("data/ok.txt"), "kept\r\nkept\r\n") << "only the entry that matched OK";
  auto reader = test::open_pipe(n + "_ORDERS", 3000);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(test::poll_data_pipe(*reader), "4|ORD|piped");
  EXPECT_EQ(test::poll_data_pipe(*reader), "4|ORD|piped");
}

}  // namespace
