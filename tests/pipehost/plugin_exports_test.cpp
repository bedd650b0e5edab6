// PipeHost as the link server uses it: loaded by name, its exports bound by
// name and called on one thread, with raw clients that know only the bytes
// of the protocol.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "link/blocks.h"
#include "link/chunks.h"
#include "link/protocol.h"
#include "platform/clock.h"
#include "platform/module.h"
#include "platform/named_pipe.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/thread_queue.h"
#include "platform/window.h"
#include "qor/pipehost.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_support.h"

using namespace qor;

namespace {

using InitFn = decltype(&Pipe_Init);
using TiniFn = decltype(&Pipe_Tini);
using IdleFn = decltype(&Pipe_Idle);
using WaitDataFn = decltype(&Pipe_WaitData);
using VerdictFn = decltype(&Pipe_Ack);
using WriteDataFn = decltype(&Pipe_WriteData);

class PipeHostExports : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    // No "_" in the name: DISPATCHER names without one get the instance in front.
    instance_ = "QT" + std::to_string(platform::current_process_id()) + "x" + std::to_string(++counter);
    std::string ini = ".\\" + instance_ + ".ini";
    ASSERT_TRUE(platform::write_profile_string(ini, "Global Parameters", "Default Path", "data"));
    ASSERT_TRUE(platform::write_profile_string(ini, "Global Parameters", "RxData TermHeader", "Yes"));
    ASSERT_TRUE(platform::write_profile_string(ini, "DISPATCHER", "Dispatch_000", "pipe|ORDERS|ORD-INV|000"));
    ASSERT_TRUE(platform::write_profile_string(ini, "DISPATCHER", "Dispatch_002", "pipe|PERS|PER|000|Y"));
    ASSERT_TRUE(platform::write_profile_string(ini, "DISPATCHER", "Dispatch_005", "file|orders.txt|FIL|001-002"));
    configure(ini);

    module_ = platform::load_module("PipeHost.dll");
    ASSERT_NE(module_, nullptr);
    bind(init_, "Pipe_Init");
    bind(tini_, "Pipe_Tini");
    bind(idle_, "Pipe_Idle");
    bind(wait_data_, "Pipe_WaitData");
    bind(ack_, "Pipe_Ack");
    bind(reject_, "Pipe_Reject");
    bind(write_data_, "Pipe_WriteData");
    ASSERT_EQ(init_(instance_.c_str()), 1);
  }

  // More configuration for a test, before Pipe_Init reads it.
  virtual void configure(const std::string&) {}

  void TearDown() override {
    if (tini_) {
      EXPECT_EQ(tini_(), 0);
    }
    platform::unload_module(module_);
  }

  template <typename Fn>
  void bind(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(platform::find_symbol(module_, name));
    ASSERT_NE(fn, nullptr) << name;
  }

  // Polls Pipe_WaitData as a link server does until a request is handed
  // over or `ms` pass; the request's text, or "" when none came.
  std::string next_request(void** handle, std::int32_t* terminal, std::uint32_t ms = 8000) {
    char buffer[1024];
    std::uint32_t start = platform::tick_ms();
    while (platform::tick_ms() - start < ms) {
      std::int32_t n = wait_data_(handle, terminal, 0, buffer, sizeof buffer);
      if (n > 0) return std::string(buffer, static_cast<std::size_t>(n));
      idle_(1);
    }
    return "";
  }

  // Keeps the plug-in polled (settling requests inside it) until `done`.
  template <typename Done>
  void serve_until(Done done, std::uint32_t ms = 8000) {
    std::uint32_t start = platform::tick_ms();
    void* handle = nullptr;
    std::int32_t terminal = 0;
    char buffer[256];
    while (!done() && platform::tick_ms() - start < ms) {
      if (wait_data_(&handle, &terminal, 0, buffer, sizeof buffer) > 0) ack_(&handle);
      idle_(1);
    }
  }

  std::string pipe(const std::string& name) { return "\\\\.\\PIPE\\" + name; }

  test::TempFolder folder_;
  std::string instance_;
  platform::ModuleHandle module_ = nullptr;
  InitFn init_ = nullptr;
  TiniFn tini_ = nullptr;
  IdleFn idle_ = nullptr;
  WaitDataFn wait_data_ = nullptr;
  VerdictFn ack_ = nullptr;
  VerdictFn reject_ = nullptr;
  WriteDataFn write_data_ = nullptr;
};

// One request on the answer pipe from another thread; the reply bytes.
std::string exchange(const std::string& path, const std::string& message) {
  auto client = platform::PipeClient::open(path);
  if (!client || !client->write_message(message.data(), message.size())) return "no pipe";
  char reply[16];
  auto n = client->read(reply, sizeof reply);
  return n ? std::string(reply, *n) : "no reply";
}

TEST_F(PipeHostExports, HandsRequestsToTheLinkServerAndReturnsItsVerdict) {
  std::string reply;
  std::thread host([&] { reply = exchange(pipe(instance_), "\x16" "5|" + instance_ + "_ORDERS|HELLO"); });
  void* handle = nullptr;
  std::int32_t terminal = -1;
  EXPECT_EQ(next_request(&handle, &terminal), "ORDERS|HELLO");
  EXPECT_EQ(terminal, 5);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(reject_(&handle), 1);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(ack_(&handle), -5) << "a second verdict on the same handle";
  host.join();
  EXPECT_EQ(reply, std::string("\x16\x07"));
}

TEST_F(PipeHostExports, CheckTerminalReachesTheLinkServerAsCT) {
  std::string reply;
  std::thread host([&] { reply = exchange(pipe(instance_), "\x16" "CheckTerminal|12"); });
  void* handle = nullptr;
  std::int32_t terminal = -1;
  EXPECT_EQ(next_request(&handle, &terminal), "CT|12");
  EXPECT_EQ(terminal, 99);
  EXPECT_EQ(ack_(&handle), 1);
  host.join();
  EXPECT_EQ(reply, std::string("\x16\x06"));
}

TEST_F(PipeHostExports, DataReachesAnOpenedPipeAndPersistentOnesAlways) {
  EXPECT_EQ(write_data_(5, 0, "ORD", "EARLY", 5), -11) << "nobody opened the pipe yet";
  EXPECT_EQ(write_data_(5, 0, "PER", "KEPT", 4), 4) << "persistent pipes queue without OpenPipe";

  std::string open_reply;
  std::atomic<bool> done{false};
  std::thread host([&] {
    open_reply = exchange(pipe(instance_), "\x16" "OpenPipe|" + instance_ + "_ORDERS");
    done = true;
  });
  serve_until([&] { return done.load(); });
  host.join();
  EXPECT_EQ(open_reply, std::string("\x16\x06"));

  EXPECT_EQ(write_data_(5, 0, "ORD", "DATA", 4), 4);
  EXPECT_EQ(write_data_(7, 0, "RD", "SUB", 3), 3) << "packet types match by substring";

  std::string delivered;
  std::thread reader([&] {
    auto client = platform::PipeClient::open(pipe(instance_ + "_ORDERS"));
    if (!client) return;
    for (int i = 0; i < 2; ++i) {
      client->write_message("\x05", 1);
      char buffer[10240];
      auto n = client->read(buffer, sizeof buffer);
      if (!n) return;
      delivered += std::string(buffer, *n) + "\n";
      client->write_message("\x06", 1);
    }
  });
  reader.join();
  EXPECT_EQ(delivered, "5|ORD|DATA\n7|RD|SUB\n");
}

TEST_F(PipeHostExports, FileEntriesAppendLinesUnderTheDefaultPath) {
  EXPECT_EQ(write_data_(1, 0, "FIL", "one", 3), -11) << "a file delivery is no pipe delivery";
  EXPECT_EQ(write_data_(2, 0, "FIL", "two", 3), -11);
  EXPECT_EQ(write_data_(3, 0, "FIL", "three", 5), -11) << "terminal 3 is not in 001-002";
  EXPECT_EQ(folder_.read("data/orders.txt"), "001|one\r\n002|two\r\n");
}

TEST_F(PipeHostExports, BadArgumentsAreRefused) {
  void* handle = nullptr;
  std::int32_t terminal = 0;
  char buffer[8];
  EXPECT_EQ(wait_data_(nullptr, &terminal, 0, buffer, 8), -5);
  EXPECT_EQ(wait_data_(&handle, nullptr, 0, buffer, 8), -5);
  EXPECT_EQ(wait_data_(&handle, &terminal, -1, buffer, 8), -5);
  EXPECT_EQ(wait_data_(&handle, &terminal, 0, buffer, -1), -5);
  for (std::int32_t bad_terminal : {-1, 256}) EXPECT_EQ(write_data_(bad_terminal, 0, "ORD", "x", 1), -5);
  EXPECT_EQ(write_data_(5, -1, "ORD", "x", 1), -5);
  EXPECT_EQ(write_data_(5, 0, nullptr, "x", 1), -5);
  EXPECT_EQ(write_data_(5, 0, "ORD", nullptr, 1), -5);
  EXPECT_EQ(idle_(0), 0);
  EXPECT_EQ(ack_(nullptr), -5);
}

TEST_F(PipeHostExports, WindowTransportOpensReadsAndAnswersAtOnce) {
  ASSERT_TRUE(platform::create_thread_queue());
  platform::WindowHandle window = platform::find_window(instance_);
  ASSERT_NE(window, platform::no_window);
  auto send_block = [&](const std::string& name, const std::string& text) {
    link::RequestBytes bytes;
    EXPECT_TRUE(link::encode_request_block({name, text}, bytes));
    return platform::send_data(window, platform::msg_copydata, platform::current_thread_id(), 0, bytes.data(),
                               static_cast<std::uint32_t>(bytes.size()));
  };
  // Everything the plug-in posted back to this thread, until a verdict.
  auto reply = [&](std::string* text) {
    platform::Message message;
    std::uint32_t start = platform::tick_ms();
    while (platform::tick_ms() - start < 5000) {
      if (!platform::peek_message(message, true)) {
        idle_(1);
        continue;
      }
      if (message.id == link::MSG_DATA_CHUNK && text) link::append_chunk(*text, {message.wparam, message.lparam});
      link::Verdict verdict;
      if (link::verdict_of_message(message.id, verdict)) return message.id;
    }
    return 0u;
  };

  EXPECT_EQ(send_block(instance_ + "_ORDERS", "openpipe"), 1u);
  EXPECT_EQ(reply(nullptr), link::MSG_REPLY_ACK);
  EXPECT_EQ(send_block(instance_ + "_NOSUCH", "OpenPipe"), 1u);
  EXPECT_EQ(reply(nullptr), link::MSG_REPLY_NAK);

  std::string text;
  EXPECT_EQ(send_block(instance_ + "_ORDERS", ""), 1u);
  EXPECT_EQ(reply(&text), link::MSG_REPLY_NAK) << "nothing pending";
  ASSERT_EQ(write_data_(5, 0, "ORD", "0123456789", 10), 10);
  EXPECT_EQ(send_block(instance_ + "_ORDERS", ""), 1u);
  EXPECT_EQ(reply(&text), link::MSG_REPLY_ACK);
  EXPECT_EQ(text, "5|ORD|0123456789");

  EXPECT_EQ(send_block("", "5|" + instance_ + "_ORDERS|NOSYN"), 1u);
  EXPECT_EQ(reply(nullptr), link::MSG_REPLY_ACK) << "a request without SYN is acknowledged at once";
  void* handle = nullptr;
  std::int32_t terminal = 0;
  EXPECT_EQ(next_request(&handle, &terminal), "ORDERS|NOSYN");
  EXPECT_EQ(ack_(&handle), 1);
}

}  // namespace

namespace {

TEST_F(PipeHostExports, EmptyTextsAndUntakenDataAreNoSuccess) {
  std::string reply;
  std::thread host([&] { reply = exchange(pipe(instance_), "\x16" "5|"); });
  void* handle = nullptr;
  std::int32_t terminal = 0;
  EXPECT_EQ(next_request(&handle, &terminal, 1500), "") << "nothing to hand over";
  EXPECT_EQ(handle, nullptr);
  host.join();
  EXPECT_EQ(reply, std::string("\x16\x15")) << "answered NAK at once, not left waiting";

  platform::WindowHandle window = platform::find_window(instance_);
  ASSERT_NE(window, platform::no_window);
  link::DataBytes block;
  ASSERT_TRUE(link::encode_data_block({5, "ORD", "X"}, block));
  EXPECT_EQ(platform::send_data(window, platform::msg_copydata, 0, 0, block.data(), 1092), 0u)
      << "the ORDERS pipe is not open: nothing took the data";
  ASSERT_TRUE(link::encode_data_block({5, "PER", "X"}, block));
  EXPECT_EQ(platform::send_data(window, platform::msg_copydata, 0, 0, block.data(), 1092), 1u);
}

}  // namespace

namespace {

TEST_F(PipeHostExports, ASecondProcessFindsTheInstanceTakenAndStaysInert) {
  platform::Process peer =
      platform::start_process(platform::quote_argument(test::helper_program("pipehost_peer")) + " " + instance_ +
                                  " peer.txt",
                              "");
  ASSERT_TRUE(peer.started());
  std::uint32_t code = 1;
  ASSERT_TRUE(peer.wait(20000, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(folder_.read("peer.txt"), "1 -11 -11 0")
      << "Pipe_Init 1, both polls -11, and the instance window is still this process's";
  EXPECT_NE(platform::find_window(instance_), platform::no_window);
}

// A pipe entry that starts a host program, which is asked to quit when the
// plug-in stops.
class PipeHostPrograms : public PipeHostExports {
 protected:
  void configure(const std::string& ini) override {
    ASSERT_TRUE(platform::write_profile_string(
        ini, "DISPATCHER", "Dispatch_009", "pipe|HOSTAPP|APP|000|N|1 " + test::helper_program("wait_quit") + "|ready.txt done.txt"));
  }
};

TEST_F(PipeHostPrograms, StartsConfiguredProgramsAndAsksThemToQuit) {
  std::uint32_t start = platform::tick_ms();
  while (!std::filesystem::exists(folder_.path() / "ready.txt") && platform::tick_ms() - start < 10000)
    platform::sleep_ms(20);
  ASSERT_TRUE(std::filesystem::exists(folder_.path() / "ready.txt")) << "the program did not start";
  EXPECT_EQ(tini_(), 0);
  tini_ = nullptr;  // stopped here already
  start = platform::tick_ms();
  while (!std::filesystem::exists(folder_.path() / "done.txt") && platform::tick_ms() - start < 10000)
    platform::sleep_ms(20);
  EXPECT_TRUE(std::filesystem::exists(folder_.path() / "done.txt")) << "the program was not asked to quit";
}

}  // namespace
